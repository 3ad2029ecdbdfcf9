// The tips window's first show, one fresh process per run.
#include "bench/first_show.h"

#include <cstdio>

#include "bench/bench_clock.h"
#include "bench/window_wait.h"
#include "tests/common/test_files.h"
#include "tips/upgrade_tips_wnd.h"

namespace bench {

namespace {

constexpr DWORD kChildTimeoutMs = 120000;
constexpr DWORD kShowTimeoutMs = 10000;

// Moments of the first show, 0 until seen. A creation hook (called only at a window's
// creation, activation and the like) finds the window as it is made and subclasses it; the
// subclass takes the moments of its messages. No hook runs for every message: under Wine each
// hooked message costs calls to the server, which would weigh on whichever side sends more.
struct Timeline {
  HMODULE component = nullptr;  // whose window class the watched window has
  HWND excluded = nullptr;       // the host's main window
  HWND tips = nullptr;
  HHOOK creation = nullptr;
  WNDPROC original = nullptr;   // the watched window's procedure
  double firstMessage = 0;  // the window is being created
  double created = 0;       // WM_CREATE handled: content control made, skin loaded
  double showing = 0;       // WM_SHOWWINDOW sent: the description is folded in
  double shown = 0;         // WM_SHOWWINDOW handled: the window has placed itself
};
Timeline g_timeline;

// The tips window is the top-level window whose class the component registered.
bool IsTipsWindow(HWND window) {
  return window != g_timeline.excluded &&
         reinterpret_cast<HMODULE>(GetClassLongPtrW(window, GCLP_HMODULE)) == g_timeline.component &&
         !(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD);
}

LRESULT CALLBACK WatchedWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SHOWWINDOW && wParam && g_timeline.showing == 0)
    g_timeline.showing = NowMicroseconds();
  const LRESULT result = CallWindowProcW(g_timeline.original, window, message, wParam, lParam);
  if (message == WM_CREATE && g_timeline.created == 0) g_timeline.created = NowMicroseconds();
  if (message == WM_SHOWWINDOW && wParam && g_timeline.shown == 0)
    g_timeline.shown = NowMicroseconds();
  return result;
}

LRESULT CALLBACK WindowCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && g_timeline.tips == nullptr) {
    const HWND window = reinterpret_cast<HWND>(wParam);
    if (IsTipsWindow(window)) {
      g_timeline.firstMessage = NowMicroseconds();
      g_timeline.tips = window;
      g_timeline.original = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedWindow)));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL CALLBACK ChildNeedsPaint(HWND child, LPARAM needs) {
  if (GetUpdateRect(child, nullptr, FALSE)) *reinterpret_cast<bool*>(needs) = true;
  return TRUE;
}

constexpr wchar_t kMainClass[] = L"CadenzaBenchMainWindow";

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    if (HDC dc = BeginPaint(window, &paint)) {
      FillRect(dc, &paint.rcPaint, GetSysColorBrush(COLOR_WINDOW));
      EndPaint(window, &paint);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Where a window is, for a failure message.
std::string Where(HWND window) {
  RECT rect = {}, work = {};
  GetWindowRect(window, &rect);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  char text[160];
  snprintf(text, sizeof text, "%s at (%ld,%ld)-(%ld,%ld), work area (%ld,%ld)-(%ld,%ld)",
           IsWindowVisible(window) ? "visible" : "hidden", rect.left, rect.top, rect.right,
           rect.bottom, work.left, work.top, work.right, work.bottom);
  return text;
}

}  // namespace

void StartShowHooks(HMODULE classModule, HWND excluded) {
  g_timeline = Timeline();
  g_timeline.component = classModule;
  g_timeline.excluded = excluded;
  g_timeline.creation = SetWindowsHookExW(WH_CBT, WindowCreation, nullptr, GetCurrentThreadId());
}

// The subclass stays: the window's later messages go through it unchanged.
void StopShowHooks() {
  if (g_timeline.creation != nullptr) UnhookWindowsHookEx(g_timeline.creation);
  g_timeline.creation = nullptr;
}

bool Painted(HWND window) {
  bool needs = GetUpdateRect(window, nullptr, FALSE) != FALSE;
  EnumChildWindows(window, ChildNeedsPaint, reinterpret_cast<LPARAM>(&needs));
  return !needs;
}

FirstShowHost::FirstShowHost(const std::wstring& profilePath) : services_(profilePath) {}

// The main window, its libraries and the tips window it owns go with the process, as the
// component's window does at a player's exit.
FirstShowHost::~FirstShowHost() = default;

std::string FirstShowHost::SetUp() {
  if (FAILED(services_.Register())) return "host provider not registered";
  const std::wstring folder = GetModuleFolder();
  common_ = LoadLibraryW((folder + L"CadenzaCommon.dll").c_str());
  widget_ = LoadLibraryW((folder + L"CadenzaWidget_MFC.dll").c_str());
  if (common_ == nullptr || widget_ == nullptr) return "the host's common libraries not loaded";
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kMainClass;
  RegisterClassExW(&wc);
  main_ = CreateWindowExW(0, kMainClass, L"Cadenza", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                          640, 480, nullptr, nullptr, wc.hInstance, nullptr);
  if (main_ == nullptr) return "the host's main window not created";
  UpdateWindow(main_);
  if (!PumpUntil([&] { return IsWindowVisible(main_) && Painted(main_); }, 10000))
    return "the host's main window not painted";
  DrainMessages();
  services_.SetMainWindow(main_);
  return std::string();
}

