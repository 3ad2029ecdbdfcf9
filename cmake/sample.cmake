# The sample player (sample/) as a player team builds it: its own CMakeLists.txt, configured and
# built by clang for the Microsoft target of this build's architecture (sample/toolchain/), against
# an include folder laid out as the package's include/. The program lands in bin/sample/; tests
# stage it beside the component, the updater and the Microsoft-ABI pair of common libraries.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(sample_arch x86)
else()
  set(sample_arch x64)
endif()
set(sample_root ${CMAKE_BINARY_DIR}/sample-${sample_arch})
set(sample_include ${sample_root}/include)
set(sample_exe ${CMAKE_BINARY_DIR}/bin/sample/CadenzaSample.exe)
set(sample_headers ${CMAKE_SOURCE_DIR}/player_api/host_services.h ${CMAKE_SOURCE_DIR}/player_api/cadenza_common.h
    ${CMAKE_BINARY_DIR}/res/generated/res/Cadenza_Upgrade.h ${CMAKE_BINARY_DIR}/res/generated/res/Cadenza_Upgrade_i.c)
file(GLOB sample_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sample/*.* ${CMAKE_SOURCE_DIR}/sample/toolchain/*.cmake)

# The outer build's compiler settings stay out: the nested configure gets a clean environment
# for the compilers and only what its toolchain file says.
add_custom_command(OUTPUT ${sample_exe}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${sample_include} ${CMAKE_BINARY_DIR}/bin/sample
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${sample_headers} ${sample_include}
  # From a clean folder each time, so that a changed toolchain file takes effect.
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${sample_root}/build
  COMMAND ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX --unset=CFLAGS --unset=CXXFLAGS --unset=LDFLAGS
          ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR}/sample -B ${sample_root}/build -G ${CMAKE_GENERATOR}
          -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/sample/toolchain/clang-msvc-${sample_arch}.cmake
          -DCMAKE_BUILD_TYPE=Release -DCADENZA_INCLUDE=${sample_include} > ${sample_root}/configure.log
  COMMAND ${CMAKE_COMMAND} --build ${sample_root}/build
  COMMAND ${CMAKE_COMMAND} -E copy ${sample_root}/build/CadenzaSample.exe ${sample_exe}
  DEPENDS ${sample_sources} ${sample_headers}
  COMMENT "clang ${sample_arch} (Microsoft target): the sample player from sample/CMakeLists.txt"
  VERBATIM)
add_custom_target(cadenza_sample ALL DEPENDS ${sample_exe})
add_dependencies(cadenza_sample component_typelib)
