// The floor of the tips window's first show: in a process of the same shape as the first show's
// (the host's provider registered, its common libraries loaded, its main window up and
// painted), the calls that a first show cannot do without, made directly, once each, in the
// component's order:
//   lookup     the player's version, the AppData folder, the MD5 of the folder key, the probe
//              of every folder on the way, one open of the record and the record's reads;
//   settings   the provider, the settings object, the prompting flag read and the version
//              stored, the owner window;
//   log        the log line, through the host's common library;
//   window     a topmost popup of its final size and place, owned by the main window, with a
//              rich edit control at its final place in the host's font and the content's
//              formats, bound to the skin engine, which loads the same document;
//   text       the folded text the first show ended with, and its link marked;
//   show       shown without activation, until it is visible in its corner and painted.
#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>
#include <richedit.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "bench/first_show.h"
#include "bench/platform_floor.h"
#include "bench/window_wait.h"
#include "player_api/host_services.h"
#include "tests/common/test_files.h"
#include "tips/tips_skin.h"
#include "tips/upgrade_tips_wnd.h"

using Microsoft::WRL::ComPtr;

namespace bench {

namespace {

constexpr DWORD kChildTimeoutMs = 120000;
constexpr DWORD kShowTimeoutMs = 10000;
constexpr wchar_t kPopupClass[] = L"CadenzaBenchFloorPopup";
constexpr int kWidth = 258, kHeight = 170;           // the skin document's window
constexpr RECT kContentRect = {25, 60, 250, 135};    // its DlgItem
constexpr DWORD kReadChars = 1024;

// The record's reads in the component's order: integer (true) or string (false).
struct Read {
  bool integer;
  const wchar_t* key;
};
constexpr Read kRecordReads[] = {
    {true, L"UpdateRecord_S_bScheduleInstallation"}, {true, L"UpdateRecord_S_bCrisisPack"},
    {true, L"UpdateRecord_S_dwVersion"},             {true, L"UpdateRecord_S_wPatchNum"},
    {true, L"UpdateRecord_S_wBuildNum"},             {true, L"UpdateRecord_S_bCrisisPack"},
    {false, L"UpdateRecord_S_strModuleType"},        {true, L"UpdateRecord_S_dwVersion"},
    {true, L"UpdateRecord_S_wPatchNum"},             {true, L"UpdateRecord_S_wBuildNum"},
    {false, L"UpdateRecord_S_strVersionName"},       {false, L"UpdateRecord_S_strDescription"},
    {false, L"UpdateRecord_S_strZipFileName"},       {false, L"UpdateRecord_S_strExeFileName"},
    {false, L"UpdateRecord_S_byarHash"}};

using GetExeFolderFn = std::wstring (*)();
using GetAppVersionFn = DWORD (*)();
using LogFn = void (*)(const wchar_t*, const wchar_t*, ...);
using GetNormalFontFn = HFONT (*)();

template <typename Fn>
Fn Function(const wchar_t* library, const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(library), name)));
}

// The folder name of the key: one MD5, as hex digits.
bool Md5Name(BCRYPT_ALG_HANDLE algorithm, const std::wstring& key, std::wstring& name) {
  BYTE digest[16] = {};
  const bool ok = Md5OfKey(algorithm, key, digest);
  name = HexOf(digest, sizeof digest);
  return ok;
}

// The player's build, from its version resource.
bool PlayerBuild(const std::wstring& path, WORD& build) {
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) return false;
  std::vector<BYTE> buffer(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()) ||
      !VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr)
    return false;
  build = HIWORD(info->dwFileVersionLS);
  return true;
}

template <typename T>
HRESULT Create(IHostServiceProvider* provider, HRESULT (STDMETHODCALLTYPE IHostServiceProvider::*make)(IUnknown**),
               ComPtr<T>& out) {
  ComPtr<IUnknown> created;
  const HRESULT hr = (provider->*make)(created.GetAddressOf());
  if (FAILED(hr) || !created) return FAILED(hr) ? hr : E_FAIL;
  return created.As(&out);
}

}  // namespace

