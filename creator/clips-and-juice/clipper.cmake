# The 9:16 highlight clip exporter: software drawing with QPainter, H.264 through the video writer.
find_package(Qt6 REQUIRED COMPONENTS Core Gui)
target_sources(vantry_creator_clips_and_juice PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ViralClipLayout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OruViralClipReceiptV1030.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OruViralAutoClipper9x16V1030.cpp)
target_link_libraries(vantry_creator_clips_and_juice
  PUBLIC Qt6::Core Qt6::Gui
  PRIVATE vantry_platform_video vantry_platform_fonts vantry_platform_json vantry_platform_files)
