// Every declaration under which the component looks up a common library's function in the
// Microsoft ABI, compiled by clang for the Microsoft target. The export table of the library
// made from it is what the names in the component must be. Built four times, as the
// declarations differ only in their types: NAMES_VARIANT 1 is a player with MFC as a DLL and a
// DWORD version (what the reference libraries export), NAMES_VARIANT 2 one with MFC linked
// statically and a UINT version; 3 and 4 are 1 and 2 compiled with wchar_t as unsigned short
// (/Zc:wchar_t-), which changes only the names that carry wchar_t. Nothing here is ever run.
#include "refhost/mfc/mfc_lookalike.h"

#if NAMES_VARIANT == 1 || NAMES_VARIANT == 3
#define MFC_AS_DLL 1
#endif
#if NAMES_VARIANT == 1
ATL::IAtlStringMgr* AfxGetStringManager() { return nullptr; }
#endif

template <typename BaseType, class StringIterator>
class StrTraitMFC : public StringIterator {
 public:
  static ATL::IAtlStringMgr* GetDefaultManager() { return AfxGetStringManager(); }
};

#if MFC_AS_DLL
typedef CString TestedString;
typedef DWORD TestedVersion;
#else
typedef ATL::CStringT<wchar_t, StrTraitMFC<wchar_t, ATL::ChTraitsCRT<wchar_t>>> TestedString;
typedef UINT TestedVersion;
#endif

namespace cadenza {
#if NAMES_VARIANT <= 2
__declspec(dllexport) TestedVersion GetAppVersion() { return 0; }
#endif
__declspec(dllexport) TestedString GetExeFolder() { return TestedString(); }
__declspec(dllexport) int LoadStringW(UINT, TestedString&) { return 0; }
#if MFC_AS_DLL
__declspec(dllexport) void Log(const wchar_t*, const wchar_t*, ...) {}
#endif
}  // namespace cadenza

#if NAMES_VARIANT == 1
class CCadenzaFont {
 public:
  __declspec(dllexport) static CFont* GetNormalFont() { return nullptr; }
};
#endif
