# Writes the manual page of vantry-cli from the program's own help texts, so the page lists
# every sub-command the build holds, with each one's options as `--help` prints them.
# cmake -DCLI=path/to/vantry-cli -DVERSION=x.y.z -DOUT=vantry-cli.1 -P CliManPage.cmake

foreach(var CLI VERSION OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CliManPage.cmake: ${var} is not set")
  endif()
endforeach()

# Runs `vantry-cli ARGS...` and leaves its standard output in `result`.
function(cli_help result)
  execute_process(COMMAND ${CLI} ${ARGN}
    OUTPUT_VARIABLE text
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "CliManPage.cmake: '${CLI} ${ARGN}' exited with ${rc}")
  endif()
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

# Text as troff reads it literally: backslashes doubled into \e, a line that starts with a
# dot or an apostrophe guarded, minus signs kept as minus signs.
function(troff_escape result text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${result} "${text}" PARENT_SCOPE)
endfunction()

cli_help(overview --help)
string(REGEX MATCHALL "\n  [a-z0-9-]+ +[^\n]+" rows "${overview}")

set(page ".TH VANTRY\\-CLI 1 \"\" \"Vantry Pro ${VERSION}\" \"User Commands\"
.SH NAME
vantry\\-cli \\- the Vantry Pro studio and its feature library on the command line
.SH SYNOPSIS
.B vantry\\-cli
.I command
.RI [ options ]
.br
.B vantry\\-cli
.I command
.B \\-\\-help
.SH DESCRIPTION
.B vantry\\-cli
reaches the libraries of the studio window without a window: it renders stills and
broadcast clips offscreen (OpenGL through EGL; Mesa's software renderer will do),
records the screen, streams the studio live, runs the facecam's person segmentation and
the game features' self-tests, and prints what a problem report needs.
Each command checks its options the same way: a bad value is one line that states the
accepted range and ends with \"see 'vantry\\-cli <command> \\-\\-help'\".
.SH COMMANDS
")
foreach(row IN LISTS rows)
  string(REGEX MATCH "^\n  ([a-z0-9-]+) +(.*)$" _ "${row}")
  set(name "${CMAKE_MATCH_1}")
  set(summary "${CMAKE_MATCH_2}")
  cli_help(usage ${name} --help)
  string(STRIP "${usage}" usage)
  troff_escape(name_t "${name}")
  troff_escape(summary_t "${summary}")
  troff_escape(usage_t "${usage}")
  string(APPEND page ".SS ${name_t}\n${summary_t}.\n.PP\n.nf\n${usage_t}\n.fi\n")
endforeach()

string(APPEND page ".SH EXIT STATUS
.TP
.B 0
The command did what it was asked.
.TP
.B 1
It failed while running; standard error says why.
.TP
.B 2
An option or argument is malformed.
.SH ENVIRONMENT
.TP
.B VANTRY_MODEL_DIR
A folder holding the person-segmentation networks, instead of
.IR /usr/share/vantry\\-pro/models .
.TP
.B XDG_VIDEOS_DIR
The videos folder, where clips and recordings go by default.
.SH SEE ALSO
.BR vantry (1),
.BR vantry\\-gallery (1)
")

file(WRITE ${OUT} "${page}")
