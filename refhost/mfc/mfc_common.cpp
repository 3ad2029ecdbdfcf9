// CadenzaCommon.dll as a player built with MSVC and MFC exports it: the same host folder, player
// version, string table and logs as the GCC-built reference library, through MFC's CString.
// Its string manager counts the strings it makes and frees; ReferenceStringCounts (undecorated,
// a diagnostic of this reference library only) reports them.
#include <stdarg.h>
#include <stdio.h>
#include <shlobj.h>

#include "refhost/mfc/mfc_lookalike.h"
#define CADENZA_COMMON_BUILD
#include "player_api/cadenza_common.h"

extern "C" char __ImageBase;

namespace {

constexpr wchar_t kAppVersionVariable[] = L"CADENZA_APP_VERSION";
constexpr wchar_t kLogFolderVariable[] = L"CADENZA_LOG_FOLDER";
constexpr wchar_t kLogSubfolder[] = L"Cadenza\\Log\\";

HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

long Add(long& counter, long n) { return __atomic_add_fetch(&counter, n, __ATOMIC_SEQ_CST); }
long Read(const long& counter) { return __atomic_load_n(&counter, __ATOMIC_SEQ_CST); }

// The library's manager: process-heap blocks marked as its own, with counts. A block that is not
// its own is never freed here, only counted, so that a caller that frees a string through the
// wrong manager shows in the counts instead of corrupting a heap.
class CountingStringMgr final : public ATL::IAtlStringMgr {
 public:
  constexpr CountingStringMgr() : m_nil(this) {}

  ATL::CStringData* Allocate(int nAllocLength, int nCharSize) override {
    SIZE_T size = BlockSize(nAllocLength, nCharSize);
    if (size == 0) return nullptr;
    auto* block = static_cast<Block*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (block == nullptr) return nullptr;
    block->owner = this;
    block->header.pStringMgr = this;
    block->header.nDataLength = 0;
    block->header.nAllocLength = nAllocLength;
    block->header.nRefs = 1;
    Add(m_allocated, 1);
    return &block->header;
  }
  void Free(ATL::CStringData* pData) override {
    Block* block = Own(pData);
    if (block == nullptr) {
      if (pData != &m_nil) Add(m_foreignFrees, 1);
      return;
    }
    block->owner = nullptr;
    HeapFree(GetProcessHeap(), 0, block);
    Add(m_freed, 1);
  }
  ATL::CStringData* Reallocate(ATL::CStringData* pData, int nAllocLength, int nCharSize) override {
    Block* block = Own(pData);
    SIZE_T size = BlockSize(nAllocLength, nCharSize);
    if (block == nullptr || size == 0) return nullptr;
    auto* moved = static_cast<Block*>(HeapReAlloc(GetProcessHeap(), 0, block, size));
    if (moved == nullptr) return nullptr;
    moved->header.nAllocLength = nAllocLength;
    return &moved->header;
  }
  ATL::CStringData* GetNilString() override {
    m_nil.AddRef();
    return &m_nil;
  }
  ATL::IAtlStringMgr* Clone() override { return this; }

  long allocated() const { return Read(m_allocated); }
  long freed() const { return Read(m_freed); }
  long foreignFrees() const { return Read(m_foreignFrees); }

 private:
  struct Block {
    CountingStringMgr* owner;
    void* padding;  // keeps the header at a pointer-pair boundary
    ATL::CStringData header;
  };
  static SIZE_T BlockSize(int nAllocLength, int nCharSize) {
    if (nAllocLength < 0 || nAllocLength > 0x0FFFFFFF || (nCharSize != 1 && nCharSize != 2)) return 0;
    return sizeof(Block) + static_cast<SIZE_T>(nAllocLength + 1) * static_cast<SIZE_T>(nCharSize);
  }
  Block* Own(ATL::CStringData* pData) {
    if (pData == nullptr || pData == &m_nil) return nullptr;
    auto* block = reinterpret_cast<Block*>(reinterpret_cast<char*>(pData) - __builtin_offsetof(Block, header));
    return block->owner == this ? block : nullptr;
  }

  ATL::CNilStringData m_nil;
  long m_allocated = 0;
  long m_freed = 0;
  long m_foreignFrees = 0;
};

constinit CountingStringMgr g_stringMgr;
// Assignments into a string of another manager (LoadStringW's target): made through that one.
long g_foreignAssignments = 0;

// A block of the process heap for the length of one call.
template <typename T>
class HeapBuffer {
 public:
  explicit HeapBuffer(SIZE_T count) : m_data(static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(T) + sizeof(T)))) {}
  ~HeapBuffer() {
    if (m_data) HeapFree(GetProcessHeap(), 0, m_data);
  }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;
  T* get() const { return m_data; }

 private:
  T* m_data;
};

