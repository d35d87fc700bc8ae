# pvx-mibdoc: the reference of every SNMP object pvx serves, written from the
# object tables. The collecting and writing is a library so that tests can
# feed it tables of their own.
add_library(pvx_mibdoc STATIC ${CMAKE_CURRENT_LIST_DIR}/mibdoc/MibReference.cpp)
target_link_libraries(pvx_mibdoc PUBLIC pvx_ups pvx_snmpber)
add_executable(pvx-mibdoc ${CMAKE_CURRENT_LIST_DIR}/mibdoc/main.cpp)
target_link_libraries(pvx-mibdoc PRIVATE pvx_mibdoc pvx_snmpagent)
set_target_properties(pvx-mibdoc PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Rewrites the committed reference in the source tree:
#   ninja -C build mib-reference
add_custom_target(mib-reference
  COMMAND pvx-mibdoc -o ${CMAKE_SOURCE_DIR}/docs/mib-reference.md
  COMMENT "Writing docs/mib-reference.md"
  VERBATIM)
