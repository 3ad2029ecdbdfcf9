// Test helpers for real files.
#include "tests/common/test_files.h"

#include <atomic>
#include <vector>

namespace testing_support {

// The update data folder's name hashes only the first half of an installation's path (as many
// bytes as the path has characters), so folders under the long temporary path would all share
// one. The folder's own name therefore comes right after the drive: "C:\ct-PPPPNNNN\" (process
// id, counter) lies within the hashed half of any path inside it, and every installation staged
// in a TempFolder gets an update data folder of its own, also among test programs run at once.
TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring drive = windows[0] != L'\0' && windows[1] == L':' ? std::wstring(windows, 2) : L"C:";
  for (;;) {
    wchar_t name[32];
    swprintf(name, 32, L"\\ct-%04X%04X\\", static_cast<unsigned>(GetCurrentProcessId() & 0xFFFF),
             static_cast<unsigned>(counter++ & 0xFFFF));
    path_ = drive + name;
    if (CreateDirectoryW(path_.c_str(), nullptr)) break;
  }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& folder) {
  std::wstring base = folder;
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((base + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = base + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(base.c_str());
}

bool FileExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadBytes(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::string();
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool WriteUnicodeText(const std::wstring& path, const std::wstring& text) {
  std::string bytes("\xFF\xFE", 2);
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return WriteBytes(path, bytes);
}

bool WriteAnsiText(const std::wstring& path, const std::string& text) { return WriteBytes(path, text); }

std::wstring ReadText(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  std::wstring text;
  for (unsigned char c : bytes) text += static_cast<wchar_t>(c);
  return text;
}

UniqueFile HoldOpen(const std::wstring& path, DWORD shareMode) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareMode, nullptr,
                                OPEN_EXISTING, 0, nullptr));
}

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

}  // namespace testing_support
