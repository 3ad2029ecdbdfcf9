# The sample for 32-bit Windows, built by clang (see clang-msvc.cmake).
set(CADENZA_SAMPLE_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/clang-msvc.cmake)
