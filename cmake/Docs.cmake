# The API reference: Doxygen over the public headers, as HTML in BUILD/docs/html
# (the `docs` target, part of every build when Doxygen is installed), which
# the packages carry. With OVRIN_WARNINGS_AS_ERRORS a public name left
# undocumented fails the build.
find_program(OVRIN_DOXYGEN doxygen)
if(NOT OVRIN_DOXYGEN)
  return()
endif()
set(OVRIN_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
if(OVRIN_WARNINGS_AS_ERRORS)
  set(OVRIN_DOCS_WARN_AS_ERROR FAIL_ON_WARNINGS)
else()
  set(OVRIN_DOCS_WARN_AS_ERROR NO)
endif()
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${OVRIN_DOCS_DIR}/Doxyfile @ONLY)
file(GLOB OVRIN_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/*.h)
add_custom_command(OUTPUT ${OVRIN_DOCS_DIR}/html/index.html
  COMMAND ${OVRIN_DOXYGEN} ${OVRIN_DOCS_DIR}/Doxyfile
  DEPENDS ${OVRIN_DOCS_DIR}/Doxyfile ${OVRIN_PUBLIC_HEADERS} ${PROJECT_SOURCE_DIR}/docs/host-guide.md
  COMMENT "The API reference (Doxygen)" VERBATIM)
add_custom_target(docs ALL DEPENDS ${OVRIN_DOCS_DIR}/html/index.html)
