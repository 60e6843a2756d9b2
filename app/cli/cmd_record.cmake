target_link_libraries(vantry-cli PRIVATE vantry_platform_screen_recorder vantry_creator_studio_controller
                                         vantry_creator_clips_and_juice)
