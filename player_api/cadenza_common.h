// Functions of the host's two common libraries, CadenzaCommon.dll and CadenzaWidget_MFC.dll. The
// component binds to them at run time, in either of two forms, and imports nothing from them
// (the host contract's section 5 gives both):
// - MSVC with MFC: CString (CStringW) and CFont*. This header declares them when MFC's headers
//   (afx.h, afxwin.h) are included before it; without MFC it declares only GetAppVersion and Log,
//   which need neither, and no form that the component does not look up. No C++ library needed.
// - MinGW GCC: std::wstring and HFONT, as the GCC-built reference libraries export them.
// Build a library with CADENZA_COMMON_BUILD (CadenzaCommon.dll) or CADENZA_WIDGET_BUILD
// (CadenzaWidget_MFC.dll) defined, so that it exports what it defines.
#pragma once
#include <windows.h>
#if !defined(_MSC_VER)
#include <string>
#endif

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

#if defined(_MSC_VER)

// The Microsoft form. Nothing may leave these functions: catch MFC's CMemoryException* (and any
// other exception) inside them, since the component's frames cannot unwind an MSVC exception.
namespace cadenza {

// The running player's version (major in the high word, minor in the low word), compared
// unsigned with a package's version.
CADENZA_COMMON_API DWORD GetAppVersion();
// Appends one formatted line to the named log; the format's %s is a wide string.
CADENZA_COMMON_API void Log(const wchar_t* pszLogFile, const wchar_t* pszFormat, ...);
#if defined(__AFX_H__)
// The folder of the host executable, ending in a backslash.
CADENZA_COMMON_API CStringW GetExeFolder();
// Loads a text of the host's string table into strTarget; strTarget stays as it was on failure.
CADENZA_COMMON_API int LoadStringW(UINT nID, CStringW& strTarget);
#endif

}  // namespace cadenza

#if defined(__AFXWIN_H__)
// The export is on the member, not the class: MSVC would also export the class's implicit
// assignment operators.
class CCadenzaFont {
 public:
  // The host's normal user-interface font, owned by the library; NULL when none can be made.
  CADENZA_WIDGET_API static CFont* GetNormalFont();
};
#endif

#else  // MinGW GCC

namespace cadenza {

// The running player's version (major in the high word, minor in the low word), compared
// unsigned with a package's version.
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

#endif
