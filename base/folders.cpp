// Folder helpers: a module's folder, the process's executable folder, and making a folder path.
#include "base/folders.h"

#include <vector>

namespace {

constexpr wchar_t kCurrentFolder[] = L".\\";
// The longest path the platform's wide functions take (with the "\\?\" prefix).
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ModulePathOf(HMODULE module) {
  // The name is cut to the buffer when it does not fit (and then may lack its terminator), so the
  // buffer grows until the whole name fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    if (buffer.size() >= kLongestPath) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ModuleFolderOf(HMODULE module) { return FolderOf(ModulePathOf(module)); }

std::wstring GetModuleFolder() {
  std::wstring folder = ModuleFolderOf(nullptr);
  return folder.empty() ? kCurrentFolder : folder;
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
