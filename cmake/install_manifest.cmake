# A source install records what it put under its prefix in
# <prefix>/share/powmeter/install_manifest.txt, so that tools/uninstall can take back just
# that: the files, then the folders the install created, deepest first, each relative to the
# prefix, a folder with a trailing /. CMake's install_manifest.txt in the build tree cannot
# serve: cpack rewrites it with the package's files.
#
# A staged install (DESTDIR, as cpack's and every packager's) records nothing: the package
# manager keeps its list, and the manifest must not end up in the package.
#
# Include this from the top directory before its first install rule; it adds its last rule
# at the end of that directory, after every other.

set(POWMETER_INSTALL_MANIFEST ${CMAKE_INSTALL_DATADIR}/powmeter/install_manifest.txt)

# The folders that the install rules write into, and their parents up to the prefix itself,
# ./: those of them missing when an install starts are the ones it creates, with everything
# below them.
set(folders ./)
foreach(folder ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1 ${CMAKE_INSTALL_DOCDIR}
               ${CMAKE_INSTALL_DATADIR}/powmeter ${POWMETER_STAND_IN_DIR})
  while(NOT folder STREQUAL "" AND NOT IS_ABSOLUTE "${folder}")
    list(APPEND folders "${folder}/")
    cmake_path(GET folder PARENT_PATH folder)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)

install(CODE "set(powmeter_manifest_name \"${POWMETER_INSTALL_MANIFEST}\")
set(powmeter_folders \"${folders}\")
set(powmeter_build_tree \"${CMAKE_BINARY_DIR}\")")
install(CODE [[
# The prefix may be given relative to the working folder, as the installed paths then are.
get_filename_component(powmeter_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
set(powmeter_manifest "${powmeter_prefix}/${powmeter_manifest_name}")
set(powmeter_files)
set(powmeter_created)
if("$ENV{DESTDIR}" STREQUAL "")
  # Installed again: what the earlier install put there stays recorded, though its folders
  # exist by now.
  if(EXISTS "${powmeter_manifest}")
    file(STRINGS "${powmeter_manifest}" entries)
    foreach(entry IN LISTS entries)
      if(entry MATCHES "/$")
        list(APPEND powmeter_created "${entry}")
      else()
        list(APPEND powmeter_files "${entry}")
      endif()
    endforeach()
  endif()
  foreach(folder IN LISTS powmeter_folders)
    if(NOT IS_DIRECTORY "${powmeter_prefix}/${folder}")
      list(APPEND powmeter_created "${folder}")
    endif()
  endforeach()
endif()
]])

# The way back goes with the install, for when the checkout is gone: tools/uninstall, beside
# the manifest, which lists it; installed only now, once the folders that the install
# creates are known. A staged install's package manager has its own way back.
install(CODE "set(powmeter_uninstall_source \"${PROJECT_SOURCE_DIR}/tools/uninstall\")
set(powmeter_uninstall_folder \"${CMAKE_INSTALL_DATADIR}/powmeter\")")
install(CODE [[
if("$ENV{DESTDIR}" STREQUAL "")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${powmeter_uninstall_folder}" TYPE PROGRAM
       FILES "${powmeter_uninstall_source}")
endif()
]])

function(powmeter_install_manifest_write)
  install(CODE [[
if("$ENV{DESTDIR}" STREQUAL "")
  foreach(path IN LISTS CMAKE_INSTALL_MANIFEST_FILES ITEMS "${powmeter_manifest}")
    get_filename_component(path "${path}" ABSOLUTE)
    file(RELATIVE_PATH file "${powmeter_prefix}" "${path}")
    list(APPEND powmeter_files "${file}")
    # Below a folder that the install created, every folder is one it created.
    set(below)
    set(folder "${file}")
    while(NOT folder STREQUAL ".")
      cmake_path(GET folder PARENT_PATH folder)
      if(folder STREQUAL "")
        set(folder .)
      endif()
      list(APPEND below "${folder}/")
      list(FIND powmeter_created "${folder}/" created)
      if(created GREATER -1)
        list(APPEND powmeter_created ${below})
        break()
      endif()
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES powmeter_files)
  list(REMOVE_DUPLICATES powmeter_created)
  # A folder's name begins its contents' names, and ./ comes before every other, so the
  # reverse order puts each folder after its contents.
  list(SORT powmeter_created)
  list(REVERSE powmeter_created)
  list(APPEND powmeter_files ${powmeter_created})
  list(JOIN powmeter_files "\n" entries)
  file(WRITE "${powmeter_manifest}" "${entries}\n")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${powmeter_manifest}")
endif()

# CMake writes its own install_manifest.txt into the build tree after this, rewriting the
# file in place when there is one. Created by `sudo cmake --install`, it would be root's,
# and the tree's owner could neither cpack nor install from the tree again; so an install
# run as root gives the file to the tree's owner first (and mends one an earlier root
# install left).
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0")
  set(name install_manifest.txt)
  if(CMAKE_INSTALL_COMPONENT)
    set(name install_manifest_${CMAKE_INSTALL_COMPONENT}.txt)
  endif()
  execute_process(COMMAND ls -nd "${powmeter_build_tree}" OUTPUT_VARIABLE owner)
  if(owner MATCHES "^[^ ]+ +[0-9]+ +([0-9]+) +([0-9]+) ")
    file(TOUCH "${powmeter_build_tree}/${name}")
    execute_process(COMMAND chown "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}" "${powmeter_build_tree}/${name}"
      RESULT_VARIABLE failed)
    if(failed)
      message(WARNING "${powmeter_build_tree}/${name} stays root's: remove it with sudo rm")
    endif()
  endif()
endif()
]])
endfunction()
cmake_language(DEFER CALL powmeter_install_manifest_write)
