# Writes the Debian changelog's entries in RPM's form, newest first as both keep them:
#   * Tue Dec 08 2026 Name <address> - VERSION-1
#   - the entry's first item
# Each item's continuation lines are kept, indented; the package release is 1 throughout.
function(powmeter_rpm_changelog debian_changelog output)
  file(STRINGS "${debian_changelog}" lines)
  set(rpm_entries "")
  set(items "")
  set(version "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
      set(version "${CMAKE_MATCH_1}")
      set(items "")
    elseif(line MATCHES "^  \\* (.*)$")
      string(APPEND items "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)$")
      string(APPEND items "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+)  ([A-Z][a-z][a-z]), ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9]+) ")
      # Debian's "Tue, 08 Dec 2026 00:00:00 +0000" is RPM's "Tue Dec 08 2026".
      string(APPEND rpm_entries "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} ${CMAKE_MATCH_5} "
             "${CMAKE_MATCH_1} - ${version}-1\n${items}\n")
    endif()
  endforeach()
  if(rpm_entries STREQUAL "")
    message(FATAL_ERROR "${debian_changelog}: no entry in Debian's form")
  endif()
  file(WRITE "${output}" "${rpm_entries}")
endfunction()
