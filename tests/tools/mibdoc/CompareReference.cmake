# Runs the generator and fails when its output differs from the committed
# reference, showing the difference and how to bring the file up to date.
# Arguments: GENERATOR, REFERENCE, OUTPUT, BUILD_DIR.
execute_process(
  COMMAND ${GENERATOR} -o ${OUTPUT}
  RESULT_VARIABLE status
  ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pvx-mibdoc failed (${status}):\n${errors}")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E compare_files ${REFERENCE} ${OUTPUT}
  RESULT_VARIABLE differs)
if(differs)
  find_program(DIFF_PROGRAM diff)
  if(DIFF_PROGRAM)
    execute_process(
      COMMAND ${DIFF_PROGRAM} -u ${REFERENCE} ${OUTPUT}
      OUTPUT_VARIABLE difference)
    message("${difference}")
  endif()
  message(FATAL_ERROR
    "${REFERENCE} is not what the object tables give now (generated: ${OUTPUT}).\n"
    "Regenerate it with\n"
    "  cmake --build ${BUILD_DIR} --target mib-reference\n"
    "and commit it with the change to the tables.")
endif()
