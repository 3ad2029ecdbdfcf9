// CadenzaSample.exe: the smallest player that hosts the upgrade component. It loads the player's
// two common libraries, registers its host service provider, creates UpgradeHost, calls one
// operation as its command line says, prints the HRESULT, and runs its message loop while the
// component's tips window is shown.
#include <stdarg.h>

#include "sample.h"

#include <shellapi.h>

PlayerState g_player;

namespace {

enum ExitCode {
  kSucceeded = 0,        // the operation returned a success HRESULT
  kUsage = 1,            // the command line was not understood
  kOperationFailed = 2,  // the operation returned a failure HRESULT
  kNoComponent = 3,      // the UpgradeHost object could not be created
  kNoHost = 4,           // COM or the service provider could not be set up
  kDemoStepFailed = 5,   // --picture or --press could not be done
};

const wchar_t kUsageText[] =
    L"usage: CadenzaSample.exe VERB [options]\n"
    L"verbs (each calls one operation of the component and prints its HRESULT):\n"
    L"  check N | manual N | pull N | scheduled N   (N: 0 the player, 1 the add-in)\n"
    L"  recommend [--prompt TEXT] [--once]\n"
    L"  force [--prompt TEXT]\n"
    L"options:\n"
    L"  --wait SECONDS    keep the message loop at most this long while the tips window is shown\n"
    L"  --direct          load Cadenza_Upgrade.dll beside this program instead of the registered class\n"
    L"  --profile PATH    the settings file (default: CadenzaSample.ini beside this program)\n"
    L"  --picture PATH    save a bitmap (.bmp) of the tips window once it is shown\n"
    L"  --press BUTTON    then click install, later, close or checkbox with the mouse (up to 4 times)\n"
    L"exit codes: 0 success HRESULT, 1 usage, 2 failure HRESULT, 3 no component,\n"
    L"            4 no COM or provider, 5 picture or press failed\n";

struct Options {
  const wchar_t* verb;
  LONG module;
  const wchar_t* prompt;  // NULL: the component takes the player's string
  bool once;
  DWORD waitMs;
  bool direct;
  const wchar_t* picture;
  const wchar_t* presses[4];
  int pressCount;
};

bool Is(const wchar_t* a, const wchar_t* b) { return lstrcmpW(a, b) == 0; }

bool ParseNumber(const wchar_t* text, long& value) {
  if (*text == L'\0') return false;
  value = 0;
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9' || value > 100000000) return false;
    value = value * 10 + (*text - L'0');
  }
  return true;
}

bool Parse(int argc, wchar_t** argv, Options& o) {
  o = Options();
  o.waitMs = INFINITE;
  if (argc < 2) return false;
  o.verb = argv[1];
  int i = 2;
  const bool takesModule = Is(o.verb, L"check") || Is(o.verb, L"manual") || Is(o.verb, L"pull") || Is(o.verb, L"scheduled");
  if (takesModule) {
    long module = 0;
    if (i >= argc || !ParseNumber(argv[i++], module)) return false;
    o.module = module;
  } else if (!Is(o.verb, L"recommend") && !Is(o.verb, L"force")) {
    return false;
  }
  for (; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    long seconds = 0;
    if (Is(arg, L"--prompt") && hasValue && !takesModule) {
      o.prompt = argv[++i];
    } else if (Is(arg, L"--once") && Is(o.verb, L"recommend")) {
      o.once = true;
    } else if (Is(arg, L"--wait") && hasValue && ParseNumber(argv[++i], seconds)) {
      o.waitMs = static_cast<DWORD>(seconds) * 1000;
    } else if (Is(arg, L"--direct")) {
      o.direct = true;
    } else if (Is(arg, L"--profile") && hasValue) {
      lstrcpynW(g_player.profile, argv[++i], MAX_PATH);
    } else if (Is(arg, L"--picture") && hasValue) {
      o.picture = argv[++i];
    } else if (Is(arg, L"--press") && hasValue && o.pressCount < 4) {
      const wchar_t* b = argv[++i];
      if (!Is(b, L"install") && !Is(b, L"later") && !Is(b, L"close") && !Is(b, L"checkbox")) return false;
      o.presses[o.pressCount++] = b;
    } else {
      return false;
    }
  }
  return true;
}

