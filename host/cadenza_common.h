// Functions of the host's two common libraries, CadenzaCommon.dll and CadenzaWidget_MFC.dll, in
// their GCC form (std::wstring, HFONT), as the GCC-built reference libraries export them. The
// component binds to them at run time in this form or in the MSVC/MFC one (CString, CFont*) and
// imports nothing from them; the host contract's section 5 gives both. Build a library with
// CADENZA_COMMON_BUILD (CadenzaCommon.dll) or CADENZA_WIDGET_BUILD (CadenzaWidget_MFC.dll)
// defined, so that it exports what it defines.
#pragma once
#include <windows.h>
#include <string>

#ifdef CADENZA_COMMON_BUILD
#define CADENZA_COMMON_API __declspec(dllexport)
#else
#define CADENZA_COMMON_API __declspec(dllimport)
#endif

#ifdef CADENZA_WIDGET_BUILD
#define CADENZA_WIDGET_API __declspec(dllexport)
#else
#define CADENZA_WIDGET_API __declspec(dllimport)
#endif

namespace cadenza {

// The running player's version, compared unsigned with a package's version.
CADENZA_COMMON_API DWORD GetAppVersion() noexcept;
// The folder of the host executable, ending in a backslash.
CADENZA_COMMON_API std::wstring GetExeFolder() noexcept;
// Loads a text of the host's string table into strTarget; strTarget stays as it was on failure.
CADENZA_COMMON_API int LoadStringW(UINT nID, std::wstring& strTarget) noexcept;
// Appends one formatted line to the named log.
CADENZA_COMMON_API void Log(const wchar_t* pszLogFile, const wchar_t* pszFormat, ...) noexcept;

}  // namespace cadenza

class CADENZA_WIDGET_API CCadenzaFont {
 public:
  // The host's normal user-interface font, owned by the library; NULL when none can be made.
  static HFONT GetNormalFont() noexcept;
};
