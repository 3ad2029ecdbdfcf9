// The host's two common libraries, CadenzaCommon.dll and CadenzaWidget_MFC.dll, bound at run
// time in whichever C++ ABI they export: the Microsoft one (MFC CString, CFont*) of a player
// built with MSVC, or the MinGW GCC one (std::wstring, HFONT) of the reference host. The rest of
// the component calls only these functions and sees std::wstring and HFONT.
//
// A library is the module the process has already loaded by that base name, else the file of
// that name in the component's folder, else in the player executable's folder (full paths
// only). A missing library or function is no failure: each call then answers as the player
// would with nothing to say (an empty folder, version 0, an empty string, no font, no log line).
#pragma once
#include <windows.h>

#include <string>

// The host's caption of the upgrade prompts (the tips window's title and the message boxes'
// caption) in its string table.
inline constexpr UINT IDS_UPGRADE_CAPTION = 1217;

namespace common_libraries {

// The running player's version; 0 without the function.
DWORD GetAppVersion() noexcept;
// The player executable's folder, ending in a backslash; empty without the function.
// Throws std::bad_alloc only (the caller's entry point catches it).
std::wstring GetExeFolder();
// Loads text nID of the host's string table into strTarget, which stays as it was when the
// library gives no text. Returns the library's result (0 without the function).
int LoadStringW(UINT nID, std::wstring& strTarget);
// cadenza::Log(pszLogFile, pszFormat, pszText): one formatted line with one wide string argument.
void Log(const wchar_t* pszLogFile, const wchar_t* pszFormat, const wchar_t* pszText) noexcept;
// The host's normal font, owned by the library; NULL without the function.
HFONT GetNormalFont() noexcept;

// Drops the references the binding holds on libraries it loaded itself (FreeLibrary, so never
// under the loader lock); the next call binds again. Called when DllCanUnloadNow answers S_OK.
void Release() noexcept;

// What the binding found, for tests and diagnostics.
enum class Abi { kMissing, kMicrosoft, kGnu };
struct BindingState {
  Abi getAppVersion, getExeFolder, loadString, log, getNormalFont;
  bool commonLoadedByUs, widgetLoadedByUs;  // false: found loaded, or not found
};
BindingState CurrentBinding() noexcept;

// The strings the component's own string manager has handed to a Microsoft-ABI library
// (LoadStringW's target) and taken back. Equal whenever no call is running.
struct StringCounts {
  LONG allocated;
  LONG freed;
};
StringCounts ComponentStringCounts() noexcept;

}  // namespace common_libraries
