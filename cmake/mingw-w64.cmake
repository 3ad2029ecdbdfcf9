# Cross toolchain: x86_64 Windows through MinGW-w64 (posix threads). Build folder build/.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32 CACHE INTERNAL "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
