target_sources(vantry-cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/StudioOptions.cpp)
target_link_libraries(vantry-cli PRIVATE vantry_studio)
target_link_libraries(vantry-cli PRIVATE vantry_platform_files)
