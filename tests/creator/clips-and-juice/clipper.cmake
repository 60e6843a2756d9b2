# The 9:16 clip exporter's tests.
find_package(Qt6 REQUIRED COMPONENTS Gui)
vantry_add_gtest(NAME creator_clipper_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ClipperTestMain.cpp ${CMAKE_CURRENT_LIST_DIR}/ViralClipLayoutTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ViralClipReceiptTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ViralClipExportTest.cpp
  LIBS vantry_creator_clips_and_juice vantry_platform_video Qt6::Gui
  TIMEOUT 240)
