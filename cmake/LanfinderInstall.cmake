# The Debian package: what `cpack -G DEB` in a build tree makes of the install rules.
# Packaging belongs to the top-level project only.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

set(LANFINDER_PACKAGE_MAINTAINER "${LANFINDER_COMPANY}" CACHE STRING
    "Maintainer field of the Debian package (\"Name <address>\")")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lanfinder)
set(CPACK_PACKAGE_VENDOR "${LANFINDER_COMPANY}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${LANFINDER_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Lanfinder lists the Quillory 5 servers on the local network: one discovery request, thirty seconds of answers and announcements, each server by name, address and port. The aloha command-line tool speaks the same discovery protocol.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY lanfinder)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LANFINDER_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from the binaries themselves (needs dpkg-shlibdeps,
# package dpkg-dev). The mail assistant is started at run time, where
# dpkg-shlibdeps can't see it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
