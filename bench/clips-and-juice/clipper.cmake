find_package(benchmark REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(bench_clipper ${CMAKE_CURRENT_LIST_DIR}/ClipperBench.cpp)
target_link_libraries(bench_clipper PRIVATE vantry_creator_clips_and_juice vantry_platform_video Qt6::Gui
                      benchmark::benchmark)
