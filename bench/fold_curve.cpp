// The fold curve: the tips window shown for descriptions of 100 to 1,000,000 characters.
#include "bench/fold_curve.h"

#include <cstdio>

#include "bench/bench_clock.h"
#include "bench/window_wait.h"
#include "launch/update_commands.h"
#include "refhost/provider/host_provider.h"

namespace bench {

namespace {

constexpr DWORD kChildTimeoutMs = 600000;
constexpr DWORD kShowTimeoutMs = 30000;
const std::wstring kLink = L"显示更多";

// Moments of one show, taken by the thread's message hook; 0 until seen.
struct Moments {
  HMODULE component = nullptr;
  HWND tips = nullptr;
  double firstText = 0;  // the first text put into the content control
  double showing = 0;    // WM_SHOWWINDOW sent to the tips window
};
Moments g_moments;

LRESULT CALLBACK BeforeMessage(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (g_moments.tips == nullptr && !(GetWindowLongPtrW(message->hwnd, GWL_STYLE) & WS_CHILD) &&
        reinterpret_cast<HMODULE>(GetClassLongPtrW(message->hwnd, GCLP_HMODULE)) ==
            g_moments.component)
      g_moments.tips = message->hwnd;
    if (g_moments.tips != nullptr) {
      if (message->message == WM_SETTEXT && g_moments.firstText == 0 &&
          GetParent(message->hwnd) == g_moments.tips)
        g_moments.firstText = NowMicroseconds();
      if (message->message == WM_SHOWWINDOW && message->wParam && message->hwnd == g_moments.tips &&
          g_moments.showing == 0)
        g_moments.showing = NowMicroseconds();
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A description of exactly n characters (a line break counts two), and its stored form.
std::wstring Description(const FoldCase& c) {
  const std::wstring piece = c.lineBreaks ? L"- 修复了若干问题，改进了播放的稳定性 Fix %d\r\n"
                                          : L"本次升级带来了全新的播放体验，faster startup %d; ";
  std::wstring text;
  text.reserve(c.characters + 64);
  for (int i = 1; text.size() < c.characters; ++i) {
    wchar_t item[96];
    _snwprintf_s(item, _TRUNCATE, piece.c_str(), i);
    text += item;
  }
  text.resize(c.characters);
  if (text.back() == L'\r') text.back() = L'.';
  return text;
}

std::wstring Stored(std::wstring text) {
  for (size_t pos = text.find(L"\r\n"); pos != std::wstring::npos; pos = text.find(L"\r\n", pos + 2))
    text.replace(pos, 2, L"\\n");
  return text;
}

std::wstring ContentText(HWND tips) {
  HWND content = FindWindowExW(tips, nullptr, L"RichEdit20W", nullptr);
  const int length = GetWindowTextLengthW(content);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(content, text.data(), length + 1)));
  return text;
}

}  // namespace

std::vector<FoldCase> FoldCases() {
  std::vector<FoldCase> cases;
  for (bool lineBreaks : {true, false}) {
    for (size_t n : {100, 1000, 10000, 100000, 1000000}) cases.push_back({n, lineBreaks});
  }
  return cases;
}

int RunFoldCurveChild(const std::wstring& resultPath, const std::wstring& profilePath,
                      const std::wstring& recordPath, int rounds) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return FailChild(resultPath, "CoInitializeEx failed");
  int exitCode = 0;
  {
    refhost::HostServices services(profilePath);  // prompting on: the profile starts empty
    if (FAILED(services.Register())) return FailChild(resultPath, "host provider not registered");
    ComponentClient client;
    std::string error;
    if (!client.Load(GetModuleFolder(), error)) return FailChild(resultPath, error);
    Microsoft::WRL::ComPtr<IUpgradeHost> host;
    if (FAILED(client.CreateHost(host.GetAddressOf())))
      return FailChild(resultPath, "UpgradeHost not created");
    g_moments.component = GetModuleHandleW(L"Cadenza_Upgrade.dll");
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, BeforeMessage, nullptr, GetCurrentThreadId());

    const std::vector<FoldCase> cases = FoldCases();
    std::vector<std::wstring> descriptions, stored;
    for (const FoldCase& c : cases) {
      descriptions.push_back(Description(c));
      stored.push_back(Stored(descriptions.back()));
    }
    // The first show creates the window and loads its skin; it is not measured.
    if (!WriteRecord(recordPath, true, stored[0]) || host->CheckUpgrade(0) != S_OK ||
        !PumpUntil([] { return VisibleAndPlaced(g_moments.tips); }, kShowTimeoutMs))
      return FailChild(resultPath, "the tips window was not shown the first time");