// This program's folder, ending in a backslash: where the component and its libraries lie.
void ProgramFolder(wchar_t* folder) {
  const DWORD n = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  folder[n < MAX_PATH ? n : 0] = L'\0';
  for (wchar_t* c = folder + lstrlenW(folder); c > folder; --c) {
    if (c[-1] == L'\\') {
      *c = L'\0';
      break;
    }
  }
}

// Runs the message loop until done(context) holds or the time is up; returns done(context).
bool PumpUntil(bool (*done)(void*), void* context, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done != nullptr && done(context)) return true;
    const DWORD spent = GetTickCount() - start;
    if (timeoutMs != INFINITE && spent >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs == INFINITE ? 100 : timeoutMs - spent, QS_ALLINPUT);
  }
}
void Pump(DWORD ms) { PumpUntil(nullptr, nullptr, ms); }

// The component's tips window, when this thread shows it.
BOOL CALLBACK NoteTips(HWND hwnd, LPARAM found) {
  wchar_t name[32];
  if (IsWindowVisible(hwnd) && GetClassNameW(hwnd, name, 32) && Is(name, L"CadenzaUpgradeWnd")) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}
HWND ShownTipsWindow() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), NoteTips, reinterpret_cast<LPARAM>(&found));
  return found;
}
bool TipsClosed(void*) { return ShownTipsWindow() == nullptr; }

// The common libraries are loaded before the component: it binds to the modules the process
// has loaded under their names. A player that imports them has them loaded from the start.
void LoadCommonLibraries(const wchar_t* folder) {
  const wchar_t* const names[] = {L"CadenzaCommon.dll", L"CadenzaWidget_MFC.dll"};
  for (const wchar_t* name : names) {
    wchar_t path[MAX_PATH];
    wsprintfW(path, L"%ls%ls", folder, name);
    if (LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr)
      Say(L"host: loaded %ls\n", path);
    else
      Say(L"host: could not load %ls: error %lu\n", path, GetLastError());
  }
}

// UpgradeHost, by its ProgID (registered with CadenzaRegister.exe), or with --direct from the
// DLL beside the program through its class object, without the registry.
HRESULT CreateUpgradeHost(bool direct, const wchar_t* folder, IUpgradeHost** host) {
  if (!direct) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"Cadenza_Upgrade.UpgradeHost", &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUpgradeHost, reinterpret_cast<void**>(host));
  }
  wchar_t path[MAX_PATH];
  wsprintfW(path, L"%ls%ls", folder, L"Cadenza_Upgrade.dll");
  // Kept loaded for the life of the process, as COM keeps a registered server.
  HMODULE dll = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (dll == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
  GetClassObjectFn getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  if (getClassObject == nullptr) return E_NOINTERFACE;
  IClassFactory* factory = nullptr;
  HRESULT hr = getClassObject(CLSID_UpgradeHost, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host));
  factory->Release();
  return hr;
}

void PrintSettings(const wchar_t* when) {
  IUnknown* object = nullptr;
  IHostSettings* settings = nullptr;
  LONG prompt = 0;
  DWORD version = 0;
  if (SUCCEEDED(CreateSettingsObject(&object)) &&
      SUCCEEDED(object->QueryInterface(IID_IHostSettings, reinterpret_cast<void**>(&settings))) &&
      SUCCEEDED(settings->GetPromptUpgrade(&prompt)) && SUCCEEDED(settings->GetPromptedVersion(&version)))
    Say(L"host: settings %ls: PromptUpgrade=%ld PromptedVersion=%lu (%ls)\n", when, prompt, version, g_player.profile);
  if (settings != nullptr) settings->Release();
  if (object != nullptr) object->Release();
}

HRESULT Call(IUpgradeHost* host, const Options& o) {
  if (Is(o.verb, L"check")) return host->CheckUpgrade(o.module);
  if (Is(o.verb, L"manual")) return host->ManualUpgrade(o.module);
  if (Is(o.verb, L"pull")) return host->PullUpgrade(o.module);
  if (Is(o.verb, L"scheduled")) return host->ScheduledUpgrade(o.module);
  BSTR prompt = o.prompt != nullptr ? SysAllocString(o.prompt) : nullptr;
  if (o.prompt != nullptr && prompt == nullptr) return E_OUTOFMEMORY;
  // Both ask in a message box that is modal on this thread; Trigger(1) comes before they return.
  const HRESULT hr = Is(o.verb, L"recommend") ? host->RecommendUpgrade(prompt, o.once ? 1 : 0) : host->ForceUpgrade(prompt);
  SysFreeString(prompt);
  return hr;
}

