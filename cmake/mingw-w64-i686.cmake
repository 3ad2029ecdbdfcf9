# Cross toolchain: 32-bit x86 Windows through MinGW-w64 (posix threads). Build folder build-x86/.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32 CACHE INTERNAL "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
