// Delayed rename and deletion of files: MoveFileExW at reboot, else a [Rename] entry in wininit.ini.
#include "launch/delayed_replace.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "base/handles.h"

namespace {

constexpr DWORD kRestartMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
constexpr wchar_t kDeleteDestination[] = L"NUL";
constexpr wchar_t kRenameLineFormat[] = L"%ls=%ls\r\n";
constexpr wchar_t kWininitName[] = L"\\wininit.ini";
constexpr std::wstring_view kRenameHeader = L"[Rename]\r\n";
constexpr std::wstring_view kNextSection = L"\n[";

constexpr DWORD kPathCapacity = 1024;           // short paths, in characters with the terminator
constexpr DWORD kLineCapacity = 1023;           // so a line has at most 1022 characters
constexpr UINT kWindowsFolderCapacity = 1008;   // leaves room for "\wininit.ini"

// Short form of an existing path; false when there is none or it does not fit.
bool GetShortPath(LPCWSTR pszPath, wchar_t (&buffer)[kPathCapacity]) {
  DWORD length = GetShortPathNameW(pszPath, buffer, kPathCapacity);
  return length != 0 && length < kPathCapacity;
}

// Removes the empty placeholder made for a new name unless the registration succeeded.
class PlaceholderGuard {
 public:
  ~PlaceholderGuard() {
    if (path_ && !kept_) DeleteFileW(path_);
  }
  void Made(LPCWSTR path) { path_ = path; }
  void Keep() { kept_ = true; }

 private:
  LPCWSTR path_ = nullptr;
  bool kept_ = false;
};

// One insertion of a rename line into wininit.ini. The present text is read first, so the new
// length is known before the file is mapped: the mapping then grows the file to exactly that
// length and nothing has to be trimmed. Every failure after the file was opened puts back its
// bytes and length, or removes it when this call created it.
class WininitInsertion {
 public:
  WininitInsertion(LPCWSTR pszPath, std::wstring_view line, RestartPlatformCalls& calls)
      : path_(pszPath), line_(line), calls_(calls) {}

  BOOL Run() {
    file_.reset(CreateFileW(path_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file_) return FALSE;
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    try {
      if (!ReadPresentText()) return Undo();
      PlanInsertion();
      if (!WriteThroughMapping()) return Undo();
    } catch (const std::bad_alloc&) {
      return Undo();
    }
    return TRUE;
  }

 private:
  bool ReadPresentText() {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) return false;
    // Room for a padding byte, a new header and the line must stay within 32 bits.
    const ULONGLONG limit = MAXDWORD - 1 - 2 * (kRenameHeader.size() + line_.size());
    if (static_cast<ULONGLONG>(size.QuadPart) > limit) return false;
    size_ = static_cast<DWORD>(size.QuadPart);
    sizeKnown_ = true;
    // In memory the text is whole characters: an odd last byte fills the low half of the last.
    text_.assign((size_ + 1) / 2, L'\0');
    DWORD done = 0;
    while (done < size_) {
      DWORD got = 0;
      if (!ReadFile(file_.get(), reinterpret_cast<BYTE*>(text_.data()) + done, size_ - done, &got,
                    nullptr) ||
          got == 0)
        return false;
      done += got;
    }
    return true;
  }

  // Where the line goes, in bytes. Only whole characters are searched. New text starts at an even
  // offset: after an odd-sized text, one zero byte separates it from the stray last byte.
  void PlanInsertion() {
    std::wstring_view whole(text_.data(), size_ / 2);
    const DWORD alignedEnd = size_ + (size_ & 1);
    const size_t header = whole.find(kRenameHeader);
    if (header == std::wstring_view::npos) {
      headerAt_ = alignedEnd;
      insertAt_ = alignedEnd + 2 * static_cast<DWORD>(kRenameHeader.size());
    } else {
      // The next section starts after a line feed; the header's own line feed counts, so that a
      // section directly after an empty [Rename] section is found.
      const size_t next = whole.find(kNextSection, header + kRenameHeader.size() - 1);
      insertAt_ = next == std::wstring_view::npos ? alignedEnd : 2 * static_cast<DWORD>(next + 1);
    }
    tailBytes_ = insertAt_ < size_ ? size_ - insertAt_ : 0;
    newSize_ = insertAt_ + 2 * static_cast<DWORD>(line_.size()) + tailBytes_;
  }

  bool WriteThroughMapping() {
    mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READWRITE, 0, newSize_, nullptr));
    if (!mapping_) return false;
    view_.reset(calls_.MapWholeView(mapping_.get()));
    if (!view_) return false;
    BYTE* bytes = static_cast<BYTE*>(view_.get());
    const BYTE* present = reinterpret_cast<const BYTE*>(text_.data());
    const DWORD lineBytes = 2 * static_cast<DWORD>(line_.size());
    if (headerAt_ != kNone)
      std::memcpy(bytes + headerAt_, kRenameHeader.data(), 2 * kRenameHeader.size());
    if (tailBytes_) std::memcpy(bytes + insertAt_ + lineBytes, present + insertAt_, tailBytes_);
    std::memcpy(bytes + insertAt_, line_.data(), lineBytes);

