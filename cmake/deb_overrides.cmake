# Run by cpack after it has staged a package's files (CPACK_PRE_BUILD_SCRIPTS): puts lintian's
# overrides into the Debian package's staged tree, and into no other package's. file(COPY),
# as file(INSTALL) would put the staged tree's path below DESTDIR a second time.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(folder "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/lintian/overrides")
  file(COPY "${CPACK_POWMETER_LINTIAN_OVERRIDES}" DESTINATION "${folder}"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  get_filename_component(name "${CPACK_POWMETER_LINTIAN_OVERRIDES}" NAME)
  file(RENAME "${folder}/${name}" "${folder}/powmeter")
endif()
