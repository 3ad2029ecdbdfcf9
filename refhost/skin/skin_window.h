// The reference skin engine: a skin window object that draws a bound window from a skin
// document and reports its element events as WM_SKINEVENT.
#pragma once
#include <windows.h>
#include <unknwn.h>

// Creates a skin window object (IHostSkinWindow) with a reference count of one.
HRESULT CreateSkinWindowObject(IUnknown** ppSkinWindow);
