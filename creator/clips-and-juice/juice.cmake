# Game-feel juice: the pure kernel (vantry_creator_juice) and its observable controller
# (vantry_creator_juice_controller).
add_library(vantry_creator_juice STATIC ${CMAKE_CURRENT_LIST_DIR}/JuiceKernel.cpp)
target_include_directories(vantry_creator_juice PUBLIC ${CMAKE_SOURCE_DIR})

find_package(Qt6 REQUIRED COMPONENTS Core)
add_library(vantry_creator_juice_controller STATIC ${CMAKE_CURRENT_LIST_DIR}/JuiceController.cpp
                                                   ${CMAKE_CURRENT_LIST_DIR}/JuiceController.h)
set_target_properties(vantry_creator_juice_controller PROPERTIES AUTOMOC ON)
target_link_libraries(vantry_creator_juice_controller PUBLIC vantry_creator_juice Qt6::Core)

# Under a family library (vantry_creator_clips_and_juice) the kernel comes along with it.
if(TARGET vantry_creator_clips_and_juice)
  target_link_libraries(vantry_creator_clips_and_juice PUBLIC vantry_creator_juice)
endif()
