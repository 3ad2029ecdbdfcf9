// Forced in front of a file compiled with wchar_t as no keyword of its own, as MSVC's /Zc:wchar_t-
// makes it: the type the Windows headers then take.
typedef unsigned short wchar_t;
#define _WCHAR_T_DEFINED
