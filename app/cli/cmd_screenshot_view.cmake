target_link_libraries(vantry-cli PRIVATE vantry_gallery)
