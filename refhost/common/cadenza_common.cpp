// CadenzaCommon.dll: the host's folder, the player's version, the host's strings and its logs.
#include "player_api/cadenza_common.h"

#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include <new>
#include <string>
#include <vector>

#include "base/folders.h"
#include "base/this_module.h"

namespace {

// Environment overrides, read at each call so that a host or a test may set them at any time.
constexpr wchar_t kAppVersionVariable[] = L"CADENZA_APP_VERSION";
constexpr wchar_t kLogFolderVariable[] = L"CADENZA_LOG_FOLDER";
// The log folder below the user's local application data when no override is set.
constexpr wchar_t kLogSubfolder[] = L"Cadenza\\Log\\";

// Value of an environment variable; false when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring& value) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return false;
  std::vector<wchar_t> buffer(size);
  DWORD length = GetEnvironmentVariableW(name, buffer.data(), size);
  if (length == 0 || length >= size) return false;
  value.assign(buffer.data(), length);
  return true;
}

// A 32-bit unsigned number in decimal or, after "0x", in hexadecimal; nothing else.
bool ParseVersion(const std::wstring& text, DWORD& value) {
  unsigned base = 10;
  size_t pos = 0;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    pos = 2;
  }
  if (pos == text.size()) return false;
  unsigned long long number = 0;
  for (; pos < text.size(); ++pos) {
    wchar_t c = text[pos];
    unsigned digit;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    else return false;
    number = number * base + digit;
    if (number > 0xFFFFFFFFull) return false;
  }
  value = static_cast<DWORD>(number);
  return true;
}

// Major and minor file version of the executable: major in the high word, minor in the low.
DWORD VersionFromResource(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return 0;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return 0;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return 0;
  }
  return info->dwFileVersionMS;
}

// A log name must be a plain file name: the log stays inside the log folder.
bool IsPlainFileName(const wchar_t* name) {
  if (name == nullptr || *name == L'\0') return false;
  std::wstring text(name);
  if (text == L"." || text == L"..") return false;
  return text.find_first_of(L"\\/:") == std::wstring::npos;
}

std::wstring LogFolder() {
  std::wstring folder;
  if (ReadEnvironment(kLogFolderVariable, folder) && !folder.empty()) {
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
  }
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
    return std::wstring();
  folder = appData;
  if (folder.empty()) return folder;
  if (folder.back() != L'\\') folder += L'\\';
  return folder + kLogSubfolder;
}

// Formats with the Windows C runtime's wide printf (msvcrt): as in every wide printf of the
// platform, %s and %ls take a wide string and %hs a narrow one. The arguments are only
// substituted, never read as a format, so any text in them (a "%" too) arrives as it is.
bool FormatLine(const wchar_t* format, va_list args, std::wstring& text) {
  va_list measure;
  va_copy(measure, args);
  int length = _vscwprintf(format, measure);
  va_end(measure);
  if (length < 0) return false;
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
  if (written < 0) return false;
  text.assign(buffer.data(), static_cast<size_t>(written));
  return true;
}

// One entry is one line: line breaks inside the text are written as the two characters \n.
std::wstring OneLine(const std::wstring& text) {
  std::wstring line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      line += L"\\n";
    } else {
      line += c;
    }
  }
  return line;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

void AppendToLog(const wchar_t* logFile, const std::wstring& text) {
  std::wstring folder = LogFolder();
  if (folder.empty()) return;
  int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS)
    return;

  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[64];
  swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth,
           now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
           GetCurrentProcessId());
  std::string line = Utf8(stamp + OneLine(text) + L"\r\n");

  // Append access makes each single write land at the end, also with several writers.
  std::wstring path = folder + logFile;
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

namespace cadenza {

DWORD GetAppVersion() noexcept {
  try {
    std::wstring text;
    DWORD version = 0;
    if (ReadEnvironment(kAppVersionVariable, text) && ParseVersion(text, version)) return version;
    std::wstring exe = ModulePathOf(nullptr);
    return exe.empty() ? 0 : VersionFromResource(exe);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::wstring GetExeFolder() noexcept {
  try {
    std::wstring path = ModulePathOf(nullptr);
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    path.resize(slash + 1);
    return path;
  } catch (const std::bad_alloc&) {
    return std::wstring();
  }
}

int LoadStringW(UINT nID, std::wstring& strTarget) noexcept {
  // A string table resource holds blocks of 16 texts: block id/16 + 1, each text a length
  // word followed by that many characters.
  HMODULE module = ThisModule();
  HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW((nID >> 4) + 1),
                                MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  if (found == nullptr) return 0;
  HGLOBAL loaded = LoadResource(module, found);
  const WORD* entry = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
  if (entry == nullptr) return 0;
  const WORD* end = entry + SizeofResource(module, found) / sizeof(WORD);
  for (UINT index = nID & 15; index > 0; --index) {
    if (entry >= end) return 0;
    entry += 1 + *entry;
  }
  if (entry >= end || *entry == 0 || entry + 1 + *entry > end) return 0;
  try {
    strTarget.assign(reinterpret_cast<const wchar_t*>(entry + 1), *entry);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return static_cast<int>(strTarget.size());
}

void Log(const wchar_t* pszLogFile, const wchar_t* pszFormat, ...) noexcept {
  if (pszFormat == nullptr || !IsPlainFileName(pszLogFile)) return;
  try {
    std::wstring text;
    va_list args;
    va_start(args, pszFormat);
    bool formatted = FormatLine(pszFormat, args, text);
    va_end(args);
    if (formatted) AppendToLog(pszLogFile, text);
  } catch (const std::bad_alloc&) {
    // the line is dropped; logging never fails the caller
  }
}

}  // namespace cadenza
