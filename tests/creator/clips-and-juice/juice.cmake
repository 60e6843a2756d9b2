find_package(Qt6 REQUIRED COMPONENTS Core Test)
vantry_add_gtest(NAME creator_juice_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/JuiceKernelTest.cpp ${CMAKE_CURRENT_LIST_DIR}/JuiceControllerTest.cpp
  LIBS vantry_creator_juice_controller Qt6::Test)
