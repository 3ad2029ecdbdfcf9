// Test helpers for real files: a fresh temporary folder per test, whole-file reads and writes,
// and a second handle that holds a file open with chosen sharing.
#pragma once
#include <windows.h>
#include <string>

#include "base/handles.h"

namespace testing_support {

// A new empty folder of its own, ending in a backslash; removed with its content. Its name comes
// right after the drive, so an installation staged in it has an update data folder of its own.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& folder);  // folder may end in a backslash
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);            // empty when unreadable
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Writes text as UTF-16LE with a byte-order mark, so profile writes keep Unicode.
bool WriteUnicodeText(const std::wstring& path, const std::wstring& text);
// Writes text in the ANSI code page (as the profile functions do for a file without a mark).
bool WriteAnsiText(const std::wstring& path, const std::string& text);
// Reads a file as text: UTF-16LE when it starts with the mark, else bytes widened one by one.
std::wstring ReadText(const std::wstring& path);

// Opens the file with the given sharing and keeps it open until destroyed.
UniqueFile HoldOpen(const std::wstring& path, DWORD shareMode);

std::string Narrow(const std::wstring& text);  // UTF-8, for test messages

}  // namespace testing_support
