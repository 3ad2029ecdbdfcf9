# Compiling as a player team's Microsoft toolchain does, without the SDK: clang for the Microsoft
# target of the build's architecture, in MSVC mode (_MSC_VER set), against Wine's Windows and C
# runtime headers, which are made to build Windows code in that mode (WCHAR is wchar_t, as in the
# SDK). Sets CADENZA_MSVC_TARGET, CADENZA_MSVC_MODE_FLAGS (compile) and CADENZA_MSVC_MACHINE (link).
find_program(CADENZA_CLANG NAMES clang clang-14 REQUIRED)
find_program(CADENZA_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
execute_process(COMMAND ${CADENZA_CLANG} -print-resource-dir OUTPUT_VARIABLE clang_resource_dir
                OUTPUT_STRIP_TRAILING_WHITESPACE)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CADENZA_MSVC_TARGET i686-pc-windows-msvc)
  set(CADENZA_MSVC_MACHINE /machine:x86 /safeseh:no)  # MinGW's import libraries carry no SEH tables
  # clang 14 knows these as built-ins on x86, and winnt.h defines them again.
  set(builtin_clashes _InterlockedAnd64 _InterlockedOr64 _InterlockedXor64 _InterlockedIncrement64
      _InterlockedDecrement64 _InterlockedExchangeAdd64 _InterlockedExchangePointer
      _InterlockedCompareExchangePointer)
else()
  set(CADENZA_MSVC_TARGET x86_64-pc-windows-msvc)
  set(CADENZA_MSVC_MACHINE /machine:x64)
  set(builtin_clashes _InterlockedCompareExchange128)
endif()
set(CADENZA_MSVC_MODE_FLAGS --target=${CADENZA_MSVC_TARGET} -fms-extensions -fms-compatibility
    -fms-compatibility-version=19.29 -DWINE_UNICODE_NATIVE -DUNICODE -D_UNICODE
    -nostdinc -isystem ${clang_resource_dir}/include -isystem /usr/include/wine/wine/msvcrt
    -isystem /usr/include/wine/wine/windows)
foreach(name ${builtin_clashes})
  list(APPEND CADENZA_MSVC_MODE_FLAGS -D${name}=cadenza_wine_${name})
endforeach()