    std::vector<Samples> shown(cases.size()), window(cases.size()), fold(cases.size()),
        before(cases.size());
    Values figures;
    for (int round = 0; round < rounds && !figures.count("error"); ++round) {
      for (size_t k = 0; k < cases.size(); ++k) {
        // Rotated each round, and backwards every other round.
        size_t i = (k + static_cast<size_t>(round)) % cases.size();
        if (round % 2 == 1) i = cases.size() - 1 - i;
        if (!WriteRecord(recordPath, true, stored[i])) {
          figures["error"] = "the update record could not be written";
          break;
        }
        ShowWindow(g_moments.tips, SW_HIDE);
        DrainMessages();
        g_moments.firstText = g_moments.showing = 0;
        const double start = NowMicroseconds();
        const HRESULT hr = host->CheckUpgrade(0);
        double visible = 0;
        const bool ok = hr == S_OK && PumpUntil(
                                          [&] {
                                            if (!VisibleAndPlaced(g_moments.tips)) return false;
                                            visible = NowMicroseconds();
                                            return true;
                                          },
                                          kShowTimeoutMs);
        if (!ok || g_moments.firstText == 0 || g_moments.showing == 0) {
          figures["error"] = "case " + std::to_string(i) + ": the tips window was not shown";
          break;
        }
        shown[i].Add(visible - start);
        window[i].Add(visible - g_moments.firstText);
        fold[i].Add(g_moments.showing - g_moments.firstText);
        before[i].Add(g_moments.firstText - start);
        // Shown whole, or folded: a short text that ends in the link.
        const std::wstring text = ContentText(g_moments.tips);
        const bool right = text == descriptions[i] ||
                           (text.size() > kLink.size() && text.size() < 1000 &&
                            text.compare(text.size() - kLink.size(), kLink.size(), kLink) == 0);
        if (!right) figures["error"] = "case " + std::to_string(i) + ": the content is wrong";
      }
    }
    UnhookWindowsHookEx(hook);
    // The platform's floor for the record part: the profile reads that the pending-package
    // query makes (9 integers, 6 strings, the description read twice when longer than the
    // first buffer), made directly on a record just written, beside the query itself.
    std::vector<Samples> floor(cases.size()), query(cases.size());
    std::vector<wchar_t> buffer(1100000);
    const wchar_t* const ints[] = {L"UpdateRecord_S_bScheduleInstallation", L"UpdateRecord_S_bCrisisPack",
                                   L"UpdateRecord_S_dwVersion", L"UpdateRecord_S_wPatchNum",
                                   L"UpdateRecord_S_wBuildNum", L"UpdateRecord_S_bCrisisPack",
                                   L"UpdateRecord_S_dwVersion", L"UpdateRecord_S_wPatchNum",
                                   L"UpdateRecord_S_wBuildNum"};
    const wchar_t* const strings[] = {L"UpdateRecord_S_strModuleType", L"UpdateRecord_S_strVersionName",
                                      L"UpdateRecord_S_strDescription", L"UpdateRecord_S_strZipFileName",
                                      L"UpdateRecord_S_strExeFileName", L"UpdateRecord_S_byarHash"};
    const std::wstring updater = GetModuleFolder() + L"CadenzaUpdate.exe";
    for (int round = 0; round < rounds && !figures.count("error"); ++round) {
      for (size_t i = 0; i < cases.size(); ++i) {
        if (!WriteRecord(recordPath, true, stored[i])) break;
        const double start = NowMicroseconds();
        for (const wchar_t* key : ints) GetPrivateProfileIntW(kModuleType, key, -1, recordPath.c_str());
        for (const wchar_t* key : strings) {
          DWORD n = GetPrivateProfileStringW(kModuleType, key, L"", buffer.data(), 1024, recordPath.c_str());
          if (n + 1 >= 1024)
            GetPrivateProfileStringW(kModuleType, key, L"", buffer.data(),
                                     static_cast<DWORD>(buffer.size()), recordPath.c_str());
        }
        floor[i].Add(NowMicroseconds() - start);
        if (!WriteRecord(recordPath, true, stored[i])) break;
        const double queried = NowMicroseconds();
        BOOL available = FALSE;
        std::wstring description;
        DWORD version = 0;
        QueryPendingInstall(kModuleType, kAppVersion, updater.c_str(), kPlayerBuild, available,
                            description, version);
        query[i].Add(NowMicroseconds() - queried);
      }
    }
    for (size_t i = 0; i < cases.size(); ++i) {
      figures[std::to_string(i) + "_profile_floor_ms"] = Milliseconds(floor[i].Median());
      figures[std::to_string(i) + "_query_ms"] = Milliseconds(query[i].Median());
      const std::string key = std::to_string(i);
      figures[key + "_shown_ms"] = Milliseconds(shown[i].Median());
      figures[key + "_window_ms"] = Milliseconds(window[i].Median());
      figures[key + "_fold_ms"] = Milliseconds(fold[i].Median());
      figures[key + "_before_ms"] = Milliseconds(before[i].Median());
    }
    if (figures.count("error")) exitCode = 1;
    ShowWindow(g_moments.tips, SW_HIDE);
    if (!WriteValues(resultPath, figures)) exitCode = 1;
  }
  CoUninitialize();
  return exitCode;
}

bool MeasureFoldCurve(const std::wstring& workFolder, const std::wstring& recordPath, int rounds,
                      Values& figures, std::string& error) {
  const std::wstring resultPath = workFolder + L"fold_curve.txt";
  const std::wstring profilePath = workFolder + L"fold_profile.ini";
  return RunChild(L"--fold-child \"" + resultPath + L"\" \"" + profilePath + L"\" \"" +
                      recordPath + L"\" " + std::to_wstring(rounds),
                  resultPath, kChildTimeoutMs, "fold", figures, error);
}

}  // namespace bench
