# vantry_add_subdirectories(<child> ...)
# Adds the named child folders of the current source folder, in the order given. A child
# folder with a CMakeLists.txt that the list leaves out stops the configuration, so a new
# folder cannot be skipped without notice.
function(vantry_add_subdirectories)
  foreach(child IN LISTS ARGN)
    add_subdirectory(${child})
  endforeach()
  file(GLOB present LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(file IN LISTS present)
    cmake_path(GET file PARENT_PATH child)
    if(NOT child IN_LIST ARGN)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${child} has a CMakeLists.txt but is not listed "
                          "in vantry_add_subdirectories()")
    endif()
  endforeach()
endfunction()

# A test command prefix that runs the test on an X display of its own (Xvfb, 1920x1080). For
# tests whose pictures or keyboard focus another test's window on a shared display could spoil:
# a window mapped over theirs, or one that takes the input focus.
# xvfb-run -a picks the first free display number, which two starting at once could both pick:
# such tests also take the resource lock VANTRY_OWN_DISPLAY_LOCK, so they start one at a time.
# -noreset: Xvfb would otherwise reset whenever its last client leaves, refusing a test that
# connects at that moment.
set(VANTRY_OWN_DISPLAY xvfb-run -a -s "-screen 0 1920x1080x24 -noreset")
set(VANTRY_OWN_DISPLAY_LOCK RESOURCE_LOCK own_x_display)

# vantry_add_gtest(NAME name SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [TIMEOUT s] [FILTER f])
# One GoogleTest executable; its cases are registered with CTest one by one (those FILTER, a
# --gtest_filter expression, lets through, when given).
# Two labels choose what the sanitizer builds of CI build and run (see vantry_add_test_aggregates):
#   asan  the test also runs under AddressSanitizer + UndefinedBehaviorSanitizer (target asan_tests)
#   tsan  the test also runs under ThreadSanitizer (target tsan_tests)
function(vantry_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;FILTER" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(filter)
  if(T_FILTER)
    set(filter TEST_FILTER "${T_FILTER}")
  endif()
  gtest_discover_tests(${T_NAME}
    ${filter}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  foreach(label IN ITEMS asan tsan)
    if(label IN_LIST T_LABELS)
      set_property(GLOBAL APPEND PROPERTY VANTRY_${label}_TESTS ${T_NAME})
    endif()
  endforeach()
endfunction()

# Defines asan_tests and tsan_tests: build the test executables labelled asan / tsan and
# nothing else, so a sanitizer tree builds only what it runs (ctest -L asan / -L tsan).
# Called once, after every test folder has been added.
function(vantry_add_test_aggregates)
  foreach(label IN ITEMS asan tsan)
    get_property(tests GLOBAL PROPERTY VANTRY_${label}_TESTS)
    add_custom_target(${label}_tests)
    if(tests)
      add_dependencies(${label}_tests ${tests})
    endif()
  endforeach()
endfunction()

# vantry_pure_library(target ...)
# Marks libraries that build with the standard library alone (no Qt, OpenCV, POSIX, GL or
# platform/ headers). The test pure_includes checks their sources and the headers beside them.
function(vantry_pure_library)
  set_property(GLOBAL APPEND PROPERTY VANTRY_PURE_LIBRARIES ${ARGN})
endfunction()

# Registers the pure_includes test over every library marked with vantry_pure_library.
function(vantry_add_pure_include_test)
  get_property(libraries GLOBAL PROPERTY VANTRY_PURE_LIBRARIES)
  set(files)
  foreach(library IN LISTS libraries)
    get_target_property(dir ${library} SOURCE_DIR)
    get_target_property(sources ${library} SOURCES)
    foreach(source IN LISTS sources)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir} OUTPUT_VARIABLE path)
      list(APPEND files ${path})
      cmake_path(REPLACE_EXTENSION path LAST_ONLY ".h" OUTPUT_VARIABLE header)
      if(EXISTS ${header})
        list(APPEND files ${header})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES files)
  add_test(NAME pure_includes
    COMMAND ${CMAKE_COMMAND} "-DFILES=${files}" -DROOT=${CMAKE_SOURCE_DIR}
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckPureIncludes.cmake)
  # The check itself must catch a forbidden include.
  add_test(NAME pure_includes_catches_a_qt_include
    COMMAND ${CMAKE_COMMAND} "-DFILES=${CMAKE_SOURCE_DIR}/tests/cmake/ImpureFixture.h"
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckPureIncludes.cmake)
  set_tests_properties(pure_includes_catches_a_qt_include PROPERTIES WILL_FAIL TRUE)
  add_test(NAME pure_includes_catches_a_platform_include
    COMMAND ${CMAKE_COMMAND} "-DFILES=${CMAKE_SOURCE_DIR}/tests/cmake/ImpurePlatformFixture.h"
            -DROOT=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/CheckPureIncludes.cmake)
  set_tests_properties(pure_includes_catches_a_platform_include PROPERTIES WILL_FAIL TRUE)
  # The layers: creator/ never includes the renderer, platform/ never includes creator/.
  add_test(NAME layering
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayering.cmake)
  add_test(NAME layering_catches_a_renderer_include
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR}/tests/cmake/layering
            -DFILES=creator/x/RendererLeak.h -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayering.cmake)
  set_tests_properties(layering_catches_a_renderer_include PROPERTIES WILL_FAIL TRUE)
endfunction()
