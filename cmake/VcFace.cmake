# Builds the Visual C++ face of OvrinComm (src/module/vc) for the MinGW link
# of Ovrin70.dll, and writes the .def file of everything the DLL exports.
# Run with cmake -P and: CLANG OBJCOPY NM TRIPLE SOURCES (;-list) OUT_DIR
# C_DEF (the C interface's .def) C_OBJECTS (the C interface's objects) DEF
# (the one to write). On x86 the C functions are __stdcall: the .def names
# each with the size of its arguments (ovrin_open@16), read from the objects,
# which the import library needs; the DLL exports them without it (--kill-at).
#
# clang compiles the face for Visual C++'s ABI, so every exported name is the
# one Visual C++ gives it. GNU ld then takes the objects with two changes:
# their linker directives (Visual C++'s /EXPORT and /DEFAULTLIB) go, since the
# .def says what is exported; and on x86, where ld looks for a C name with a
# leading underscore, every decorated name gets one, which ld takes off again
# when it exports it.
set(flags --target=${TRIPLE} -std=c++17 -fms-extensions -fno-exceptions -fno-rtti -fno-threadsafe-statics
          -fno-stack-protector -O2 -Wall -Wextra -Wglobal-constructors)
if(WARNINGS_AS_ERRORS)
  list(APPEND flags -Werror)
endif()
set(objects)
foreach(source ${SOURCES})
  get_filename_component(name ${source} NAME_WE)
  set(object ${OUT_DIR}/${name}.obj)
  execute_process(COMMAND ${CLANG} ${flags} -c ${source} -o ${object} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "clang could not compile ${source}")
  endif()
  list(APPEND objects ${object})
endforeach()

execute_process(COMMAND ${NM} --defined-only --extern-only --format=just-symbols ${objects}
                OUTPUT_VARIABLE defined)
string(REPLACE "\n" ";" defined "${defined}")
set(exports)
set(renames "")
foreach(symbol ${defined})
  if(NOT symbol MATCHES "^\\?")
    continue()
  endif()
  string(APPEND renames "${symbol} _${symbol}\n")
  # The class's members and DescError; not the compiler's own vtable and
  # deleting destructor, which the face replaces.
  if(symbol MATCHES "OvrinComm@@|^\\?DescError@@" AND NOT symbol MATCHES "^\\?\\?_[7G]")
    list(APPEND exports ${symbol})
  endif()
endforeach()
list(SORT exports)
file(WRITE ${OUT_DIR}/renames.txt "${renames}")
foreach(object ${objects})
  set(edit --remove-section=.drectve)
  if(TRIPLE MATCHES "^i686")
    list(APPEND edit --redefine-syms=${OUT_DIR}/renames.txt)
  endif()
  execute_process(COMMAND ${OBJCOPY} ${edit} ${object} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "llvm-objcopy could not adapt ${object}")
  endif()
endforeach()

file(READ ${C_DEF} def)
if(TRIPLE MATCHES "^i686")
  execute_process(COMMAND ${NM} --defined-only --extern-only --format=just-symbols ${C_OBJECTS}
                  OUTPUT_VARIABLE c_symbols)
  string(REGEX MATCHALL "_ovrin_[a-z_]+@[0-9]+" stdcall "${c_symbols}")
  foreach(symbol ${stdcall})
    string(REGEX REPLACE "^_(ovrin_[a-z_]+)@.*" "\\1" name ${symbol})
    string(SUBSTRING ${symbol} 1 -1 decorated)
    string(REGEX REPLACE "  ${name}\n" "  ${decorated}\n" def "${def}")
  endforeach()
endif()
foreach(symbol ${exports})
  string(APPEND def "  ${symbol}\n")
endforeach()
file(WRITE ${DEF} "${def}")