    if (!calls_.UnmapView(view_.get())) return false;
    view_.release();
    if (!calls_.CloseMapping(mapping_.get())) return false;
    mapping_.release();
    return calls_.SetFileLength(file_.get(), newSize_);
  }

  // Puts the file back as it was: the bytes that were moved, then the length.
  BOOL Undo() {
    view_.reset();
    mapping_.reset();
    if (!sizeKnown_ && !created_) return FALSE;  // nothing was changed, and nothing to go by
    if (created_) {
      file_.reset();
      DeleteFileW(path_);
      return FALSE;
    }
    if (tailBytes_) {
      LARGE_INTEGER at;
      at.QuadPart = insertAt_;
      DWORD written = 0;
      if (SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN))
        WriteFile(file_.get(), reinterpret_cast<const BYTE*>(text_.data()) + insertAt_, tailBytes_,
                  &written, nullptr);
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size) || size.QuadPart != size_)
      calls_.SetFileLength(file_.get(), size_);
    return FALSE;
  }

  static constexpr DWORD kNone = MAXDWORD;

  LPCWSTR path_;
  std::wstring_view line_;
  RestartPlatformCalls& calls_;
  UniqueFile file_;
  UniqueKernelHandle mapping_;
  UniqueView view_;
  bool created_ = false;
  bool sizeKnown_ = false;
  DWORD size_ = 0;          // present length in bytes
  std::wstring text_;       // present bytes, as whole characters
  DWORD headerAt_ = kNone;  // where a new header goes, if one is needed
  DWORD insertAt_ = 0;
  DWORD tailBytes_ = 0;     // present bytes after the insertion point, moved back by the line
  DWORD newSize_ = 0;
};

}  // namespace

RestartPlatformCalls::~RestartPlatformCalls() = default;

BOOL RestartPlatformCalls::RegisterMove(LPCWSTR pszExistingFile, LPCWSTR pszNewFile, DWORD dwFlags) {
  return MoveFileExW(pszExistingFile, pszNewFile, dwFlags);
}

LPVOID RestartPlatformCalls::MapWholeView(HANDLE hMapping) {
  return MapViewOfFile(hMapping, FILE_MAP_WRITE, 0, 0, 0);
}

BOOL RestartPlatformCalls::UnmapView(LPCVOID pView) { return UnmapViewOfFile(pView); }

BOOL RestartPlatformCalls::CloseMapping(HANDLE hMapping) { return CloseHandle(hMapping); }

BOOL RestartPlatformCalls::SetFileLength(HANDLE hFile, DWORD dwBytes) {
  LARGE_INTEGER at;
  at.QuadPart = dwBytes;
  return SetFilePointerEx(hFile, at, nullptr, FILE_BEGIN) && SetEndOfFile(hFile);
}

BOOL MoveFileAtRestart(LPCWSTR pszExistingFile, LPCWSTR pszNewFile, RestartPlatformCalls& calls) {
  if (calls.RegisterMove(pszExistingFile, pszNewFile, kRestartMoveFlags)) return TRUE;
  return AddWininitRename(pszExistingFile, pszNewFile, calls);
}

BOOL MoveFileAtRestart(LPCWSTR pszExistingFile, LPCWSTR pszNewFile) {
  RestartPlatformCalls calls;
  return MoveFileAtRestart(pszExistingFile, pszNewFile, calls);
}

BOOL DeleteFileAtRestart(LPCWSTR pszFile) { return MoveFileAtRestart(pszFile, nullptr); }

BOOL AddWininitRename(LPCWSTR pszExistingFile, LPCWSTR pszNewFile) {
  RestartPlatformCalls calls;
  return AddWininitRename(pszExistingFile, pszNewFile, calls);
}

BOOL AddWininitRename(LPCWSTR pszExistingFile, LPCWSTR pszNewFile, RestartPlatformCalls& calls) {
  if (!pszExistingFile) return FALSE;
  wchar_t szDestination[kPathCapacity] = {};
  wcscpy(szDestination, kDeleteDestination);
  PlaceholderGuard placeholder;
  if (pszNewFile) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const DWORD attributes =
        GetFileAttributesExW(pszNewFile, GetFileExInfoStandard, &data) ? data.dwFileAttributes : 0;
    // Fails, changing nothing, when the new name exists already.
    HANDLE created = CreateFileW(pszNewFile, 0, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes,
                                 nullptr);
    if (created != INVALID_HANDLE_VALUE) {
      placeholder.Made(pszNewFile);
      if (!CloseHandle(created)) return FALSE;
    }
    if (!GetShortPath(pszNewFile, szDestination)) return FALSE;
  }
  wchar_t szSource[kPathCapacity];
  if (!GetShortPath(pszExistingFile, szSource)) return FALSE;

  // A line that would not fit is refused whole rather than written cut off.
  const size_t lineLength = wcslen(szDestination) + 1 + wcslen(szSource) + 2;
  if (lineLength > kLineCapacity - 1) return FALSE;
  wchar_t szLine[kLineCapacity];
  if (_snwprintf(szLine, kLineCapacity, kRenameLineFormat, szDestination, szSource) !=
      static_cast<int>(lineLength))
    return FALSE;

  wchar_t szWininit[kPathCapacity];
  const UINT folderLength = GetWindowsDirectoryW(szWininit, kWindowsFolderCapacity);
  if (folderLength == 0 || folderLength >= kWindowsFolderCapacity) return FALSE;
  if (!lstrcatW(szWininit, kWininitName)) return FALSE;

  WininitInsertion insertion(szWininit, std::wstring_view(szLine, lineLength), calls);
  if (!insertion.Run()) return FALSE;
  placeholder.Keep();
  return TRUE;
}
