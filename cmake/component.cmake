# Cadenza_Upgrade.dll: the subsystem libraries linked with the export list and the resources.

# The component's version: its VERSIONINFO (file and product version) and the release package's
# version (scripts/package reads it back from the built DLL). Set here only.
set(CADENZA_COMPONENT_VERSION 1.0.0.1)
string(REPLACE "." "," CADENZA_COMPONENT_VERSION_COMMAS ${CADENZA_COMPONENT_VERSION})
configure_file(${CMAKE_SOURCE_DIR}/res/component_version.h.in
               ${CMAKE_BINARY_DIR}/res/generated/res/component_version.h @ONLY)

# The module: DllMain, the class factory and the exports. Compiled once, linked into the
# component, its test build and the test program that runs the module in-process.
add_library(component_module OBJECT ${CMAKE_SOURCE_DIR}/server/module.cpp)
target_link_libraries(component_module PUBLIC upgrade_host)

# The component links only its own layers: a library from the reference host or the tests in its
# link (directly or through another library) stops the configuration.
function(cadenza_check_component_links target)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(NOT TARGET ${current} OR current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(dir ${current} SOURCE_DIR)
    string(FIND "${dir}/" "${CMAKE_SOURCE_DIR}/refhost/" in_refhost)
    string(FIND "${dir}/" "${CMAKE_SOURCE_DIR}/tests/" in_tests)
    if(in_refhost EQUAL 0 OR in_tests EQUAL 0)
      message(FATAL_ERROR "${target} links ${current} from ${dir}: the component links none of the reference host's or the tests' libraries")
    endif()
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(linked ${current} ${property})
      if(linked)
        list(APPEND pending ${linked})
      endif()
    endforeach()
  endwhile()
endfunction()

# The component DLL, and test builds of it (a different name, extra sources).
function(cadenza_component target)
  add_library(${target} SHARED
    ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.def
    ${CMAKE_SOURCE_DIR}/res/Cadenza_Upgrade.rc
    ${CMAKE_SOURCE_DIR}/res/component.rc
    ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  # windres finds the type library and the manifest in the generated folder, the other files
  # beside the scripts.
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/res/generated/res ${CMAKE_SOURCE_DIR}/res)
  target_link_libraries(${target} PRIVATE component_module upgrade_host)
  cadenza_host_library(${target})
  cadenza_check_component_links(${target})
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
