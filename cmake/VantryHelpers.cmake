# Adds every direct child folder of the current source folder that has a CMakeLists.txt.
function(vantry_add_child_dirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# vantry_add_gtest(NAME name SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [TIMEOUT s])
# One GoogleTest executable; its cases are registered with CTest one by one.
# Two labels choose what the sanitizer builds of CI build and run (see vantry_add_test_aggregates):
#   asan  the test also runs under AddressSanitizer + UndefinedBehaviorSanitizer (target asan_tests)
#   tsan  the test also runs under ThreadSanitizer (target tsan_tests)
function(vantry_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${T_NAME}
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
