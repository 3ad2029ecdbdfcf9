# Cadenza_Upgrade.dll: the subsystem libraries linked with the export list and the resources.
set(component_sources
  ${CMAKE_SOURCE_DIR}/host/dll_main.cpp
  ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.def
  ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/res/bitmaps/tips_background.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_buttons.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_close.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_checkbox.bmp")
add_library(Cadenza_Upgrade SHARED ${component_sources})
set_target_properties(Cadenza_Upgrade PROPERTIES PREFIX "" OUTPUT_NAME Cadenza_Upgrade)
target_link_libraries(Cadenza_Upgrade PRIVATE host store)
