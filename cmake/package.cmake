# The Debian package: cpack -G DEB gives powmeter_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME powmeter)
set(CPACK_PACKAGE_VENDOR "powmeter developers")
# Whoever builds the package for a distribution names themselves here.
set(POWMETER_PACKAGE_MAINTAINER "the powmeter authors <powmeter@example.org>" CACHE STRING
    "The Debian package's Maintainer field, as Name <address>")
set(CPACK_PACKAGE_CONTACT "${POWMETER_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print the battery's charge as a whole percentage")
set(CPACK_PACKAGE_DESCRIPTION "\
powmeter prints the charge of the device's battery as a whole percentage,
read from the I/O Registry listing of the ioreg tool. With -v it also prints
the current and maximum capacity behind it.
.
On Linux the package also ships stand-ins for the platform's ioreg, pmset
and system_profiler SPPowerDataType, which read the kernel's power-supply
class: powmeter uses its ioreg on any Linux laptop, tablet or board. They
live in /usr/lib/powmeter/bin, off PATH, so that scripts which look for
those commands to tell the platform from Linux are not misled; battery
scripts written for the platform run with that folder put on PATH.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Lintian's overrides, each with its reason, for the package alone: a staged install
# (DESTDIR), as cpack's, is one that makes a package, and a source install has no use for
# them.
install(CODE "set(powmeter_overrides \"${PROJECT_SOURCE_DIR}/packaging/lintian-overrides\")")
install(CODE [[
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/lintian/overrides" TYPE FILE
       RENAME powmeter FILES "${powmeter_overrides}")
endif()
]])
