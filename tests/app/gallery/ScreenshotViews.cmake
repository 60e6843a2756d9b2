# Runs `vantry-cli screenshot --view` for every gallery view and checks each picture:
# a PNG of the window's size. An unknown view is a usage error (exit 2).
# -DCLI=path/to/vantry-cli -DOUT=folder
file(MAKE_DIRECTORY ${OUT})
set(ENV{XDG_DATA_HOME} ${OUT}/data)
foreach(view coop-sheet maps-sheet voice-bar kill-toast)
  set(png ${OUT}/${view}.png)
  file(REMOVE ${png})
  execute_process(COMMAND ${CLI} screenshot --view ${view} --out ${png} --size 800x600
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "screenshot --view ${view} failed (${rc}): ${out}${err}")
  endif()
  if(NOT out MATCHES "Wrote .* \\(800x600, view ${view}\\)")
    message(FATAL_ERROR "unexpected report for ${view}: ${out}")
  endif()
  file(READ ${png} head LIMIT 8 HEX)
  if(NOT head STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${png} is not a PNG")
  endif()
endforeach()
execute_process(COMMAND ${CLI} screenshot --view lobby --out ${OUT}/x.png RESULT_VARIABLE rc
                OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "--view must be coop-sheet, maps-sheet, voice-bar or kill-toast")
  message(FATAL_ERROR "an unknown view gave ${rc}: ${err}")
endif()
