# Runs the studio application where Qt has no OpenGL (the "minimal" platform) and
# expects it to stop with the GPU message on standard error and a failure status.
execute_process(COMMAND ${VANTRY}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(rc EQUAL 0)
  message(FATAL_ERROR "vantry exited with 0 without OpenGL")
endif()
if(NOT err MATCHES "(^|\n)OpenGL 3\\.3 GPU required\\.\n")
  message(FATAL_ERROR "missing the GPU message; stderr was:\n${err}")
endif()
if(out MATCHES "OpenGL 3\\.3 GPU required")
  message(FATAL_ERROR "the GPU message went to standard output")
endif()
