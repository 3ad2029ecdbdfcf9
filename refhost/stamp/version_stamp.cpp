// Version stamping of a staged executable.
#include "refhost/stamp/version_stamp.h"

#include <cwchar>
#include <vector>

bool ParseFileVersion(const std::wstring& text, DWORD& versionMS, DWORD& versionLS) {
  unsigned parts[4] = {};
  int consumed = 0;
  if (swscanf(text.c_str(), L"%u.%u.%u.%u%n", &parts[0], &parts[1], &parts[2], &parts[3], &consumed) != 4 ||
      static_cast<size_t>(consumed) != text.size())
    return false;
  for (unsigned part : parts)
    if (part > 0xFFFF) return false;
  versionMS = MAKELONG(parts[1], parts[0]);
  versionLS = MAKELONG(parts[3], parts[2]);
  return true;
}

namespace {

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<WORD*>(found) = language;
  return FALSE;  // the first is enough
}

}  // namespace

bool StampFileVersion(const std::wstring& path, DWORD versionMS, DWORD versionLS) {
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
    return false;
  fixed->dwFileVersionMS = fixed->dwProductVersionMS = versionMS;
  fixed->dwFileVersionLS = fixed->dwProductVersionLS = versionLS;

  // The resource itself is the block's first wLength bytes (the platform adds scratch space).
  const WORD resourceLength = *reinterpret_cast<const WORD*>(block.data());
  WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (image == nullptr) return false;
  EnumResourceLanguagesW(image, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO), FirstLanguage,
                         reinterpret_cast<LONG_PTR>(&language));
  FreeLibrary(image);

  HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  if (update == nullptr) return false;
  if (!UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO), language, block.data(),
                       resourceLength)) {
    EndUpdateResourceW(update, TRUE);
    return false;
  }
  return EndUpdateResourceW(update, FALSE) != FALSE;
}