// The call as the component's interface names it, for the output.
void DescribeCall(const Options& o, wchar_t* text) {
  if (Is(o.verb, L"recommend"))
    wsprintfW(text, L"RecommendUpgrade(%ls, %d)", o.prompt != nullptr ? o.prompt : L"NULL", o.once ? 1 : 0);
  else if (Is(o.verb, L"force"))
    wsprintfW(text, L"ForceUpgrade(%ls)", o.prompt != nullptr ? o.prompt : L"NULL");
  else
    wsprintfW(text, L"%ls(%ld)", Is(o.verb, L"check") ? L"CheckUpgrade" : Is(o.verb, L"manual") ? L"ManualUpgrade"
                                 : Is(o.verb, L"pull") ? L"PullUpgrade" : L"ScheduledUpgrade", o.module);
}

// Saves what the screen shows of the window as a 32-bit bitmap file.
bool SavePicture(HWND window, const wchar_t* path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = w;
  header.biHeight = -h;  // top row first
  header.biPlanes = 1;
  header.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  bool saved = false;
  if (screen != nullptr && dc != nullptr && canvas != nullptr) {
    HGDIOBJ old = SelectObject(dc, canvas);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(dc, old);
    GdiFlush();
    const DWORD size = static_cast<DWORD>(w) * h * 4;
    BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + sizeof header) + size, 0, 0,
                             static_cast<DWORD>(sizeof file + sizeof header)};
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    if (out != INVALID_HANDLE_VALUE) {
      saved = WriteFile(out, &file, sizeof file, &done, nullptr) && WriteFile(out, &header, sizeof header, &done, nullptr) &&
              WriteFile(out, bits, size, &done, nullptr);
      saved = CloseHandle(out) && saved;
    }
  }
  if (canvas != nullptr) DeleteObject(canvas);
  if (dc != nullptr) DeleteDC(dc);
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return saved;
}

// A real mouse click at a point of the window, with time for the hover to show first.
bool ClickAt(HWND window, POINT at) {
  RECT r;
  if (!GetWindowRect(window, &r) || !SetCursorPos(r.left + at.x, r.top + at.y)) return false;
  Pump(150);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  if (SendInput(1, &input[0], sizeof(INPUT)) != 1) return false;
  Pump(100);
  return SendInput(1, &input[1], sizeof(INPUT)) == 1;
}

// Where the skin document puts each button (the middle of its rectangle; the check box's box).
POINT ButtonCentre(const wchar_t* button) {
  if (Is(button, L"install")) return POINT{142 + 25, 140 + 10};
  if (Is(button, L"later")) return POINT{200 + 25, 140 + 10};
  if (Is(button, L"checkbox")) return POINT{17, 152};
  return POINT{237 + 7, 10 + 7};  // close
}

const wchar_t kMainWindowClass[] = L"CadenzaSampleMain";

// The player's main window: hidden here; the owner of the tips window.
HWND CreateMainWindow() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kMainWindowClass;
  if (!RegisterClassExW(&wc)) return nullptr;
  return CreateWindowExW(0, kMainWindowClass, L"Cadenza", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                         400, 300, nullptr, nullptr, wc.hInstance, nullptr);
}

