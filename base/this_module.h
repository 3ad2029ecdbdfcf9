// The handle of the module (DLL or program) that the calling code is linked into: the linker's
// image base of that module, so each DLL sees its own, whatever process loaded it.
#pragma once
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

inline HINSTANCE ThisModule() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }
