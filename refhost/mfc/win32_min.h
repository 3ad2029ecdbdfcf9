// The few Win32 declarations the Microsoft-ABI reference libraries use. They are built by clang
// for the Microsoft target without any SDK or C runtime, so they declare what they call here.
#pragma once

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef long LONG;
typedef unsigned int UINT;
typedef wchar_t WCHAR;
typedef __SIZE_TYPE__ SIZE_T;
typedef __INTPTR_TYPE__ LONG_PTR;
typedef LONG_PTR LPARAM;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HRSRC__* HRSRC;
typedef void* HGLOBAL;
typedef struct HDC__* HDC;
typedef struct HFONT__* HFONT;
typedef void* HGDIOBJ;
typedef struct HWND__* HWND;

#define WINAPI __stdcall
#define CALLBACK __stdcall
#define WIN32_IMPORT extern "C" __declspec(dllimport)

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define RT_STRING ((const wchar_t*)(LONG_PTR)6)
#define LANG_ZH_CN ((WORD)0x0804)  // Chinese, Simplified
#define HEAP_ZERO_MEMORY 0x00000008
#define FILE_APPEND_DATA 0x0004
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_NORMAL 0x80
#define CP_UTF8 65001
#define CSIDL_LOCAL_APPDATA 0x001c
#define SHGFP_TYPE_CURRENT 0
#define ERROR_SUCCESS 0
#define ERROR_FILE_EXISTS 80
#define ERROR_ALREADY_EXISTS 183
#define MAX_PATH 260
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define GB2312_CHARSET 134
#define FW_NORMAL 400
#define CLEARTYPE_QUALITY 5
#define LOGPIXELSY 90
#define SPI_GETNONCLIENTMETRICS 0x0029
#define LF_FACESIZE 32

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct VS_FIXEDFILEINFO {
  DWORD dwSignature, dwStrucVersion, dwFileVersionMS, dwFileVersionLS, dwProductVersionMS,
      dwProductVersionLS, dwFileFlagsMask, dwFileFlags, dwFileOS, dwFileType, dwFileSubtype,
      dwFileDateMS, dwFileDateLS;
};
struct LOGFONTW {
  LONG lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight;
  BYTE lfItalic, lfUnderline, lfStrikeOut, lfCharSet, lfOutPrecision, lfClipPrecision, lfQuality,
      lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};
struct TEXTMETRICW;
struct NONCLIENTMETRICSW {
  UINT cbSize;
  int iBorderWidth, iScrollWidth, iScrollHeight, iCaptionWidth, iCaptionHeight;
  LOGFONTW lfCaptionFont;
  int iSmCaptionWidth, iSmCaptionHeight;
  LOGFONTW lfSmCaptionFont;
  int iMenuWidth, iMenuHeight;
  LOGFONTW lfMenuFont, lfStatusFont, lfMessageFont;
  int iPaddedBorderWidth;
};
typedef int(CALLBACK* FONTENUMPROCW)(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM);

// kernel32
WIN32_IMPORT DWORD WINAPI GetModuleFileNameW(HMODULE, wchar_t*, DWORD);
WIN32_IMPORT DWORD WINAPI GetEnvironmentVariableW(const wchar_t*, wchar_t*, DWORD);
WIN32_IMPORT HRSRC WINAPI FindResourceExW(HMODULE, const wchar_t*, const wchar_t*, WORD);
WIN32_IMPORT HGLOBAL WINAPI LoadResource(HMODULE, HRSRC);
WIN32_IMPORT void* WINAPI LockResource(HGLOBAL);
WIN32_IMPORT DWORD WINAPI SizeofResource(HMODULE, HRSRC);
WIN32_IMPORT HANDLE WINAPI GetProcessHeap();
WIN32_IMPORT void* WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T);
WIN32_IMPORT void* WINAPI HeapReAlloc(HANDLE, DWORD, void*, SIZE_T);
WIN32_IMPORT BOOL WINAPI HeapFree(HANDLE, DWORD, void*);
WIN32_IMPORT void WINAPI GetLocalTime(SYSTEMTIME*);
WIN32_IMPORT DWORD WINAPI GetCurrentProcessId();
WIN32_IMPORT HANDLE WINAPI CreateFileW(const wchar_t*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE);
WIN32_IMPORT BOOL WINAPI WriteFile(HANDLE, const void*, DWORD, DWORD*, void*);
WIN32_IMPORT BOOL WINAPI CloseHandle(HANDLE);
WIN32_IMPORT int WINAPI WideCharToMultiByte(UINT, DWORD, const wchar_t*, int, char*, int, const char*, BOOL*);
WIN32_IMPORT int WINAPI MulDiv(int, int, int);
WIN32_IMPORT wchar_t* WINAPI lstrcpynW(wchar_t*, const wchar_t*, int);
// version
WIN32_IMPORT DWORD WINAPI GetFileVersionInfoSizeW(const wchar_t*, DWORD*);
WIN32_IMPORT BOOL WINAPI GetFileVersionInfoW(const wchar_t*, DWORD, DWORD, void*);
WIN32_IMPORT BOOL WINAPI VerQueryValueW(const void*, const wchar_t*, void**, UINT*);
// shell32
WIN32_IMPORT LONG WINAPI SHGetFolderPathW(HWND, int, HANDLE, DWORD, wchar_t*);
WIN32_IMPORT int WINAPI SHCreateDirectoryExW(HWND, const wchar_t*, const void*);
// gdi32, user32
WIN32_IMPORT HFONT WINAPI CreateFontIndirectW(const LOGFONTW*);
WIN32_IMPORT BOOL WINAPI DeleteObject(HGDIOBJ);
WIN32_IMPORT int WINAPI EnumFontFamiliesExW(HDC, LOGFONTW*, FONTENUMPROCW, LPARAM, DWORD);
WIN32_IMPORT int WINAPI GetDeviceCaps(HDC, int);
WIN32_IMPORT HDC WINAPI GetDC(HWND);
WIN32_IMPORT int WINAPI ReleaseDC(HWND, HDC);
WIN32_IMPORT BOOL WINAPI SystemParametersInfoW(UINT, UINT, void*, UINT);
// msvcrt: the Windows C runtime's wide printf (%s a wide string, %hs a narrow one)
typedef __builtin_va_list va_list_ms;
extern "C" __declspec(dllimport) int __cdecl _vscwprintf(const wchar_t*, va_list_ms);
extern "C" __declspec(dllimport) int __cdecl _vsnwprintf(wchar_t*, SIZE_T, const wchar_t*, va_list_ms);
