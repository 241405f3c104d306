# `make docs`: the API reference from the header comments (Doxygen), with the
# README as its main page and one page per tool made from its -h output.
# Warnings fail the build.
find_program(DOXYGEN doxygen)
if(NOT DOXYGEN)
  return()
endif()

set(QB_DOCS_OUTPUT ${PROJECT_BINARY_DIR}/docs)
set(QB_DOCS_ENABLED "")
foreach(sw IN LISTS QB_COMPONENT_SWITCHES)
  if(${sw})
    string(APPEND QB_DOCS_ENABLED " ${sw}=1")
  endif()
endforeach()
get_property(disabled GLOBAL PROPERTY QB_DISABLED_HEADERS)
set(QB_DOCS_EXCLUDE "")
foreach(h IN LISTS disabled)
  string(APPEND QB_DOCS_EXCLUDE " */${h}")
endforeach()

set(pages "")
set(tool_refs "")
if(QB_BUILD_TOOLS)
  get_property(tools GLOBAL PROPERTY QB_TOOL_TARGETS)
  foreach(t IN LISTS tools)
    string(MAKE_C_IDENTIFIER ${t} anchor)
    list(APPEND tool_refs "@ref tool_${anchor} \"${t}\"")
    set(page ${QB_DOCS_OUTPUT}/pages/${t}.md)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:${t}> -DNAME=${t} -DOUT=${page}
              -P ${PROJECT_SOURCE_DIR}/cmake/tool_page.cmake
      DEPENDS ${t} ${PROJECT_SOURCE_DIR}/cmake/tool_page.cmake VERBATIM)
    list(APPEND pages ${page})
  endforeach()
endif()
list(JOIN pages " " QB_DOCS_PAGES)
# The families page links the tools this build makes (a switched-off family
# takes its tools along).
list(JOIN tool_refs ", " QB_DOCS_TOOL_REFS)
if(NOT QB_DOCS_TOOL_REFS)
  set(QB_DOCS_TOOL_REFS "none")
endif()
configure_file(${PROJECT_SOURCE_DIR}/docs/families.md ${QB_DOCS_OUTPUT}/pages/families.md @ONLY)
set(QB_DOCS_INPUT "${PROJECT_SOURCE_DIR}/include/quorbit ${PROJECT_BINARY_DIR}/generated/sdk_config.h ${PROJECT_SOURCE_DIR}/README.md ${QB_DOCS_OUTPUT}/pages/families.md ${QB_DOCS_PAGES}")
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
add_custom_target(docs
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QB_DOCS_OUTPUT}
  COMMAND ${DOXYGEN} ${PROJECT_BINARY_DIR}/Doxyfile
  DEPENDS ${pages}
  COMMENT "API reference in ${QB_DOCS_OUTPUT}/html/index.html"
  VERBATIM)

if(QB_BUILD_TESTS AND NOT QB_SANITIZE)
  add_test(NAME docs.reference_builds_without_warnings
    COMMAND ${CMAKE_COMMAND} --build ${PROJECT_BINARY_DIR} --target docs)
  set_tests_properties(docs.reference_builds_without_warnings PROPERTIES TIMEOUT 300)
endif()
