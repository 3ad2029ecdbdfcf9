# Cadenza_Upgrade.dll: the subsystem libraries linked with the export list and the resources.
set(component_sources
  ${CMAKE_SOURCE_DIR}/host/dll_main.cpp
  ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.def)
add_library(Cadenza_Upgrade SHARED ${component_sources})
set_target_properties(Cadenza_Upgrade PROPERTIES PREFIX "" OUTPUT_NAME Cadenza_Upgrade)
target_link_libraries(Cadenza_Upgrade PRIVATE host store)
