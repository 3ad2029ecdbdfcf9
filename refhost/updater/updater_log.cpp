// The stand-in updater's log file.
#include "refhost/updater/updater_log.h"

#include <windows.h>

#include "base/handles.h"

bool AppendUpdaterLog(const std::wstring& path, const std::wstring& line) {
  // Several starts may race for the file: retry briefly while another holds it.
  UniqueFile file;
  for (int attempt = 0; attempt < 50 && !file; ++attempt) {
    file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Sleep(20);
  }
  if (!file) return false;
  std::wstring text;
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart == 0) text = L"\xFEFF";
  text += line + L"\r\n";
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  return WriteFile(file.get(), text.data(), bytes, &written, nullptr) && written == bytes;
}

std::vector<std::wstring> ReadUpdaterLog(const std::wstring& path) {
  std::vector<std::wstring> lines;
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return lines;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  if (!text.empty() && text[0] == L'\xFEFF') text.erase(0, 1);
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::vector<std::wstring> WaitForUpdaterLog(const std::wstring& path, size_t count, unsigned timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  std::vector<std::wstring> lines;
  while ((lines = ReadUpdaterLog(path)).size() < count && GetTickCount64() - start < timeoutMs) Sleep(50);
  return lines;
}