int Length(const wchar_t* text) {
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Full path of the executable into path; false when it cannot be read.
bool ExecutablePath(CString& path) {
  for (DWORD size = MAX_PATH; size <= 0x8000 * 4; size *= 2) {
    wchar_t* buffer = path.GetBuffer(static_cast<int>(size));
    if (buffer == nullptr) return false;
    DWORD length = GetModuleFileNameW(nullptr, buffer, size);
    if (length == 0) {
      path.ReleaseBuffer(0);
      return false;
    }
    if (length < size) {
      path.ReleaseBuffer(static_cast<int>(length));
      return true;
    }
  }
  path.ReleaseBuffer(0);
  return false;
}

// An environment variable's value into a buffer of `size` characters; false when not set.
bool ReadEnvironment(const wchar_t* name, wchar_t* value, DWORD size) {
  DWORD length = GetEnvironmentVariableW(name, value, size);
  return length != 0 && length < size;
}

// A 32-bit unsigned number in decimal or, after "0x", in hexadecimal; nothing else.
bool ParseVersion(const wchar_t* text, DWORD& value) {
  unsigned base = 10;
  int pos = 0;
  if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') && text[2] != 0) {
    base = 16;
    pos = 2;
  }
  if (text[pos] == 0) return false;
  DWORD number = 0;
  for (; text[pos] != 0; ++pos) {
    wchar_t c = text[pos];
    unsigned digit;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    else return false;
    if (number > (0xFFFFFFFFu - digit) / base) return false;
    number = number * base + digit;
  }
  value = number;
  return true;
}

DWORD VersionFromResource(const wchar_t* path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return 0;
  HeapBuffer<char> block(size);
  if (block.get() == nullptr || !GetFileVersionInfoW(path, 0, size, block.get())) return 0;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO))
    return 0;
  return info->dwFileVersionMS;
}

bool IsPlainFileName(const wchar_t* name) {
  if (name == nullptr || name[0] == 0) return false;
  if ((name[0] == L'.' && name[1] == 0) || (name[0] == L'.' && name[1] == L'.' && name[2] == 0)) return false;
  for (const wchar_t* c = name; *c; ++c)
    if (*c == L'\\' || *c == L'/' || *c == L':') return false;
  return true;
}

// The log folder, ending in a backslash, into folder; false when there is none.
bool LogFolder(CString& folder) {
  wchar_t* buffer = folder.GetBuffer(0x8000);
  if (buffer == nullptr) return false;
  int length = 0;
  if (ReadEnvironment(kLogFolderVariable, buffer, 0x8000) && buffer[0] != 0) {
    length = Length(buffer);
    if (buffer[length - 1] != L'\\' && buffer[length - 1] != L'/') buffer[length++] = L'\\';
  } else {
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) < 0 || buffer[0] == 0) {
      folder.ReleaseBuffer(0);
      return false;
    }
    length = Length(buffer);
    if (buffer[length - 1] != L'\\') buffer[length++] = L'\\';
    for (const wchar_t* c = kLogSubfolder; *c; ++c) buffer[length++] = *c;
  }
  folder.ReleaseBuffer(length);
  return true;
}

// The C runtime's wide printf into a buffer of `size` characters; the length, or -1.
int FormatInto(wchar_t* buffer, SIZE_T size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int length = _vsnwprintf(buffer, size - 1, format, args);
  va_end(args);
  if (length >= 0) buffer[length] = 0;
  return length;
}

