// Cadenza.exe, the reference host: the player's stand-in. It registers its host service provider
// in its process, keeps its own UpgradeHost (created by ProgID, as the player does), owns a main
// window, calls one operation of the component as its command line says, prints the HRESULT and
// keeps its message loop running while the tips window is shown.
#include <windows.h>
#include <richedit.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include <wrl/client.h>

#include "base/folders.h"
#include "refhost/player/player_window.h"
#include "refhost/provider/host_provider.h"
#include "res/Cadenza_Upgrade.h"
#include "store/update_folders.h"

using Microsoft::WRL::ComPtr;

namespace {

enum ExitCode {
  kSucceeded = 0,       // the operation returned a success HRESULT
  kUsage = 1,           // the command line was not understood
  kOperationFailed = 2, // the operation returned a failure HRESULT
  kNoComponent = 3,     // the UpgradeHost object could not be created
  kNoHost = 4,          // COM or the service provider could not be set up
  kDemoStepFailed = 5,  // --picture or --press could not be done
};

constexpr wchar_t kUsageText[] =
    L"usage: Cadenza.exe VERB [options]\n"
    L"verbs (each calls one operation of the component and prints its HRESULT):\n"
    L"  check N                        CheckUpgrade(N): show the tips window when a newer\n"
    L"                                 downloaded package waits (N: 0 player, 1 add-in)\n"
    L"  manual N                       ManualUpgrade(N): the updater checks module N now\n"
    L"  pull N                         PullUpgrade(N): leave a pull request, start the updater\n"
    L"  scheduled N                    ScheduledUpgrade(N): install the waiting package\n"
    L"  recommend [--prompt TEXT] [--once]   RecommendUpgrade: ask in a message box\n"
    L"  force [--prompt TEXT]          ForceUpgrade: ask once per process in a message box\n"
    L"options:\n"
    L"  --wait SECONDS     keep the message loop at most this long while the tips window is\n"
    L"                     shown (default: until it is closed)\n"
    L"  --direct           load Cadenza_Upgrade.dll beside this program instead of creating\n"
    L"                     the registered class \"Cadenza_Upgrade.UpgradeHost\"\n"
    L"  --preload          load CadenzaCommon.dll and CadenzaWidget_MFC.dll beside this program\n"
    L"                     first, as a player that imports them has them\n"
    L"  --profile PATH     the host's settings file (default: %CADENZA_PROFILE%, else\n"
    L"                     %APPDATA%\\Cadenza\\Cadenza.ini)\n"
    L"  --picture PATH     save a PNG picture of the tips window once it is shown\n"
    L"  --press BUTTON     then click install, later or close with the mouse\n"
    L"exit codes: 0 success HRESULT, 1 usage, 2 failure HRESULT, 3 no component,\n"
    L"            4 no COM or provider, 5 picture or press failed\n";

struct Options {
  std::wstring verb;
  LONG module = 0;
  bool hasPrompt = false;
  std::wstring prompt;
  bool once = false;
  DWORD waitMs = INFINITE;
  bool direct = false;
  bool preload = false;
  std::wstring profile;
  std::wstring picture;
  std::wstring press;
};

bool ParseNumber(const wchar_t* text, long& value) {
  wchar_t* end = nullptr;
  errno = 0;
  value = wcstol(text, &end, 10);
  return *text != L'\0' && *end == L'\0' && errno == 0;
}

bool Parse(int argc, wchar_t** argv, Options& options) {
  if (argc < 2) return false;
  options.verb = argv[1];
  int i = 2;
  const bool takesModule = options.verb == L"check" || options.verb == L"manual" ||
                           options.verb == L"pull" || options.verb == L"scheduled";
  if (takesModule) {
    long module = 0;
    if (i >= argc || !ParseNumber(argv[i], module)) return false;
    options.module = module;
    ++i;
  } else if (options.verb != L"recommend" && options.verb != L"force") {
    return false;
  }
  for (; i < argc; ++i) {
    std::wstring arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == L"--prompt" && hasValue && options.verb != L"check") {
      options.hasPrompt = true;
      options.prompt = argv[++i];
    } else if (arg == L"--once" && options.verb == L"recommend") {
      options.once = true;
    } else if (arg == L"--wait" && hasValue) {
      long seconds = 0;
      if (!ParseNumber(argv[++i], seconds) || seconds < 0) return false;
      options.waitMs = static_cast<DWORD>(seconds) * 1000;
    } else if (arg == L"--direct") {
      options.direct = true;
    } else if (arg == L"--preload") {
      options.preload = true;
    } else if (arg == L"--profile" && hasValue) {
      options.profile = argv[++i];
    } else if (arg == L"--picture" && hasValue) {
      options.picture = argv[++i];
    } else if (arg == L"--press" && hasValue) {
      options.press = argv[++i];
      if (options.press != L"install" && options.press != L"later" && options.press != L"close") return false;
    } else {
      return false;
    }
  }
  return true;
}

