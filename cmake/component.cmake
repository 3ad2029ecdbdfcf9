# Cadenza_Upgrade.dll: the subsystem libraries linked with the export list and the resources.
add_library(Cadenza_Upgrade SHARED
  ${CMAKE_SOURCE_DIR}/host/module.cpp
  ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.def
  ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc
  ${CMAKE_SOURCE_DIR}/res/component.rc)
set_target_properties(Cadenza_Upgrade PROPERTIES PREFIX "" OUTPUT_NAME Cadenza_Upgrade)
# The tips window's bitmaps; the registration scripts, type library and manifest.
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/res/bitmaps/tips_background.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_buttons.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_close.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_checkbox.bmp")
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/component.rc PROPERTIES OBJECT_DEPENDS
  "${COMPONENT_TLB};${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rgs;${CMAKE_SOURCE_DIR}/res/UpgradeHost.rgs;${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.manifest")
# windres finds the type library in the generated folder, the other files beside the scripts.
target_include_directories(Cadenza_Upgrade PRIVATE ${CMAKE_BINARY_DIR}/res/generated/res ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(Cadenza_Upgrade PRIVATE upgrade_host)
