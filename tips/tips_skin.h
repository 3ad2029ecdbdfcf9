// The tips window's skin: the skin document (a format string taking 16 image references), the
// skin script, and the module file whose bitmaps the document names.
#pragma once
#include <windows.h>

#include <string>

// The module whose bitmaps 201-204 the skin draws, looked up in the host's folder.
inline constexpr wchar_t kUpgradeModuleName[] = L"Cadenza_Upgrade.dll";

// The window's size and the content control's place in it, as the skin document lays them
// out: the window is made at its final size, so the skin's layout moves nothing.
inline constexpr SIZE kTipsWindowSize = {258, 170};
inline constexpr RECT kTipsContentRect = {25, 60, 250, 135};

// Wide XML text; every image attribute is "res:\\%ls,%d": module path and bitmap ID.
extern const wchar_t kTipsSkinDocument[];
// Six lines, each ended by CR LF; its three handlers are empty.
extern const wchar_t kTipsSkinScript[];

// The skin document with every image referring to `modulePath`, bitmaps in document order
// 201; 203 x3; 202 x6; 204 x6. The path is written as XML attribute text (&, <, >, " escaped).
std::wstring BuildTipsSkinDocument(const std::wstring& modulePath);
