# pvx-upssim: the simulated XCP UPS on a pseudo-terminal.
file(GLOB upssim_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/upssim/*.cpp)
list(FILTER upssim_sources EXCLUDE REGEX ".*/main\\.cpp$")
# The simulator's logic is a library too, so that tests can drive it directly.
add_library(pvx_upssim STATIC ${upssim_sources})
target_link_libraries(pvx_upssim PUBLIC pvx_xcplink pvx_platform)
add_executable(pvx-upssim ${CMAKE_SOURCE_DIR}/tools/upssim/main.cpp)
target_link_libraries(pvx-upssim PRIVATE pvx_upssim)
set_target_properties(pvx-upssim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