void AppendToLog(const wchar_t* logFile, const wchar_t* text, int textLength) {
  CString folder;
  if (!LogFolder(folder)) return;
  int created = SHCreateDirectoryExW(nullptr, folder.GetString(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) return;

  // The stamp, the text with its line breaks written as \n, CR LF.
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[64];
  const int stampLength = FormatInto(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear,
                                     now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                     now.wMilliseconds, GetCurrentProcessId());
  if (stampLength < 0) return;
  HeapBuffer<wchar_t> line(static_cast<SIZE_T>(stampLength) + 2 * static_cast<SIZE_T>(textLength) + 2);
  if (line.get() == nullptr) return;
  int n = 0;
  for (int i = 0; i < stampLength; ++i) line.get()[n++] = stamp[i];
  for (int i = 0; i < textLength; ++i) {
    wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      if (c == L'\r' && i + 1 < textLength && text[i + 1] == L'\n') ++i;
      line.get()[n++] = L'\\';
      line.get()[n++] = L'n';
    } else {
      line.get()[n++] = c;
    }
  }
  line.get()[n++] = L'\r';
  line.get()[n++] = L'\n';
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line.get(), n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  HeapBuffer<char> utf8(static_cast<SIZE_T>(bytes));
  if (utf8.get() == nullptr) return;
  WideCharToMultiByte(CP_UTF8, 0, line.get(), n, utf8.get(), bytes, nullptr, nullptr);

  CString path(folder);
  const int folderLength = path.GetLength();
  const int nameLength = Length(logFile);
  wchar_t* pathBuffer = path.GetBuffer(folderLength + nameLength);
  if (pathBuffer == nullptr) return;
  for (int i = 0; i < nameLength; ++i) pathBuffer[folderLength + i] = logFile[i];
  path.ReleaseBuffer(folderLength + nameLength);
  // Append access: each single write lands at the end, also with several writers.
  HANDLE file = CreateFileW(path.GetString(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.get(), static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

ATL::IAtlStringMgr* AfxGetStringManager() { return &g_stringMgr; }

namespace {
// A text into a caller's string, through the string's own manager (counted when not ours).
bool Assign(CStringW& target, const wchar_t* text, int length) {
  if (target.GetManager() != &g_stringMgr) Add(g_foreignAssignments, 1);
  return target.SetString(text, length);
}
}  // namespace

namespace cadenza {

DWORD GetAppVersion() {
  wchar_t text[64];
  DWORD version = 0;
  if (ReadEnvironment(kAppVersionVariable, text, 64) && ParseVersion(text, version)) return version;
  CString exe;
  return ExecutablePath(exe) ? VersionFromResource(exe.GetString()) : 0;
}

CStringW GetExeFolder() {
  CString path;
  if (!ExecutablePath(path)) return path;
  int slash = path.GetLength() - 1;
  while (slash >= 0 && path.GetString()[slash] != L'\\') --slash;
  path.Truncate(slash + 1);  // no backslash at all: empty
  return path;
}

int LoadStringW(UINT nID, CStringW& strTarget) {
  // The player's own string table first, as a player's library would read it; else the texts
  // built into this library. A string table holds blocks of 16 texts: block id/16 + 1, each text
  // a length word followed by that many characters.
  const wchar_t* playerText = nullptr;
  const int playerLength = ::LoadStringW(GetModuleHandleW(nullptr), nID, reinterpret_cast<wchar_t*>(&playerText), 0);
  if (playerLength > 0 && playerText != nullptr) {
    return Assign(strTarget, playerText, playerLength) ? strTarget.GetLength() : 0;
  }
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
  return Assign(strTarget, reinterpret_cast<const wchar_t*>(entry + 1), *entry) ? strTarget.GetLength() : 0;
}

void Log(const wchar_t* pszLogFile, const wchar_t* pszFormat, ...) {
  if (pszFormat == nullptr || !IsPlainFileName(pszLogFile)) return;
  va_list args;
  va_start(args, pszFormat);
  va_list measure;
  va_copy(measure, args);
  int length = _vscwprintf(pszFormat, measure);
  va_end(measure);
  if (length >= 0) {
    HeapBuffer<wchar_t> text(static_cast<SIZE_T>(length) + 1);
    if (text.get() != nullptr) {
      int written = _vsnwprintf(text.get(), static_cast<SIZE_T>(length) + 1, pszFormat, args);
      if (written >= 0) AppendToLog(pszLogFile, text.get(), written);
    }
  }
  va_end(args);
}

}  // namespace cadenza

// Strings this library's manager made and freed, frees of blocks it did not make, and
// assignments it made into strings of another manager.
extern "C" __declspec(dllexport) void ReferenceStringCounts(long* allocated, long* freed,
                                                           long* foreignFrees, long* foreignAssignments) {
  if (allocated) *allocated = g_stringMgr.allocated();
  if (freed) *freed = g_stringMgr.freed();
  if (foreignFrees) *foreignFrees = g_stringMgr.foreignFrees();
  if (foreignAssignments) *foreignAssignments = Read(g_foreignAssignments);
}
