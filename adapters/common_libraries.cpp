// The binding to the host's common libraries: finding them, looking up each function under its
// Microsoft-decorated and its GCC-mangled names, and calling it in its own ABI.
#include "adapters/common_libraries.h"

#include <cstddef>
#include <new>
#include <utility>

#include "base/folders.h"
#include "base/handles.h"
#include "base/this_module.h"

namespace common_libraries {
namespace {

constexpr wchar_t kCommonLibrary[] = L"CadenzaCommon.dll";
constexpr wchar_t kWidgetLibrary[] = L"CadenzaWidget_MFC.dll";

// ---- the names, Microsoft decorations first ---------------------------------------------------
// MSVC marks every pointer and reference with E (__ptr64) on x64; x86 has no marker.
#if defined(_WIN64)
#define MS_PTR "E"
#else
#define MS_PTR ""
#endif
// ATL::CStringT<wchar_t, TRAITS<wchar_t, ATL::ChTraitsCRT<wchar_t>>>: TRAITS is StrTraitMFC_DLL
// when the player links MFC as a DLL, StrTraitMFC when it links it statically.
#define MS_CSTRING(traits) "V?$CStringT@_WV?$" traits "@_WV?$ChTraitsCRT@_W@ATL@@@@@ATL@@"
// The same for a player compiled with /Zc:wchar_t- (wchar_t as unsigned short, G); MFC's own
// libraries carry both forms, so such a player exists. The layouts are the same.
#define MS_CSTRING_G(traits) "V?$CStringT@GV?$" traits "@GV?$ChTraitsCRT@G@ATL@@@@@ATL@@"

// Each list ends with the GCC name; the ones before it are Microsoft decorations.
constexpr const char* kGetAppVersionNames[] = {
    "?GetAppVersion@cadenza@@YAKXZ",  // DWORD GetAppVersion()
    "?GetAppVersion@cadenza@@YAIXZ",  // UINT GetAppVersion()
    "_ZN7cadenza13GetAppVersionEv"};
constexpr const char* kGetExeFolderNames[] = {
    "?GetExeFolder@cadenza@@YA?A" MS_CSTRING("StrTraitMFC_DLL") "XZ",
    "?GetExeFolder@cadenza@@YA?A" MS_CSTRING("StrTraitMFC") "XZ",
    "?GetExeFolder@cadenza@@YA?A" MS_CSTRING_G("StrTraitMFC_DLL") "XZ",
    "?GetExeFolder@cadenza@@YA?A" MS_CSTRING_G("StrTraitMFC") "XZ",
    "_ZN7cadenza12GetExeFolderB5cxx11Ev"};
constexpr const char* kLoadStringNames[] = {
    "?LoadStringW@cadenza@@YAHIA" MS_PTR "A" MS_CSTRING("StrTraitMFC_DLL") "@Z",
    "?LoadStringW@cadenza@@YAHIA" MS_PTR "A" MS_CSTRING("StrTraitMFC") "@Z",
    "?LoadStringW@cadenza@@YAHIA" MS_PTR "A" MS_CSTRING_G("StrTraitMFC_DLL") "@Z",
    "?LoadStringW@cadenza@@YAHIA" MS_PTR "A" MS_CSTRING_G("StrTraitMFC") "@Z",
    "_ZN7cadenza11LoadStringWEjRNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"};
constexpr const char* kLogNames[] = {
    "?Log@cadenza@@YAXP" MS_PTR "B_W0ZZ",
    "?Log@cadenza@@YAXP" MS_PTR "BG0ZZ",
    "_ZN7cadenza3LogEPKwS1_z"};
constexpr const char* kGetNormalFontNames[] = {
    "?GetNormalFont@CCadenzaFont@@SAP" MS_PTR "AVCFont@@XZ",
    "_ZN12CCadenzaFont13GetNormalFontEv"};

// ---- the Microsoft layouts ------------------------------------------------------------------
// On x86 the string manager's methods are Microsoft member functions: `this` in ECX, the callee
// pops its arguments. On x64 member functions use the one Windows x64 convention.
#if defined(__i386__)
#define MS_THISCALL __attribute__((thiscall))
#else
#define MS_THISCALL
#endif

struct StringManager;

// The header before a CString's characters (ATL's CStringData); the characters follow it.
struct CStringData {
  StringManager* pStringMgr;
  int nDataLength;   // characters in use, without the terminating null
  int nAllocLength;  // characters allocated, without the terminating null
  long nRefs;        // shared when above 1; locked when negative
  wchar_t* data() { return reinterpret_cast<wchar_t*>(this + 1); }
};
static_assert(sizeof(long) == 4);
static_assert(sizeof(CStringData) == (sizeof(void*) == 8 ? 24 : 16));

// IAtlStringMgr: a COM-style object whose first member is its method table, in this order.
struct StringManagerMethods {
  CStringData*(MS_THISCALL* Allocate)(StringManager* self, int nAllocLength, int nCharSize) noexcept;
  void(MS_THISCALL* Free)(StringManager* self, CStringData* pData) noexcept;
  CStringData*(MS_THISCALL* Reallocate)(StringManager* self, CStringData* pData, int nAllocLength,
                                        int nCharSize) noexcept;
  CStringData*(MS_THISCALL* GetNilString)(StringManager* self) noexcept;
  StringManager*(MS_THISCALL* Clone)(StringManager* self) noexcept;
};
struct StringManager {
  const StringManagerMethods* methods;
};

// CString (ATL::CStringT): one pointer, to the characters after the header.
struct MfcString {
  wchar_t* pszData;
};
static_assert(sizeof(MfcString) == sizeof(void*));

// CFont: CObject's virtual table pointer, then CGdiObject's handle.
struct MfcFont {
  void* vtable;
  HGDIOBJ m_hObject;
};

// The Microsoft functions: free functions and static members are __cdecl. A CString returned
// by value comes through a hidden pointer to the caller's storage (the first argument), which
// the function also returns; a CString& is a pointer to the caller's CString.
using MsGetExeFolder = MfcString*(__cdecl*)(MfcString* pResult);
using MsLoadString = int(__cdecl*)(UINT nID, MfcString* pTarget);
using MsGetNormalFont = MfcFont*(__cdecl*)();
// The GCC functions, as the reference host's libraries declare them.
using GnuGetExeFolder = std::wstring (*)();
using GnuLoadString = int (*)(UINT nID, std::wstring& strTarget);
using GnuGetNormalFont = HFONT (*)();
// The same binary form in both ABIs.
using GetAppVersionFn = DWORD(__cdecl*)();
using LogFn = void(__cdecl*)(const wchar_t* pszLogFile, const wchar_t* pszFormat, ...);

// Releases a CString's reference to its data, through the data's own manager when it was the
// last; a string without data (never constructed) is left alone.
void ReleaseMfcString(MfcString& string) noexcept {
  if (string.pszData == nullptr) return;
  CStringData* header = reinterpret_cast<CStringData*>(string.pszData) - 1;
  string.pszData = nullptr;
  if (InterlockedDecrement(&header->nRefs) <= 0 && header->pStringMgr != nullptr)
    header->pStringMgr->methods->Free(header->pStringMgr, header);
}

// A CString the component holds: released on every way out, also when copying its text throws.
class HeldMfcString {
 public:
  HeldMfcString() = default;
  explicit HeldMfcString(CStringData* data) : m_string{data ? data->data() : nullptr} {}
  ~HeldMfcString() { ReleaseMfcString(m_string); }
  HeldMfcString(const HeldMfcString&) = delete;
  HeldMfcString& operator=(const HeldMfcString&) = delete;
  MfcString* get() { return &m_string; }