int RunFirstShowChild(const std::wstring& resultPath, const std::wstring& profilePath,
                      const std::wstring& foldedPath, int shownCalls) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return FailChild(resultPath, "CoInitializeEx failed");
  int exitCode = 0;
  {
    FirstShowHost hostSide(profilePath);  // prompting on: the profile starts empty
    const std::string setUp = hostSide.SetUp();
    if (!setUp.empty()) return FailChild(resultPath, setUp);

    ComponentClient client;
    std::string error;
    if (!client.Load(GetModuleFolder(), error)) return FailChild(resultPath, error);
    Microsoft::WRL::ComPtr<IUpgradeHost> host;
    if (FAILED(client.CreateHost(host.GetAddressOf())))
      return FailChild(resultPath, "UpgradeHost not created");
    StartShowHooks(GetModuleHandleW(L"Cadenza_Upgrade.dll"), hostSide.MainWindow());
    const double start = NowMicroseconds();
    const HRESULT hr = host->CheckUpgrade(0);
    const double returned = NowMicroseconds();
    double visible = 0;
    const bool shown = PumpUntil(
        [&] {
          if (!VisibleAndPlaced(g_timeline.tips)) return false;
          visible = NowMicroseconds();
          return true;
        },
        kShowTimeoutMs);
    double painted = 0;
    if (shown && PumpUntil([&] { return Painted(g_timeline.tips); }, kShowTimeoutMs))
      painted = NowMicroseconds();
    StopShowHooks();

    if (hr != S_OK) return FailChild(resultPath, "CheckUpgrade did not return S_OK");
    if (g_timeline.tips == nullptr) return FailChild(resultPath, "no tips window was created");
    if (!shown) return FailChild(resultPath, "the tips window was not shown in the corner: " + Where(g_timeline.tips));
    if (g_timeline.created == 0 || g_timeline.showing == 0 || g_timeline.shown == 0)
      return FailChild(resultPath, "the tips window's creation or show was not seen");

    // The text the floor's control is given.
    const HWND content = GetDlgItem(g_timeline.tips, IDC_UPGRADE_CONTENT);
    std::wstring folded(static_cast<size_t>(GetWindowTextLengthW(content)) + 1, L'\0');
    folded.resize(static_cast<size_t>(GetWindowTextW(content, folded.data(), static_cast<int>(folded.size()))));
    if (folded.empty() ||
        !testing_support::WriteBytes(foldedPath, std::string(reinterpret_cast<const char*>(folded.data()),
                                                             folded.size() * sizeof(wchar_t))))
      return FailChild(resultPath, "the folded text could not be kept");
    if (GetWindow(g_timeline.tips, GW_OWNER) != hostSide.MainWindow())
      return FailChild(resultPath, "the tips window is not owned by the host's main window");

    Values figures{
        {"call_returned_ms", Milliseconds(returned - start)},
        {"visible_placed_ms", Milliseconds(visible - start)},
        {"painted_ms", Milliseconds(painted != 0 ? painted - start : 0)},
        {"before_create_ms", Milliseconds(g_timeline.firstMessage - start)},
        {"create_skin_ms", Milliseconds(g_timeline.created - g_timeline.firstMessage)},
        {"fold_ms", Milliseconds(g_timeline.showing - g_timeline.created)},
        {"show_place_ms", Milliseconds(g_timeline.shown - g_timeline.showing)},
        {"show_visible_ms", Milliseconds(visible - g_timeline.showing)},
    };

    // Further checks while the window is up: each sets the content again and shows it again.
    if (shownCalls > 0) {
      for (int i = 0; i < 20; ++i) {  // the log file and the profile are open-and-close alike
        host->CheckUpgrade(0);
        DrainMessages();
      }
      const ResourceCounts first = ResourceCounts::Take();
      Samples calls;
      calls.Reserve(static_cast<size_t>(shownCalls));
      bool allOk = true;
      for (int i = 0; i < shownCalls; ++i) {
        const double t = NowMicroseconds();
        allOk = host->CheckUpgrade(0) == S_OK && allOk;
        calls.Add(NowMicroseconds() - t);
        DrainMessages();
      }
      const ResourceCounts last = ResourceCounts::Take();
      figures["shown_calls"] = std::to_string(shownCalls);
      char median[32];
      snprintf(median, sizeof median, "%.1f", calls.Median());
      figures["shown_call_median_us"] = median;
      figures["shown_counts"] = CountsChange(first, last);
      figures["shown_same"] = std::string(1, first.SameAs(last) ? '1' : '0');
      if (!allOk) figures["error"] = "CheckUpgrade with the window up did not return S_OK";
      if (!VisibleAndPlaced(g_timeline.tips)) figures["error"] = "the tips window went away";
      if (!first.SameAs(last)) exitCode = 1;
    }
    if (figures.count("error")) exitCode = 1;
    ShowWindow(g_timeline.tips, SW_HIDE);
    if (!WriteValues(resultPath, figures)) exitCode = 1;
  }
  CoUninitialize();
  return exitCode;
}

bool MeasureFirstShow(const std::wstring& workFolder, int run, int shownCalls, Values& figures,
                      std::string& error) {
  const std::wstring resultPath = workFolder + L"first_show_" + std::to_wstring(run) + L".txt";
  const std::wstring profilePath = workFolder + L"profile_" + std::to_wstring(run) + L".ini";
  return RunChild(L"--first-show-child \"" + resultPath + L"\" \"" + profilePath + L"\" \"" +
                      workFolder + L"folded.txt\" " + std::to_wstring(shownCalls),
                  resultPath, kChildTimeoutMs, "first-show", figures, error);
}

}  // namespace bench
