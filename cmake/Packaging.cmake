# Install layout and the Debian package.
#
# The layout is Debian's (cmake/Layout.cmake holds the folders pvx -s uses):
# pvx in PVX_SBIN_DIR (the unit starts it there) and the tools in bin below
# the prefix (/usr/local, or /usr in the package), pvx.ini and DummyUPS.ini in PVX_CONFIG_DIR, the message
# catalog in PVX_DATA_DIR, the manual pages compressed, the documents, the
# copyright file and the changelog in the documentation folder, and the
# systemd unit. The state and run folders are made by the package's scripts
# and by systemd, not installed.
include(GNUInstallDirs)

set(PVX_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the systemd unit, relative to the install prefix (systemd searches it for /usr and /usr/local)")

install(TARGETS pvx RUNTIME DESTINATION ${PVX_SBIN_DIR})
install(FILES ${CMAKE_BINARY_DIR}/messages DESTINATION ${PVX_DATA_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/pvx.ini ${CMAKE_SOURCE_DIR}/packaging/DummyUPS.ini
        DESTINATION ${PVX_CONFIG_DIR})

install(TARGETS pvx-upssim pvx-passwd pvx-msgc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${CMAKE_SOURCE_DIR}/packaging/pvx.service.in ${CMAKE_BINARY_DIR}/pvx.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/pvx.service DESTINATION ${PVX_SYSTEMD_UNIT_DIR})
# Lets the user pvx power the host off through logind, and nothing else
# (Shutdown/Command=/usr/bin/systemctl poweroff).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/polkit/50-pvx-poweroff.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/rules.d)

# Manual pages by their section suffix, docs/<name>.<1, 5 or 8>, compressed
# as Debian keeps them (gzip -9n: no name or time stamp, so builds repeat).
file(GLOB pvx_manual_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.1 ${CMAKE_SOURCE_DIR}/docs/*.5
     ${CMAKE_SOURCE_DIR}/docs/*.8)
set(pvx_compressed)
function(pvx_gzip source target)
  add_custom_command(OUTPUT ${target} COMMAND gzip -9nc ${source} > ${target} DEPENDS ${source}
                     COMMENT "Compressing ${source}")
endfunction()
foreach(page ${pvx_manual_pages})
  get_filename_component(name ${page} NAME)
  string(REGEX MATCH "[158]$" section "${name}")
  pvx_gzip(${page} ${CMAKE_BINARY_DIR}/man/${name}.gz)
  list(APPEND pvx_compressed ${CMAKE_BINARY_DIR}/man/${name}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
pvx_gzip(${CMAKE_SOURCE_DIR}/packaging/debian/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
list(APPEND pvx_compressed ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man ${CMAKE_BINARY_DIR}/packaging)
add_custom_target(pvx_compressed_documents ALL DEPENDS ${pvx_compressed})

file(GLOB pvx_documents CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${pvx_documents} ${CMAKE_SOURCE_DIR}/packaging/debian/copyright
              ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The samples the manual pages' examples start from; readable by everyone,
# unlike the installed pvx.ini.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/upssim.conf ${CMAKE_SOURCE_DIR}/packaging/pvx.ini
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Debian package: cpack -G DEB in the build folder. Upstream 1.1.3, the
# package's first revision of Debian's layout (the /opt/pvx package was 1.1.3).
set(PVX_PACKAGE_CONTACT "pvx maintainers <maintainers@pvx.invalid>" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pvx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "${PVX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "UPS on a serial port served over SNMP, an XCP relay and HTTP")
# One string, joined without separators: set() with several would join them
# with ";", and the text has its own semicolons.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "pvx identifies a UPS on a serial port with the XCP protocol, polls it about\n"
  "once a second and serves its state: over SNMP (v1; v2c and v3 with\n"
  "authentication and privacy when configured), answering the UPS-MIB of\n"
  "RFC 1628 and a vendor subtree and sending traps; as a UDP relay of raw XCP\n"
  "frames; and over HTTP as a status page, JSON and Prometheus metrics.\n"
  "The package runs it as the system user pvx under a hardened systemd unit\n"
  "(not enabled) with readiness, watchdog and reload, and holds a simulated\n"
  "XCP UPS and the tool that stores passwords and SNMPv3 keys.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named as well as found by shlibdeps, so the dependencies hold even where
# shlibdeps is off: libcrypto (SNMPv3 keys, digests and privacy) is in
# libssl3 on Debian 12, the HTTP server's library and libsystemd0 for the
# notifications; adduser makes the account.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3, libmicrohttpd12, libsystemd0, adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS snmp)

# apt keeps an administrator's changes to these files across upgrades.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${PVX_CONFIG_DIR}/pvx.ini\n${PVX_CONFIG_DIR}/DummyUPS.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/debian/preinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
