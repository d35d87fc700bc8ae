# Where an installed pvx keeps its files when started with -s (the layout of
# the Debian package). Absolute paths, compiled into pvx; without -s pvx
# keeps its files beside itself and none of these is used.
set(PVX_SBIN_DIR "/usr/sbin" CACHE PATH "Folder of the pvx executable, where the systemd unit starts it")
set(PVX_CONFIG_DIR "/etc/pvx" CACHE PATH "Folder of pvx.ini and DummyUPS.ini (pvx -s)")
set(PVX_DATA_DIR "/usr/share/pvx" CACHE PATH "Folder of the message catalog (pvx -s)")
set(PVX_STATE_DIR "/var/lib/pvx" CACHE PATH "Folder of the state pvx keeps, such as pvx-engine.state (pvx -s)")
set(PVX_RUN_DIR "/run/pvx" CACHE PATH "Folder of the status file (pvx -s)")
foreach(folder PVX_SBIN_DIR PVX_CONFIG_DIR PVX_DATA_DIR PVX_STATE_DIR PVX_RUN_DIR)
  if(NOT IS_ABSOLUTE "${${folder}}")
    message(FATAL_ERROR "${folder} must be an absolute path, not \"${${folder}}\"")
  endif()
endforeach()