const wchar_t* ResultName(HRESULT hr) {
  switch (hr) {
    case S_OK: return L"S_OK";
    case S_FALSE: return L"S_FALSE";
    case E_FAIL: return L"E_FAIL";
    case E_NOTIMPL: return L"E_NOTIMPL";
    case E_NOINTERFACE: return L"E_NOINTERFACE";
    case REGDB_E_CLASSNOTREG: return L"REGDB_E_CLASSNOTREG";
    case CO_E_CLASSSTRING: return L"CO_E_CLASSSTRING";
    default: return L"";
  }
}

void Say(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  vfwprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
}

HRESULT CreateUpgradeHost(bool direct, ComPtr<IUpgradeHost>& host) {
  if (!direct) {
    CLSID clsid = {};
    HRESULT hr = CLSIDFromProgID(L"Cadenza_Upgrade.UpgradeHost", &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUpgradeHost,
                            reinterpret_cast<void**>(host.ReleaseAndGetAddressOf()));
  }
  // Kept loaded for the life of the process, as COM keeps a registered server.
  HMODULE dll = LoadLibraryW((GetModuleFolder() + L"Cadenza_Upgrade.dll").c_str());
  if (dll == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  if (getClassObject == nullptr) return E_NOINTERFACE;
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(CLSID_UpgradeHost, IID_IClassFactory,
                              reinterpret_cast<void**>(factory.GetAddressOf()));
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.ReleaseAndGetAddressOf()));
}

// The common libraries, loaded before the component as the player's own imports would be, and
// kept for the life of the process.
void PreloadCommonLibraries() {
  for (const wchar_t* name : {L"CadenzaCommon.dll", L"CadenzaWidget_MFC.dll"}) {
    const std::wstring path = GetModuleFolder() + name;
    if (LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr)
      Say(L"host: loaded %ls\n", path.c_str());
    else
      Say(L"host: could not load %ls: error %lu\n", path.c_str(), GetLastError());
  }
}

