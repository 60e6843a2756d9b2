find_package(Qt6 REQUIRED COMPONENTS Core Gui Quick Multimedia)
target_link_libraries(vantry-cli PRIVATE vantry_studio_app vantry_studio vantry_platform_segmentation Qt6::Multimedia)
