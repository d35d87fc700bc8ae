# pvx-snmpload: the SNMP load generator of scripts/bench-snmp.sh; built, not installed.
add_library(pvx_snmpload STATIC ${CMAKE_SOURCE_DIR}/tools/snmpload/LoadCodec.cpp)
target_link_libraries(pvx_snmpload PUBLIC pvx_snmpber pvx_bytes)
add_executable(pvx-snmpload ${CMAKE_SOURCE_DIR}/tools/snmpload/main.cpp)
target_link_libraries(pvx-snmpload PRIVATE pvx_snmpload pvx_platform)
set_target_properties(pvx-snmpload PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
