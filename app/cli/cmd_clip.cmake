find_package(Qt6 REQUIRED COMPONENTS Gui)
target_link_libraries(vantry-cli PRIVATE vantry_creator_clips_and_juice Qt6::Gui)
