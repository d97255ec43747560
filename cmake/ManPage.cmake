# Writes a manual page from a program's own --help (and each subcommand's),
# so that the page and the program never disagree.
# cmake -DPROGRAM=path -DNAME=ovrin -DVERSION=0.1.0 -DOUTPUT=ovrin.1 -P ManPage.cmake

function(help_of out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed: ${result}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text as it stands in roff: backslashes escaped, no line read as a request.
function(verbatim out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

help_of(help)
string(REGEX MATCH "^[^\n]*" summary "${help}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")
string(TOUPPER "${NAME}" title)
verbatim(body "${help}")
set(page ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n.SH NAME\n${NAME} \\- ${summary}\n")
string(APPEND page ".SH DESCRIPTION\n${body}")

# Subcommands are listed under "Subcommands:" as "  name   what it does".
string(REGEX MATCH "Subcommands:\n(  [a-z][^\n]*\n)+" listed "${help}")
string(REGEX MATCHALL "\n  [a-z][a-z-]*" commands "${listed}")
if(commands)
  string(APPEND page ".SH COMMANDS\n")
endif()
foreach(command ${commands})
  string(STRIP "${command}" command)
  help_of(command_help ${command})
  verbatim(command_body "${command_help}")
  string(APPEND page ".SS ${NAME} ${command}\n${command_body}")
endforeach()
file(WRITE ${OUTPUT} "${page}")