int Run(const Options& o) {
  wchar_t folder[MAX_PATH];
  ProgramFolder(folder);
  if (g_player.profile[0] == L'\0') wsprintfW(g_player.profile, L"%lsCadenzaSample.ini", folder);

  LoadCommonLibraries(folder);
  g_player.mainWindow = CreateMainWindow();
  // Before the first call of the component: it creates the provider in this apartment.
  if (g_player.mainWindow == nullptr || FAILED(RegisterHostServices())) {
    Say(L"host: the host service provider could not be registered\n");
    return kNoHost;
  }
  IUpgradeHost* host = nullptr;
  const HRESULT created = CreateUpgradeHost(o.direct, folder, &host);
  if (FAILED(created)) {
    Say(L"host: the UpgradeHost object could not be created: 0x%08lX\n", created);
    RevokeHostServices();
    return kNoComponent;
  }
  g_player.upgradeHost = host;  // the tips window's Install button comes back for it

  PrintSettings(L"before");
  wchar_t call[1025];  // wsprintfW writes at most 1024 characters and the terminator
  DescribeCall(o, call);
  const HRESULT hr = Call(host, o);
  Say(L"host: %ls -> 0x%08lX\n", call, hr);
  PrintSettings(L"after");

  int result = SUCCEEDED(hr) ? kSucceeded : kOperationFailed;
  HWND tips = ShownTipsWindow();
  if (tips != nullptr) {
    RECT r;
    GetWindowRect(tips, &r);
    Say(L"host: the tips window is shown at (%ld, %ld), %ld x %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    Pump(300);  // the skin and the description paint
    if (o.picture != nullptr) {
      const bool saved = SavePicture(tips, o.picture);
      Say(saved ? L"host: picture of the tips window saved to %ls\n" : L"host: no picture saved to %ls\n", o.picture);
      if (!saved) result = kDemoStepFailed;
    }
    for (int i = 0; i < o.pressCount && ShownTipsWindow() != nullptr; ++i) {
      const POINT at = ButtonCentre(o.presses[i]);
      const bool clicked = ClickAt(tips, at);
      Say(L"host: %ls %ls with the mouse at (%ld, %ld) in the tips window\n",
          clicked ? L"pressed" : L"could not press", o.presses[i], at.x, at.y);
      if (!clicked) result = kDemoStepFailed;
      Pump(100);
    }
    // The tips window lives in this thread's message loop: keep it running while it is shown.
    const bool closed = PumpUntil(TipsClosed, nullptr, o.waitMs);
    Say(closed ? L"host: the tips window was closed\n" : L"host: stopped waiting; the tips window is still shown\n");
    if (o.pressCount > 0 && !closed) result = kDemoStepFailed;
  }
  Pump(100);  // the window's posted tear-down runs

  // Shutdown while the main window is still up: the component's objects go first.
  g_player.upgradeHost = nullptr;
  host->Release();
  RevokeHostServices();
  DestroyWindow(g_player.mainWindow);
  g_player.mainWindow = nullptr;
  return result;
}

}  // namespace

// Where the output goes: standard output (UTF-8), or the console the program was started from.
HANDLE g_output = nullptr;
bool g_console = false;

// A windowed program has no console of its own: started from one with its output not redirected,
// it writes to that console.
void OpenOutput() {
  g_output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (g_output != nullptr && g_output != INVALID_HANDLE_VALUE) return;
  g_output = nullptr;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  g_output = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  g_console = g_output != INVALID_HANDLE_VALUE;
  if (!g_console) g_output = nullptr;
}

// Writes wide text to the output, a piece at a time.
void Write(const wchar_t* text, int length) {
  DWORD written = 0;
  if (g_output == nullptr) return;
  if (g_console) {
    WriteConsoleW(g_output, text, static_cast<DWORD>(length), &written, nullptr);
    return;
  }
  char utf8[3 * 256];
  for (int done = 0; done < length;) {
    const int piece = length - done < 256 ? length - done : 256;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text + done, piece, utf8, sizeof utf8, nullptr, nullptr);
    if (bytes > 0) WriteFile(g_output, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    done += piece;
  }
}

void Say(const wchar_t* format, ...) {
  wchar_t line[1025];  // wvsprintfW writes at most 1024 characters and the terminator
  va_list args;
  va_start(args, format);
  const int length = wvsprintfW(line, format, args);
  va_end(args);
  Write(line, length);
}

int wmain(int argc, wchar_t** argv) {
  OpenOutput();
  Options options;
  if (!Parse(argc, argv, options)) {
    Write(kUsageText, lstrlenW(kUsageText));
    return kUsage;
  }
  // The component is apartment-threaded: it is called on this thread, which runs the messages.
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    Say(L"host: COM could not be initialised\n");
    return kNoHost;
  }
  const int result = Run(options);
  CoUninitialize();
  return result;
}

#ifdef CADENZA_SAMPLE_NO_CRT
// Built without a C runtime (the clang build of this sample): the program's entry point, in place
// of the runtime's wmainCRTStartup.
extern "C" void __stdcall SampleStartup() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  ExitProcess(static_cast<UINT>(argv != nullptr ? wmain(argc, argv) : kUsage));
}
#endif
