# Install layout and the Debian package.
#
# pvx finds pvx.ini and its message catalog beside itself when it is started
# by path, so the daemon, the catalog and the sample configuration files share
# one folder, PVX_HOME. The tools, the manual pages, the documents and the
# systemd unit go below the usual prefix (/usr/local, or /usr in the package).
include(GNUInstallDirs)

set(PVX_HOME "/opt/pvx" CACHE PATH "Folder that holds pvx, its message catalog and its configuration files")
if(NOT IS_ABSOLUTE "${PVX_HOME}")
  message(FATAL_ERROR "PVX_HOME must be an absolute path, not \"${PVX_HOME}\"")
endif()
set(PVX_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the systemd unit, relative to the install prefix (systemd searches it for /usr and /usr/local)")

install(TARGETS pvx RUNTIME DESTINATION ${PVX_HOME})
install(FILES ${CMAKE_BINARY_DIR}/messages DESTINATION ${PVX_HOME})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pvx.ini ${CMAKE_SOURCE_DIR}/packaging/DummyUPS.ini DESTINATION ${PVX_HOME})

install(TARGETS pvx-upssim pvx-passwd pvx-msgc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${CMAKE_SOURCE_DIR}/packaging/pvx.service.in ${CMAKE_BINARY_DIR}/pvx.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/pvx.service DESTINATION ${PVX_SYSTEMD_UNIT_DIR})

# Manual pages by their section suffix: docs/<name>.<1, 5 or 8>.
file(GLOB pvx_manual_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.1 ${CMAKE_SOURCE_DIR}/docs/*.5
     ${CMAKE_SOURCE_DIR}/docs/*.8)
foreach(page ${pvx_manual_pages})
  string(REGEX MATCH "[158]$" section "${page}")
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

file(GLOB pvx_documents CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${pvx_documents} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/upssim.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Debian package: cpack -G DEB in the build folder.
set(PVX_PACKAGE_CONTACT "pvx maintainers <maintainers@pvx.invalid>" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pvx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PVX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "UPS on a serial port served over SNMPv1, a UDP XCP relay and HTTP")
set(CPACK_PACKAGE_DESCRIPTION
    "pvx identifies a UPS on a serial port with the XCP protocol, polls it and\n"
    "serves its state over SNMPv1 (the UPS-MIB and a vendor subtree, with traps)\n"
    "and relays raw XCP frames over UDP; optionally it shows a status page and\n"
    "Prometheus metrics over HTTP. The package holds the daemon and its\n"
    "files in ${PVX_HOME}, a systemd unit (not enabled), a simulated XCP UPS\n"
    "and the relay password tool.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named as well as found by shlibdeps, so the dependencies hold even where
# shlibdeps is off: libcrypto (SNMPv3 keys, digests and privacy) is in
# libssl3 on Debian 12, and the HTTP server's library.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3, libmicrohttpd12")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS snmp)

# apt keeps an administrator's changes to these files across upgrades.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${PVX_HOME}/pvx.ini\n${PVX_HOME}/DummyUPS.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