  // The characters in use; empty when the header is not a sane one.
  std::wstring Text() const {
    if (m_string.pszData == nullptr) return std::wstring();
    const CStringData* header = reinterpret_cast<const CStringData*>(m_string.pszData) - 1;
    if (header->nDataLength <= 0 || header->nDataLength > header->nAllocLength) return std::wstring();
    return std::wstring(m_string.pszData, static_cast<size_t>(header->nDataLength));
  }

 private:
  MfcString m_string{nullptr};
};

// ---- the component's own string manager -------------------------------------------------------
// Gives the library the empty string it assigns LoadStringW's text into; the library allocates
// (Clone()->Allocate, Reallocate) and frees through it, and so does the component afterwards. Its
// memory is the process heap; each block is marked so that a block it did not make is never
// handed to HeapFree.
struct OwnBlock {
  const void* mark;
  void* padding;  // keeps the header at a pointer-pair boundary
  CStringData header;
};
constexpr size_t kHeaderOffset = offsetof(OwnBlock, header);

struct NilString {
  CStringData header;
  wchar_t chars[2];
};
static_assert(offsetof(NilString, chars) == sizeof(CStringData));

CStringData* MS_THISCALL OwnAllocate(StringManager* self, int nAllocLength, int nCharSize) noexcept;
void MS_THISCALL OwnFree(StringManager* self, CStringData* pData) noexcept;
CStringData* MS_THISCALL OwnReallocate(StringManager* self, CStringData* pData, int nAllocLength,
                                       int nCharSize) noexcept;
CStringData* MS_THISCALL OwnGetNilString(StringManager* self) noexcept;
StringManager* MS_THISCALL OwnClone(StringManager* self) noexcept;

constexpr StringManagerMethods kOwnMethods = {&OwnAllocate, &OwnFree, &OwnReallocate,
                                              &OwnGetNilString, &OwnClone};
StringManager g_ownManager = {&kOwnMethods};
// Its empty string: two references that nobody releases, so that it is never freed.
NilString g_ownNil = {{&g_ownManager, 0, 0, 2}, {0, 0}};
volatile LONG g_ownAllocated = 0;
volatile LONG g_ownFreed = 0;

// Bytes of a block for nAllocLength characters of nCharSize bytes and the terminating null;
// 0 when the request is not a sane one.
size_t OwnBlockSize(int nAllocLength, int nCharSize) {
  if (nAllocLength < 0 || (nCharSize != 1 && nCharSize != 2)) return 0;
  constexpr int kMaxLength = 0x3FFFFFFF / 2;
  if (nAllocLength > kMaxLength) return 0;
  return sizeof(OwnBlock) + (static_cast<size_t>(nAllocLength) + 1) * static_cast<size_t>(nCharSize);
}

OwnBlock* OwnBlockOf(CStringData* pData) {
  if (pData == nullptr) return nullptr;
  auto* block = reinterpret_cast<OwnBlock*>(reinterpret_cast<char*>(pData) - kHeaderOffset);
  return block->mark == &g_ownManager ? block : nullptr;
}

CStringData* MS_THISCALL OwnAllocate(StringManager* self, int nAllocLength, int nCharSize) noexcept {
  const size_t size = OwnBlockSize(nAllocLength, nCharSize);
  if (size == 0) return nullptr;
  auto* block = static_cast<OwnBlock*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  if (block == nullptr) return nullptr;
  block->mark = &g_ownManager;
  block->header.pStringMgr = self;
  block->header.nDataLength = 0;
  block->header.nAllocLength = nAllocLength;
  block->header.nRefs = 1;
  InterlockedIncrement(&g_ownAllocated);
  return &block->header;
}

void MS_THISCALL OwnFree(StringManager*, CStringData* pData) noexcept {
  if (pData == &g_ownNil.header) return;
  OwnBlock* block = OwnBlockOf(pData);
  if (block == nullptr) return;  // the nil string, or not ours: never freed here
  block->mark = nullptr;
  HeapFree(GetProcessHeap(), 0, block);
  InterlockedIncrement(&g_ownFreed);
}

CStringData* MS_THISCALL OwnReallocate(StringManager*, CStringData* pData, int nAllocLength,
                                       int nCharSize) noexcept {
  OwnBlock* block = pData == &g_ownNil.header ? nullptr : OwnBlockOf(pData);
  const size_t size = OwnBlockSize(nAllocLength, nCharSize);
  if (block == nullptr || size == 0) return nullptr;  // the old block stays as it was
  auto* moved = static_cast<OwnBlock*>(HeapReAlloc(GetProcessHeap(), 0, block, size));
  if (moved == nullptr) return nullptr;
  moved->header.nAllocLength = nAllocLength;
  return &moved->header;
}

CStringData* MS_THISCALL OwnGetNilString(StringManager*) noexcept {
  InterlockedIncrement(&g_ownNil.header.nRefs);
  return &g_ownNil.header;
}

StringManager* MS_THISCALL OwnClone(StringManager* self) noexcept { return self; }

// ---- finding the libraries and their functions -----------------------------------------------

// The module the process has loaded by that base name, used without a reference of ours (the
// player keeps its libraries for its whole life); else the file in the component's folder,
// else in the executable's, loaded by its full path with a reference of ours (loadedByUs).
// searched is false when a folder could not be looked in (no memory for its path): then the
// library is not known to be missing, and the binding is not kept.
HMODULE FindLibrary(const wchar_t* name, bool& loadedByUs, bool& searched) {
  loadedByUs = false;
  searched = true;
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, &module)) return module;
  try {
    const std::wstring folders[] = {ModuleFolderOf(ThisModule()), ModuleFolderOf(nullptr)};
    for (size_t i = 0; i < 2; ++i) {
      if (folders[i].empty()) continue;
      if (i == 1 && CompareStringOrdinal(folders[0].c_str(), -1, folders[1].c_str(), -1, TRUE) == CSTR_EQUAL)
        continue;
      module = LoadLibraryExW((folders[i] + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (module != nullptr) {
        loadedByUs = true;
        return module;
      }
    }
  } catch (const std::bad_alloc&) {
    searched = false;  // missing for this call only
  }
  return nullptr;
}

// The first of the names the module exports; abi says which kind it was.
template <size_t N>
FARPROC FindFunction(HMODULE module, const char* const (&names)[N], Abi& abi) {
  abi = Abi::kMissing;
  if (module == nullptr) return nullptr;
  for (size_t i = 0; i < N; ++i) {
    if (FARPROC found = GetProcAddress(module, names[i])) {
      abi = i + 1 < N ? Abi::kMicrosoft : Abi::kGnu;
      return found;
    }
  }
  return nullptr;
}

template <typename Fn>
Fn As(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

struct Binding {
  HMODULE common = nullptr;
  HMODULE widget = nullptr;
  bool commonLoadedByUs = false;
  bool widgetLoadedByUs = false;
  Abi getAppVersionAbi = Abi::kMissing, getExeFolderAbi = Abi::kMissing,
      loadStringAbi = Abi::kMissing, logAbi = Abi::kMissing, getNormalFontAbi = Abi::kMissing;
  FARPROC getAppVersion = nullptr, getExeFolder = nullptr, loadString = nullptr, log = nullptr,
          getNormalFont = nullptr;
};

// ---- saying what was bound ------------------------------------------------------------------

// One line in a fixed buffer: appending never allocates, and what does not fit is cut.
class DebugLine {
 public:
  DebugLine& operator<<(const wchar_t* text) noexcept {
    while (text != nullptr && *text != 0 && length_ + 1 < kSize) text_[length_++] = *text++;
    text_[length_] = 0;
    return *this;
  }
  void Send() const noexcept { OutputDebugStringW(text_); }

 private:
  static constexpr size_t kSize = 1024;
  wchar_t text_[kSize] = {};
  size_t length_ = 0;
};

struct FunctionFound {
  const wchar_t* name;
  Abi abi;
};

// Tells a debugger, once per binding and library, where the library came from, which ABI its
// functions were found in and which function was found under none of its names, so that a
// player whose library exports other names (another compiler setting, a typo) sees why the
// component has no folder, strings, log or font. The component goes on without what is missing.
template <size_t N>
void ReportBinding(const wchar_t* library, HMODULE module, bool loadedByUs, const FunctionFound (&functions)[N]) noexcept {
  DebugLine line;
  line << L"Cadenza_Upgrade.dll: " << library;
  if (module == nullptr) {
    line << L" not found (not loaded by the player, not in the component's folder, not in the player's)";
  } else {
    wchar_t path[MAX_PATH] = L"";
    if (GetModuleFileNameW(module, path, MAX_PATH) == 0) path[0] = 0;
    path[MAX_PATH - 1] = 0;
    line << (loadedByUs ? L" loaded by the component from " : L" loaded by the player from ") << path;
    bool microsoft = false, gnu = false;
    for (const FunctionFound& f : functions) {
      microsoft = microsoft || f.abi == Abi::kMicrosoft;
      gnu = gnu || f.abi == Abi::kGnu;
    }
    line << (microsoft && gnu ? L", Microsoft and GCC ABI mixed" : microsoft ? L", Microsoft ABI"
             : gnu ? L", GCC ABI" : L", no function found");
  }
  bool allFound = true;
  for (const FunctionFound& f : functions) {
    if (f.abi != Abi::kMissing) continue;
    line << (allFound ? L"; found under no name: " : L", ") << f.name;
    allFound = false;
  }
  if (allFound) line << L"; every function found";
  line << L"\n";
  line.Send();
}

// Bound once, on the first call after loading or after Release(); the lock keeps Release() from
// freeing a library while a call into it runs.
SRWLOCK g_lock = SRWLOCK_INIT;
bool g_bound = false;
Binding g_binding;

// A search cut short by an allocation failure binds nothing and is not kept: the call that ran
// into it goes on without the libraries, and the next call binds again, so that a passing
// shortage never leaves them missing for the rest of the component's life.
void Bind() {
  Binding b;
  bool commonSearched = true, widgetSearched = true;
  b.common = FindLibrary(kCommonLibrary, b.commonLoadedByUs, commonSearched);
  b.widget = FindLibrary(kWidgetLibrary, b.widgetLoadedByUs, widgetSearched);
  if (!commonSearched || !widgetSearched) {
    if (b.commonLoadedByUs) FreeLibrary(b.common);
    if (b.widgetLoadedByUs) FreeLibrary(b.widget);
    return;
  }
  b.getAppVersion = FindFunction(b.common, kGetAppVersionNames, b.getAppVersionAbi);
  b.getExeFolder = FindFunction(b.common, kGetExeFolderNames, b.getExeFolderAbi);
  b.loadString = FindFunction(b.common, kLoadStringNames, b.loadStringAbi);
  b.log = FindFunction(b.common, kLogNames, b.logAbi);
  b.getNormalFont = FindFunction(b.widget, kGetNormalFontNames, b.getNormalFontAbi);
  const FunctionFound common[] = {{L"cadenza::GetAppVersion", b.getAppVersionAbi},
                                  {L"cadenza::GetExeFolder", b.getExeFolderAbi},
                                  {L"cadenza::LoadStringW", b.loadStringAbi},
                                  {L"cadenza::Log", b.logAbi}};
  const FunctionFound widget[] = {{L"CCadenzaFont::GetNormalFont", b.getNormalFontAbi}};
  ReportBinding(kCommonLibrary, b.common, b.commonLoadedByUs, common);
  ReportBinding(kWidgetLibrary, b.widget, b.widgetLoadedByUs, widget);
  g_binding = b;
  g_bound = true;
}

// Drops the references of a binding that was not kept (or is released), under the exclusive lock.
void Unbind() {
  if (g_binding.commonLoadedByUs) FreeLibrary(g_binding.common);
  if (g_binding.widgetLoadedByUs) FreeLibrary(g_binding.widget);
  g_binding = Binding();
}

// Held around each call into a library: binds first when needed.
class BoundUse {
 public:
  BoundUse() noexcept {
    AcquireSRWLockShared(&g_lock);
    if (g_bound) return;
    ReleaseSRWLockShared(&g_lock);
    AcquireSRWLockExclusive(&g_lock);
    if (!g_bound) Unbind(), Bind();
    ReleaseSRWLockExclusive(&g_lock);
    AcquireSRWLockShared(&g_lock);  // a Release() in between leaves every function missing
  }
  ~BoundUse() { ReleaseSRWLockShared(&g_lock); }
  BoundUse(const BoundUse&) = delete;
  BoundUse& operator=(const BoundUse&) = delete;
  const Binding& binding() const { return g_binding; }
};

}  // namespace

DWORD GetAppVersion() noexcept {
  BoundUse use;
  const Binding& b = use.binding();
  return b.getAppVersion ? As<GetAppVersionFn>(b.getAppVersion)() : 0;
}

std::wstring GetExeFolder() {
  BoundUse use;
  const Binding& b = use.binding();
  if (b.getExeFolderAbi == Abi::kGnu) return As<GnuGetExeFolder>(b.getExeFolder)();
  if (b.getExeFolderAbi != Abi::kMicrosoft) return std::wstring();
  HeldMfcString folder;
  As<MsGetExeFolder>(b.getExeFolder)(folder.get());
  return folder.Text();
}

int LoadStringW(UINT nID, std::wstring& strTarget) {
  BoundUse use;
  const Binding& b = use.binding();
  if (b.loadStringAbi == Abi::kGnu) return As<GnuLoadString>(b.loadString)(nID, strTarget);
  if (b.loadStringAbi != Abi::kMicrosoft) return 0;
  HeldMfcString target(OwnGetNilString(&g_ownManager));
  const int result = As<MsLoadString>(b.loadString)(nID, target.get());
  std::wstring text = target.Text();
  if (!text.empty()) strTarget = std::move(text);
  return result;
}

void Log(const wchar_t* pszLogFile, const wchar_t* pszFormat, const wchar_t* pszText) noexcept {
  BoundUse use;
  const Binding& b = use.binding();
  if (b.log) As<LogFn>(b.log)(pszLogFile, pszFormat, pszText);
}

HFONT GetNormalFont() noexcept {
  BoundUse use;
  const Binding& b = use.binding();
  if (b.getNormalFontAbi == Abi::kGnu) return As<GnuGetNormalFont>(b.getNormalFont)();
  if (b.getNormalFontAbi != Abi::kMicrosoft) return nullptr;
  const MfcFont* font = As<MsGetNormalFont>(b.getNormalFont)();
  return font ? static_cast<HFONT>(font->m_hObject) : nullptr;
}

void Release() noexcept {
  ExclusiveLock hold(g_lock);
  Unbind();
  g_bound = false;
}

BindingState CurrentBinding() noexcept {
  BoundUse use;
  const Binding& b = use.binding();
  return BindingState{b.getAppVersionAbi, b.getExeFolderAbi, b.loadStringAbi, b.logAbi,
                      b.getNormalFontAbi, b.commonLoadedByUs, b.widgetLoadedByUs};
}

StringCounts ComponentStringCounts() noexcept {
  return StringCounts{InterlockedCompareExchange(&g_ownAllocated, 0, 0),
                      InterlockedCompareExchange(&g_ownFreed, 0, 0)};
}

}  // namespace common_libraries
