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
On Linux the package also ships a stand-in ioreg that lists the battery
from the kernel's power-supply class, so that powmeter works on any Linux
laptop, tablet or board, and a stand-in pmset for the read-only forms
(-g batt, ps, ac, adapter, accps) that battery scripts read.")
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
