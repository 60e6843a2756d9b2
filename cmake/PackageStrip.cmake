# Run by CPack on its staging tree before it makes the package: strips the programs the way
# Debian's dh_strip does (symbols not needed to run, and the .comment and .note sections).
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
  message(FATAL_ERROR "PackageStrip.cmake: no programs under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND strip --strip-unneeded --remove-section=.comment --remove-section=.note ${program}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "PackageStrip.cmake: strip ${program} failed (${rc})")
  endif()
endforeach()
