# The part of the cross toolchain that both targets share; the per-target files set
# CMAKE_SYSTEM_PROCESSOR and `triple` first. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Each build folder has a Wine prefix of its own (<build>/wineprefix), also when CTest is run
# by hand in that folder.
get_filename_component(cadenza_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
  /usr/bin/env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "${cadenza_source_root}/scripts/wine-run")