int RunFirstShowFloorChild(const std::wstring& resultPath, const std::wstring& profilePath,
                           const std::wstring& foldedPath) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return FailChild(resultPath, "CoInitializeEx failed");
  {
    FirstShowHost hostSide(profilePath);
    const std::string setUp = hostSide.SetUp();
    if (!setUp.empty()) return FailChild(resultPath, setUp);
    const std::string foldedBytes = testing_support::ReadBytes(foldedPath);
    const std::wstring folded(reinterpret_cast<const wchar_t*>(foldedBytes.data()),
                              foldedBytes.size() / sizeof(wchar_t));
    if (folded.size() < 4) return FailChild(resultPath, "no folded text from a first show");
    const auto getExeFolder = Function<GetExeFolderFn>(L"CadenzaCommon.dll", "_ZN7cadenza12GetExeFolderB5cxx11Ev");
    const auto getAppVersion = Function<GetAppVersionFn>(L"CadenzaCommon.dll", "_ZN7cadenza13GetAppVersionEv");
    const auto log = Function<LogFn>(L"CadenzaCommon.dll", "_ZN7cadenza3LogEPKwS1_z");
    const auto getNormalFont = Function<GetNormalFontFn>(L"CadenzaWidget_MFC.dll", "_ZN12CCadenzaFont13GetNormalFontEv");
    if (!getExeFolder || !getAppVersion || !log || !getNormalFont)
      return FailChild(resultPath, "the host's common functions not found");
    std::vector<wchar_t> buffer(kReadChars);
    BCRYPT_ALG_HANDLE md5 = nullptr;

    bool ok = true;
    StartShowHooks(GetModuleHandleW(nullptr), hostSide.MainWindow());
    const double start = NowMicroseconds();

    // The lookup.
    const std::wstring exeFolder = getExeFolder();
    WORD build = 0;
    ok = PlayerBuild(exeFolder + L"Cadenza.exe", build) && ok;
    ok = getAppVersion() != 0 && ok;
    wchar_t appDataPath[MAX_PATH] = {};
    ok = SHGetSpecialFolderPathW(nullptr, appDataPath, CSIDL_APPDATA, TRUE) && ok;
    std::wstring appData = appDataPath;
    if (appData.empty() || appData.back() != L'\\') appData += L'\\';
    std::wstring name;
    ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&md5, BCRYPT_MD5_ALGORITHM, nullptr, 0)) &&
         Md5Name(md5, Lower(exeFolder + L"CadenzaUpdate"), name) && ok;
    const std::wstring folder = appData + L"CadenzaUpdate\\" + name + L"\\";
    for (size_t slash = folder.find(L'\\'); slash != std::wstring::npos;
         slash = folder.find(L'\\', slash + 1)) {
      WIN32_FILE_ATTRIBUTE_DATA data;
      ok = GetFileAttributesExW(folder.substr(0, slash).c_str(), GetFileExInfoStandard, &data) &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ok;
    }
    const std::wstring record = folder + L"CadenzaUpdate.ini";
    HANDLE file = CreateFileW(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ok = false;
    else CloseHandle(file);
    std::wstring description;
    for (const Read& read : kRecordReads) {
      if (read.integer) {
        GetPrivateProfileIntW(kModuleType, read.key, -1, record.c_str());
      } else {
        const DWORD n = GetPrivateProfileStringW(kModuleType, read.key, L"NULL_STRING",
                                                 buffer.data(), kReadChars, record.c_str());
        if (wcscmp(read.key, L"UpdateRecord_S_strDescription") == 0)
          description.assign(buffer.data(), n);
      }
    }
    const double lookedUp = NowMicroseconds();

    // The settings.
    ComPtr<IHostServiceProvider> provider;
    ComPtr<IHostSettings> settings;
    LONG prompt = 0;
    HWND owner = nullptr;
    ok = SUCCEEDED(CoCreateInstance(CLSID_HostServiceProvider, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(provider.GetAddressOf()))) &&
         SUCCEEDED(Create(provider.Get(), &IHostServiceProvider::CreateSettings, settings)) &&
         SUCCEEDED(settings->GetPromptUpgrade(&prompt)) && prompt != 0 &&
         SUCCEEDED(settings->SetPromptedVersion(kPackageVersion)) &&
         SUCCEEDED(provider->GetMainWindow(&owner)) && ok;
    const double settled = NowMicroseconds();

    // The log line.
    log(L"music.txt", L"Upgrade Content:%s", description.c_str());
    const double logged = NowMicroseconds();

    // The window with its control and skin.
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kPopupClass;
    ok = RegisterClassExW(&wc) != 0 && ok;
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const HWND popup = CreateWindowExW(WS_EX_TOPMOST, kPopupClass, nullptr, WS_POPUP,
                                       work.right - kWidth, work.bottom - kHeight, kWidth,
                                       kHeight, owner, nullptr, wc.hInstance, nullptr);
    wchar_t richEditPath[MAX_PATH] = {};
    GetSystemDirectoryW(richEditPath, MAX_PATH);
    wcscat_s(richEditPath, L"\\riched20.dll");
    ok = LoadLibraryExW(richEditPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr && ok;
    const HWND content = CreateWindowExW(
        WS_EX_TRANSPARENT, L"RichEdit20W", nullptr,
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_MULTILINE, kContentRect.left,
        kContentRect.top, kContentRect.right - kContentRect.left,
        kContentRect.bottom - kContentRect.top, popup,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_UPGRADE_CONTENT)), wc.hInstance, nullptr);
    ok = popup != nullptr && content != nullptr && ok;
    SendMessageW(content, WM_SETFONT, reinterpret_cast<WPARAM>(getNormalFont()), TRUE);
    CHARFORMATW cf = {};
    cf.cbSize = sizeof cf;
    SendMessageW(content, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
    cf.dwMask |= CFM_SIZE | CFM_COLOR;
    cf.dwEffects &= ~CFE_AUTOCOLOR;
    cf.crTextColor = RGB(0x23, 0x65, 0x99);
    SendMessageW(content, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
    PARAFORMAT2 pf = {};
    pf.cbSize = sizeof pf;
    pf.dwMask = PFM_SPACEAFTER | PFM_LINESPACING;
    pf.bLineSpacingRule = 4;
    pf.dyLineSpacing = 275;
    SendMessageW(content, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
    SendMessageW(content, EM_SETEVENTMASK, 0, ENM_LINK);
    ComPtr<IHostSkinWindow> skin;
    ok = SUCCEEDED(Create(provider.Get(), &IHostServiceProvider::CreateSkinWindow, skin)) &&
         SUCCEEDED(skin->BindWindow(popup)) && SUCCEEDED(skin->PrepareWindow(popup)) && ok;
    const std::wstring document = BuildTipsSkinDocument(exeFolder + kUpgradeModuleName);
    BSTR bstrSkin = SysAllocStringLen(document.data(), static_cast<UINT>(document.size()));
    BSTR bstrScript = SysAllocString(kTipsSkinScript);
    ok = SUCCEEDED(skin->LoadSkin(popup, bstrSkin, bstrScript)) && ok;
    SysFreeString(bstrScript);
    SysFreeString(bstrSkin);
    const double created = NowMicroseconds();

    // The folded text and its link.
    SetWindowTextW(content, folded.c_str());
    const LRESULT end = SendMessageW(content, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(content, EM_SETSEL, end - 4, end);
    CHARFORMATW link = {};
    link.cbSize = sizeof link;
    SendMessageW(content, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&link));
    link.dwMask = CFM_COLOR | CFM_LINK;
    link.dwEffects = (link.dwEffects | CFE_LINK) & ~CFE_AUTOCOLOR;
    link.crTextColor = RGB(0x23, 0x65, 0x99);
    SendMessageW(content, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&link));
    SendMessageW(content, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    const double texted = NowMicroseconds();

    // Shown in its corner.
    ShowWindow(popup, SW_SHOWNOACTIVATE);
    const double showReturned = NowMicroseconds();
    double visible = 0, painted = 0;
    const bool shown = PumpUntil(
        [&] {
          if (!VisibleAndPlaced(popup)) return false;
          visible = NowMicroseconds();
          return true;
        },
        kShowTimeoutMs);
    if (shown && PumpUntil([&] { return Painted(popup); }, kShowTimeoutMs)) painted = NowMicroseconds();
    StopShowHooks();

    if (md5 != nullptr) BCryptCloseAlgorithmProvider(md5, 0);
    if (!ok) return FailChild(resultPath, "a call of the floor failed");
    if (!shown || painted == 0) return FailChild(resultPath, "the floor's window was not shown and painted");
    wchar_t shownText[64] = {};
    GetWindowTextW(content, shownText, 64);
    if (folded.compare(0, wcslen(shownText), shownText) != 0)
      return FailChild(resultPath, "the floor's control does not hold the folded text");

    const Values figures{
        {"call_returned_ms", Milliseconds(showReturned - start)},
        {"visible_placed_ms", Milliseconds(visible - start)},
        {"painted_ms", Milliseconds(painted - start)},
        {"lookup_ms", Milliseconds(lookedUp - start)},
        {"settings_ms", Milliseconds(settled - lookedUp)},
        {"log_ms", Milliseconds(logged - settled)},
        {"before_create_ms", Milliseconds(logged - start)},
        {"create_skin_ms", Milliseconds(created - logged)},
        {"fold_ms", Milliseconds(texted - created)},
        {"show_visible_ms", Milliseconds(visible - texted)},
    };
    ShowWindow(popup, SW_HIDE);
    if (!WriteValues(resultPath, figures)) return 1;
  }
  CoUninitialize();
  return 0;
}

bool MeasureFirstShowFloor(const std::wstring& workFolder, int run, Values& figures,
                           std::string& error) {
  const std::wstring resultPath = workFolder + L"first_show_floor_" + std::to_wstring(run) + L".txt";
  const std::wstring profilePath = workFolder + L"profile_floor_" + std::to_wstring(run) + L".ini";
  return RunChild(L"--first-show-floor-child \"" + resultPath + L"\" \"" + profilePath + L"\" \"" +
                      workFolder + L"folded.txt\"",
                  resultPath, kChildTimeoutMs, "first-show floor", figures, error);
}

}  // namespace bench
