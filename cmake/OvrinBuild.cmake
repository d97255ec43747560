# How every target of the project is built.
#
# ovrin_build(TARGET [C89]) gives TARGET the project's warnings (as errors
# with OVRIN_WARNINGS_AS_ERRORS, which the test command and CI turn on: a
# newer compiler's new warning does not stop someone who only builds) and,
# for a Windows program or DLL, the compiler's runtime linked in, so that it
# needs system DLLs only. C89: a C target held to C89 (the C interface's
# promise to its hosts).
option(OVRIN_WARNINGS_AS_ERRORS "Treat the project's warnings as errors" OFF)

function(ovrin_build target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "C89" "" "")
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${OVRIN_WARNINGS_AS_ERRORS}>:-Werror>
                         $<$<COMPILE_LANGUAGE:CXX>:-Wpedantic -Wshadow -Wnon-virtual-dtor>)
  if(ARG_C89)
    set_target_properties(${target} PROPERTIES C_STANDARD 90 C_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE -pedantic)
  endif()
  get_target_property(type ${target} TYPE)
  if(WIN32 AND type MATCHES "^(EXECUTABLE|SHARED_LIBRARY)$")
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static)
  endif()
endfunction()
