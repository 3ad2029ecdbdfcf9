// Folder helpers: the process's executable folder, and making a folder path.
#include "base/folders.h"

namespace {

constexpr wchar_t kCurrentFolder[] = L".\\";
constexpr UINT kMaxPathChars = 260;

}  // namespace

std::wstring GetModuleFolder() {
  wchar_t path[kMaxPathChars] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, kMaxPathChars);
  if (n == 0) return kCurrentFolder;
  const std::wstring full(path, n < kMaxPathChars ? n : kMaxPathChars - 1);
  const size_t slash = full.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash + 1);
}

BOOL CreateFolderPath(const std::wstring& strPath) {
  size_t i = 0;
  while (i < strPath.size()) {
    size_t slash = strPath.find(L'\\', i);
    if (slash == std::wstring::npos) return TRUE;
    const std::wstring prefix = strPath.substr(0, slash);
    WIN32_FILE_ATTRIBUTE_DATA data;
    bool isFolder = GetFileAttributesExW(prefix.c_str(), GetFileExInfoStandard, &data) &&
                    data.dwFileAttributes != INVALID_FILE_ATTRIBUTES &&
                    (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!isFolder && !CreateDirectoryW(prefix.c_str(), nullptr)) return FALSE;
    i = slash + 1;
  }
  return TRUE;
}
