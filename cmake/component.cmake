# Cadenza_Upgrade.dll: the subsystem libraries linked with the export list and the resources.

# The component's version: its VERSIONINFO (file and product version) and the release package's
# version (scripts/package reads it back from the built DLL). Set here only.
set(CADENZA_COMPONENT_VERSION 1.0.0.1)
string(REPLACE "." "," CADENZA_COMPONENT_VERSION_COMMAS ${CADENZA_COMPONENT_VERSION})
configure_file(${CMAKE_SOURCE_DIR}/res/component_version.h.in
               ${CMAKE_BINARY_DIR}/res/generated/res/component_version.h @ONLY)

# The component DLL, and test builds of it (a different name, extra sources).
function(cadenza_component target)
  add_library(${target} SHARED
    ${CMAKE_SOURCE_DIR}/host/module.cpp
    ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.def
    ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc
    ${CMAKE_SOURCE_DIR}/res/component.rc
    ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  # windres finds the type library and the manifest in the generated folder, the other files
  # beside the scripts.
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/res/generated/res ${CMAKE_SOURCE_DIR}/res)
  target_link_libraries(${target} PRIVATE upgrade_host)
  cadenza_host_library(${target})
  # On 32-bit x86 the entry points are __stdcall and their symbols decorated (_DllGetClassObject@12);
  # the export list names them undecorated, which the linker matches without a warning only with
  # the stdcall fixup. The exports stay undecorated at ordinals 1 to 4.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

# The tips window's bitmaps; the registration scripts, type library and manifest.
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/res/bitmaps/tips_background.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_buttons.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_close.bmp;${CMAKE_SOURCE_DIR}/res/bitmaps/tips_checkbox.bmp")
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/component.rc PROPERTIES OBJECT_DEPENDS
  "${COMPONENT_TLB};${CMAKE_BINARY_DIR}/res/generated/res/component_version.h;${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rgs;${CMAKE_SOURCE_DIR}/res/UpgradeHost.rgs;${COMPONENT_MANIFEST}")

cadenza_component(Cadenza_Upgrade)

# A test build of the component whose allocations can be made to fail (bench/allocation_fault.cpp
# over tests/common/failing_new.cpp):
# the load-cycle benchmark throws and catches an exception inside it in every cycle.
cadenza_component(Cadenza_Upgrade_faults ${CMAKE_SOURCE_DIR}/bench/allocation_fault.cpp
                  ${CMAKE_SOURCE_DIR}/tests/common/failing_new.cpp)
