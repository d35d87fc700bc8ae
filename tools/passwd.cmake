add_executable(pvx-passwd ${CMAKE_CURRENT_LIST_DIR}/PasswordTool.cpp)
target_link_libraries(pvx-passwd PRIVATE pvx_config pvx_usm pvx_nutusers)
set_target_properties(pvx-passwd PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
