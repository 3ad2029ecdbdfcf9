# Builds the sample without Visual Studio: clang for the Microsoft target, Wine's Windows and C
# runtime headers (Debian's libwine-dev), lld-link and llvm-rc. Set CADENZA_SAMPLE_ARCH (x64 or
# x86) before including this file; clang-msvc-x64.cmake and clang-msvc-x86.cmake do.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
if(CADENZA_SAMPLE_ARCH STREQUAL "x86")
  set(CMAKE_SYSTEM_PROCESSOR X86)
  set(target i686-pc-windows-msvc)
  # winnt.h defines these again, which clang 14 takes as built-ins on x86.
  set(renamed _InterlockedAnd64 _InterlockedCompareExchangePointer _InterlockedExchangeAdd64
      _InterlockedExchangePointer _InterlockedIncrement64 _InterlockedDecrement64 _InterlockedOr64
      _InterlockedXor64)
  set(machine "-Xlinker /safeseh:no")  # the import libraries carry no SEH tables
  # Wine's 32-bit import libraries when libwine-dev:i386 is installed, else MinGW-w64's.
  set(import_libraries /usr/lib/i386-linux-gnu/wine/i386-windows)
  if(NOT EXISTS ${import_libraries}/libkernel32.a)
    set(import_libraries /usr/i686-w64-mingw32/lib)
  endif()
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(target x86_64-pc-windows-msvc)
  set(renamed _InterlockedCompareExchange128)
  set(machine "")
  set(import_libraries /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
endif()

find_program(CMAKE_CXX_COMPILER NAMES clang++ clang++-14 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14 REQUIRED)
set(CMAKE_CXX_COMPILER_TARGET ${target})
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-resource-dir OUTPUT_VARIABLE clang_resources
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(wine_include /usr/include/wine/wine)

set(flags "-fms-extensions -fms-compatibility -fms-compatibility-version=19.29 -DWINE_UNICODE_NATIVE")
string(APPEND flags " -nostdinc -isystem ${clang_resources}/include -isystem ${wine_include}/msvcrt")
string(APPEND flags " -isystem ${wine_include}/windows")
# No C++ library here: no exceptions, no RTTI, and no C runtime startup (the sample brings its
# own entry point; memcmp and memset come from msvcrt.dll).
string(APPEND flags " -fno-exceptions -fno-rtti -DCADENZA_SAMPLE_NO_CRT -Wall -Wextra")
foreach(name ${renamed})
  string(APPEND flags " -D${name}=Wine${name}")
endforeach()
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_RC_FLAGS_INIT "-I${wine_include}/windows -DWINE_UNICODE_NATIVE")

# Wine's import libraries under the names a Microsoft linker looks for (ole32 -> ole32.lib).
set(libraries ${CMAKE_BINARY_DIR}/import-libraries)
if(NOT CMAKE_BINARY_DIR MATCHES "CMakeFiles")  # not again for each compiler check
  file(MAKE_DIRECTORY ${libraries})
  foreach(name kernel32 user32 gdi32 ole32 oleaut32 shell32 comctl32 msvcrt uuid version)
    if(EXISTS ${import_libraries}/lib${name}.a)
      file(CREATE_LINK ${import_libraries}/lib${name}.a ${libraries}/${name}.lib SYMBOLIC)
    endif()
  endforeach()
endif()
# /Brepro: no link time in the program, so that one source makes the same file.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Xlinker /libpath:${libraries} -Xlinker /entry:SampleStartup -Xlinker /nodefaultlib -Xlinker /Brepro -Wno-unused-command-line-argument ${machine}")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lkernel32 -lmsvcrt" CACHE STRING "what every program links")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
