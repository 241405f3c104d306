# One documentation page for a tool: its usage as printed by -h.
execute_process(COMMAND ${TOOL} -h OUTPUT_VARIABLE usage ERROR_VARIABLE usage RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME} -h failed (${rc})")
endif()
string(MAKE_C_IDENTIFIER ${NAME} anchor)
file(WRITE ${OUT} "# ${NAME} {#tool_${anchor}}\n\nInstalled with the tools package (`man ${NAME}`).\n\n```\n${usage}```\n")
