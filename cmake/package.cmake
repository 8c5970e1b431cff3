# The Debian package, cpack -G DEB: powmeter_<version>_<arch>.deb; and the RPM, cpack -G RPM:
# powmeter-<version>-1.<arch>.rpm, with the same files but for lintian's overrides.
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

# RPM's conventions where they differ from Debian's: a capitalised summary, and a description
# whose paragraphs are parted by an empty line rather than by " .".
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE ISC)
set(CPACK_RPM_PACKAGE_SUMMARY "Print the battery's charge as a whole percentage")
string(REPLACE "\n.\n" "\n\n" CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# The distribution owns the manual pages' folders; the package only its own below them.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1)
# rpmbuild would add /usr/lib/.build-id links, which a Fedora system puts in a -debuginfo
# package of their own; without them the package holds the .deb's files and no others. The
# Packager field names who built it, as the .deb's Maintainer does. Given SOURCE_DATE_EPOCH,
# the build time and host are fixed, so that one commit gives one package.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none
%define packager ${POWMETER_PACKAGE_MAINTAINER}
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible")
# Without a changelog CPack would write one dated 2010 in a stranger's name: the package's
# own, in RPM's form.
include(${CMAKE_CURRENT_LIST_DIR}/rpm_changelog.cmake)
powmeter_rpm_changelog(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/rpm-changelog)
set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_BINARY_DIR}/rpm-changelog)

# Lintian's overrides, each with its reason, belong to the Debian package alone: added to its
# staged files just before cpack packs them, so that no install rule, a packager's DESTDIR
# install included, puts them anywhere else.
set(CPACK_POWMETER_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_overrides.cmake)
include(CPack)
