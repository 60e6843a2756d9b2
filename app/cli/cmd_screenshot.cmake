find_package(Qt6 REQUIRED COMPONENTS Core Gui Qml Quick OpenGL)
target_link_libraries(vantry-cli PRIVATE vantry_studio_app vantry_studio)