// The face of the font the tips window's text control uses (the host's normal font when the
// component got it), or "none".
std::wstring TipsTextFont(HWND tips) {
  HWND text = FindWindowExW(tips, nullptr, L"RichEdit20W", nullptr);
  CHARFORMATW format = {};
  format.cbSize = sizeof(format);
  if (text == nullptr) return L"none";
  SendMessageW(text, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
  return (format.dwMask & CFM_FACE) && format.szFaceName[0] ? format.szFaceName : L"none";
}

// The string counts of a Microsoft-ABI reference CadenzaCommon.dll in this process, if one is.
void PrintLibraryStringCounts() {
  HMODULE common = GetModuleHandleW(L"CadenzaCommon.dll");
  using CountsFn = void(__cdecl*)(long*, long*, long*, long*);
  auto counts = common ? reinterpret_cast<CountsFn>(reinterpret_cast<void*>(GetProcAddress(common, "ReferenceStringCounts")))
                       : nullptr;
  if (counts == nullptr) return;
  long made = 0, freed = 0, foreignFrees = 0, assignedThroughOthers = 0;
  counts(&made, &freed, &foreignFrees, &assignedThroughOthers);
  Say(L"host: library strings: made %ld, freed %ld, not its own but freed through it %ld, "
      L"assigned through another manager %ld\n", made, freed, foreignFrees, assignedThroughOthers);
}

// Where the skin puts the buttons (window coordinates of their centres).
POINT ButtonCentre(const std::wstring& button) {
  if (button == L"install") return POINT{142 + 25, 140 + 10};
  if (button == L"later") return POINT{200 + 25, 140 + 10};
  return POINT{237 + 7, 10 + 7};  // close
}

void PrintSettings(const refhost::HostServices& services, const wchar_t* when) {
  ComPtr<IUnknown> object;
  ComPtr<IHostSettings> settings;
  LONG prompt = 0;
  DWORD version = 0;
  if (FAILED(refhost::CreateHostSettings(services.ProfilePath(), object.GetAddressOf())) ||
      FAILED(object.As(&settings)) || FAILED(settings->GetPromptUpgrade(&prompt)) ||
      FAILED(settings->GetPromptedVersion(&version)))
    return;
  Say(L"host: settings %ls: PromptUpgrade=%ld PromptedVersion=%lu (%ls)\n", when,
      static_cast<long>(prompt), static_cast<unsigned long>(version), services.ProfilePath().c_str());
}

HRESULT Call(IUpgradeHost* host, const Options& options) {
  BSTR prompt = options.hasPrompt ? SysAllocString(options.prompt.c_str()) : nullptr;
  HRESULT hr = E_INVALIDARG;
  if (options.verb == L"check") hr = host->CheckUpgrade(options.module);
  else if (options.verb == L"manual") hr = host->ManualUpgrade(options.module);
  else if (options.verb == L"pull") hr = host->PullUpgrade(options.module);
  else if (options.verb == L"scheduled") hr = host->ScheduledUpgrade(options.module);
  else if (options.verb == L"recommend") hr = host->RecommendUpgrade(prompt, options.once ? 1 : 0);
  else if (options.verb == L"force") hr = host->ForceUpgrade(prompt);
  SysFreeString(prompt);
  return hr;
}

std::wstring CallText(const Options& options) {
  wchar_t text[512];
  if (options.verb == L"recommend")
    swprintf(text, 512, L"RecommendUpgrade(%ls, %d)", options.hasPrompt ? options.prompt.c_str() : L"NULL",
             options.once ? 1 : 0);
  else if (options.verb == L"force")
    swprintf(text, 512, L"ForceUpgrade(%ls)", options.hasPrompt ? options.prompt.c_str() : L"NULL");
  else {
    const wchar_t* name = options.verb == L"check" ? L"CheckUpgrade"
                          : options.verb == L"manual" ? L"ManualUpgrade"
                          : options.verb == L"pull" ? L"PullUpgrade" : L"ScheduledUpgrade";
    swprintf(text, 512, L"%ls(%ld)", name, static_cast<long>(options.module));
  }
  return text;
}

int Run(const Options& options) {
  refhost::HostServices services(options.profile.empty() ? refhost::DefaultProfilePath() : options.profile);
  if (FAILED(services.Register())) {
    Say(L"host: the host service provider could not be registered\n");
    return kNoHost;
  }
  HWND mainWindow = CreatePlayerMainWindow();
  services.SetMainWindow(mainWindow);
  services.SetTriggerHandler([](LONG action) {
    Say(L"host: Trigger(%ld): the player would now close so that the updater can replace it\n",
        static_cast<long>(action));
  });

  if (options.preload) PreloadCommonLibraries();
  ComPtr<IUpgradeHost> host;
  HRESULT created = CreateUpgradeHost(options.direct, host);
  if (FAILED(created)) {
    Say(L"host: the UpgradeHost object could not be created: 0x%08lX %ls%ls\n",
        static_cast<unsigned long>(created), ResultName(created),
        options.direct ? L"" : L" (register it with CadenzaRegister.exe, or use --direct)");
    return kNoComponent;
  }
  services.SetUpgradeHostSource(refhost::KeepObject(host.Get()));

  PrintSettings(services, L"before");
  const std::wstring call = CallText(options);
  HRESULT hr = Call(host.Get(), options);
  Say(L"host: %ls -> 0x%08lX %ls\n", call.c_str(), static_cast<unsigned long>(hr), ResultName(hr));
  PrintSettings(services, L"after");

  int result = SUCCEEDED(hr) ? kSucceeded : kOperationFailed;
  HWND tips = FindShownTipsWindow(mainWindow);
  if (tips != nullptr) {
    RECT rect = {};
    GetWindowRect(tips, &rect);
    Say(L"host: the tips window is shown at (%ld, %ld), %ld x %ld\n", rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top);
    Say(L"host: the tips window's text font is '%ls'\n", TipsTextFont(tips).c_str());
    PumpUntil([] { return false; }, 300);  // let the skin and the text paint
    if (!options.picture.empty()) {
      // The picture shows the window at rest: a pointer left over it (by an earlier click in the
      // same place, say) would show a button under the mouse.
      POINT cursor = {};
      if (GetCursorPos(&cursor) && PtInRect(&rect, cursor) && SetCursorPos(0, 0))
        PumpUntil([] { return false; }, 300);
      std::wstring error = SaveWindowPicture(tips, options.picture);
      if (error.empty()) {
        Say(L"host: picture of the tips window saved to %ls\n", options.picture.c_str());
      } else {
        Say(L"host: no picture: %ls\n", error.c_str());
        result = kDemoStepFailed;
      }
    }
    if (!options.press.empty()) {
      POINT at = ButtonCentre(options.press);
      bool clicked = ClickAt(tips, at.x, at.y);
      Say(L"host: %ls %ls with the mouse at (%ld, %ld) in the tips window\n",
          clicked ? L"pressed" : L"could not press", options.press.c_str(), at.x, at.y);
      if (!clicked) result = kDemoStepFailed;
    }
    // The tips window lives in this thread's message loop: keep it running while it is shown.
    bool closed = PumpUntil([&] { return FindShownTipsWindow(mainWindow) == nullptr; }, options.waitMs);
    Say(closed ? L"host: the tips window was closed\n" : L"host: stopped waiting; the tips window is still shown\n");
    if (!options.press.empty() && !closed) result = kDemoStepFailed;
  }
  PumpUntil([] { return false; }, 100);  // posted messages (the window's tear-down) are handled
  host.Reset();
  services.Revoke();
  DestroyWindow(mainWindow);
  PrintLibraryStringCounts();
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    fwprintf(stderr, L"%ls", kUsageText);
    return kUsage;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    Say(L"host: COM could not be initialised\n");
    return kNoHost;
  }
  int result = Run(options);
  CoUninitialize();
  return result;
}
