// The component inside a host's process, driven as a host would drive it: unloading while
// its tips window lives on another thread or on the same one, process exit with the window
// shown, a tips window destroyed from outside, a skin that cannot be set up again,
// allocation failures that must not unwind into the host, and a second apartment whose host
// objects must stay its own. Each case runs in a child process
// of this program, started from an installation folder of its own, and loads the component
// from a folder that the skin engine does not load it from (which would keep it loaded).
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include "host/upgrade_host.h"
#include "refhost/skin/skin_window.h"
#include "res/Cadenza_Upgrade.h"
#include "store/update_folders.h"
#include "tests/common/allocation_failure.h"
#include "tests/common/fake_host.h"
#include "tests/common/test_files.h"
#include "tips/upgrade_tips_wnd.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

constexpr wchar_t kScenarioVariable[] = L"CADENZA_SAFETY_SCENARIO";
constexpr DWORD kAppVersion = 327681;  // 5.1
constexpr wchar_t kTipsClass[] = L"CadenzaUpgradeWnd";

bool InChild() { return GetEnvironmentVariableW(kScenarioVariable, nullptr, 0) != 0; }

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  } while (GetTickCount() - start < ms);
}

// The visible tips window of a thread (any thread of the process when 0).
struct TipsSearch {
  DWORD thread;
  HWND found;
};
BOOL CALLBACK FindVisibleTips(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TipsSearch*>(param);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  DWORD pid = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId() && wcscmp(name, kTipsClass) == 0 && IsWindowVisible(window) &&
      (search->thread == 0 || search->thread == thread)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
HWND VisibleTips(DWORD threadId = 0) {
  TipsSearch search = {threadId, nullptr};
  EnumWindows(FindVisibleTips, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A skin window that accepts everything and draws nothing; it notes the window it was bound to
// last and whether that one got its skin loaded.
class QuietSkinWindow final : public IHostSkinWindow {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IHostSkinWindow) {
      *ppv = static_cast<IHostSkinWindow*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE BindWindow(HWND hWnd) override {
    bound = hWnd;
    loaded = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PrepareWindow(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LoadSkin(HWND hWnd, BSTR, BSTR) override {
    loaded = hWnd == bound;
    return S_OK;
  }
  static inline HWND bound = nullptr;
  static inline bool loaded = false;

 private:
  ULONG m_cRef = 1;
};

std::wstring TitleOf(HWND window) {
  wchar_t title[128] = {};
  if (window != nullptr) GetWindowTextW(window, title, 128);
  return title;
}

bool PumpUntilVisible(DWORD threadId, DWORD timeoutMs = 5000) {
  const DWORD start = GetTickCount();
  while (VisibleTips(threadId) == nullptr) {
    if (GetTickCount() - start > timeoutMs) return false;
    Pump(10);
  }
  return true;
}

// CheckUpgrade with the pending package, then pumps until the tips window shows on this thread.
bool PromptHere(IUpgradeHost* host) {
  return host != nullptr && host->CheckUpgrade(0) == S_OK && PumpUntilVisible(GetCurrentThreadId());
}

void WritePendingRecord() {
  const std::wstring folder = GetUpdateDataFolder((ExeFolder() + L"CadenzaUpdate.exe").c_str());
  CreateDirectoryW((GetAppDataFolder() + L"CadenzaUpdate").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring text =
      L"[Cadenza]\r\nUpdateRecord_S_bScheduleInstallation=1\r\nUpdateRecord_S_bCrisisPack=0\r\n"
      L"UpdateRecord_S_strModuleType=Cadenza\r\nUpdateRecord_S_dwVersion=" +
      std::to_wstring(kAppVersion + 1) +
      L"\r\nUpdateRecord_S_wPatchNum=0\r\nUpdateRecord_S_wBuildNum=0\r\n"
      L"UpdateRecord_S_strVersionName=5.2\r\nUpdateRecord_S_strDescription=新版本\\n更快的播放\r\n"
      L"UpdateRecord_S_strZipFileName=c.zip\r\nUpdateRecord_S_strExeFileName=setup.exe\r\n"
      L"UpdateRecord_S_byarHash=00112233445566778899AABBCCDDEEFF\r\n";
  ASSERT_TRUE(WriteUnicodeText(folder + L"CadenzaUpdate.ini", text));
}

void UseReferenceSkins() {
  ResetFakeHost();
  FakeHost().createSkinWindow = CreateSkinWindowObject;
  FakeHost().offerFakeUpgradeHost = true;
}

// The component as a host loads it: a copy in a folder of its own, through its exports.
class LoadedComponent {
 public:
  LoadedComponent() : module_(LoadLibraryW((ExeFolder() + L"component\\Cadenza_Upgrade.dll").c_str())) {}
  HMODULE module() const { return module_; }
  ComPtr<IUpgradeHost> Create() const {
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IUpgradeHost> host;
    if (get != nullptr && SUCCEEDED(get(CLSID_UpgradeHost, IID_IClassFactory,
                                        reinterpret_cast<void**>(factory.GetAddressOf()))))
      factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf()));
    return host;
  }
  HRESULT CanUnloadNow() const {
    auto can = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    return can != nullptr ? can() : E_FAIL;
  }

 private:
  HMODULE module_;
};

bool ComponentLoaded() {
  return GetModuleHandleW((ExeFolder() + L"component\\Cadenza_Upgrade.dll").c_str()) != nullptr;
}

// ---- the child side: one scenario per test, run only in a child process ----

class Scenario : public testing::Test {
 protected:
  void SetUp() override {
    if (!InChild()) GTEST_SKIP() << "runs in a child process";
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    SetEnvironmentVariableW(L"CADENZA_LOG_FOLDER", (ExeFolder() + L"logs").c_str());
    SetEnvironmentVariableW(L"CADENZA_APP_VERSION", std::to_wstring(kAppVersion).c_str());
    WritePendingRecord();
    UseReferenceSkins();
  }
};

// A worker thread in its own apartment shows the window; the main thread frees the library;
// the worker goes on pumping and using the window. The window's procedure must stay mapped.
TEST_F(Scenario, UnloadWhileAnotherThreadShowsTheWindow) {
  auto* component = new LoadedComponent();
  ASSERT_NE(nullptr, component->module());
  HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE freed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> tips{nullptr};
  std::atomic<bool> workerOk{false};
  std::thread worker([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();
    if (PromptHere(component->Create().Get())) tips = VisibleTips(GetCurrentThreadId());
    SetEvent(shown);
    WaitForSingleObject(freed, 10000);
    // The host's user moves the mouse over the window, it is repainted, then closed.
    for (int i = 0; i < 20 && tips.load() != nullptr; ++i) {
      PostMessageW(tips, WM_MOUSEMOVE, 0, MAKELPARAM(150 + i, 145));
      RedrawWindow(tips, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      Pump(20);
    }
    workerOk = tips.load() != nullptr && IsWindow(tips);
    if (tips.load() != nullptr) SendMessageW(tips, WM_CLOSE, 0, 0);
    Pump(100);
    RevokeFakeHostProvider();
    CoUninitialize();
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(shown, 15000));
  ASSERT_NE(nullptr, tips.load());
  EXPECT_EQ(S_FALSE, component->CanUnloadNow()) << "the window's procedure is the library's";
  FreeLibrary(component->module());
  CoFreeUnusedLibraries();
  SetEvent(freed);
  worker.join();
  EXPECT_TRUE(workerOk);
  EXPECT_TRUE(ComponentLoaded()) << "kept while its window lives";
  delete component;
}

// On the window's own thread, FreeLibrary returns at once and leaves a working window.
TEST_F(Scenario, UnloadOnTheWindowsThreadDoesNotWait) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component;
  ASSERT_TRUE(PromptHere(component.Create().Get()));  // the object is released right after
  const HWND tips = VisibleTips(GetCurrentThreadId());
  EXPECT_EQ(S_FALSE, component.CanUnloadNow());
  const DWORD start = GetTickCount();
  FreeLibrary(component.module());
  EXPECT_LT(GetTickCount() - start, 500u);
  Pump(200);
  EXPECT_TRUE(IsWindowVisible(tips));
  // Its buttons still answer: Later hides it.
  SendMessageW(tips, WM_SKINEVENT, kEventLater, 0);
  Pump(100);
  EXPECT_FALSE(IsWindowVisible(tips));
}

// Process exit with the window shown: nothing of the component calls the window system or
// the host's objects any more. The observer reports such calls into a file.
HANDLE g_exitReport = INVALID_HANDLE_VALUE;
std::atomic<bool> g_exiting{false};
void ReportAtExit(const wchar_t* what) {
  if (!g_exiting || g_exitReport == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(g_exitReport, what, static_cast<DWORD>(wcslen(what) * sizeof(wchar_t)), &written, nullptr);
  WriteFile(g_exitReport, L"\n", sizeof(wchar_t), &written, nullptr);
}

TEST_F(Scenario, ProcessExitWithTheWindowShown) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  FakeHost().observer = ReportAtExit;
  auto* component = new LoadedComponent();  // never freed: the process ends with it
  ComPtr<IUpgradeHost> host = component->Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  host.Detach();  // as a host that ends without releasing
  g_exitReport = CreateFileW((ExeFolder() + L"exit-report.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, g_exitReport);
  g_exiting = true;
  std::exit(0);  // the runtime's exit, then the libraries' detach
}

// The window destroyed from outside: by its owner's destruction, by the end of its thread,
// by a close. The next check that must prompt shows a window again.
TEST_F(Scenario, PromptComesBackAfterTheWindowWasDestroyed) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component;
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(host);

  // The owner (the player's main window) destroyed and made again.
  HWND owner = CreateWindowExW(0, L"STATIC", L"player", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  FakeHost().mainWindow = owner;
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  ASSERT_TRUE(PumpUntilVisible(GetCurrentThreadId()));
  HWND tips = VisibleTips(GetCurrentThreadId());
  EXPECT_EQ(owner, GetWindow(tips, GW_OWNER));
  DestroyWindow(owner);
  EXPECT_FALSE(IsWindow(tips));
  owner = CreateWindowExW(0, L"STATIC", L"player", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  FakeHost().mainWindow = owner;
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  ASSERT_TRUE(PumpUntilVisible(GetCurrentThreadId())) << "prompt lost after the owner went";
  tips = VisibleTips(GetCurrentThreadId());
  EXPECT_EQ(owner, GetWindow(tips, GW_OWNER));

  // Alt+F4 (the system's close command) answers as the Close button: the flag is stored as
  // Close stores it, the window hides and the next prompt shows it again.
  SendMessageW(tips, WM_SKINEVENT, kEventNotPrompt, 0);  // a malformed argument changes nothing
  FakeHost().calls.clear();
  SendMessageW(tips, WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump(100);
  EXPECT_FALSE(IsWindowVisible(tips));
  EXPECT_EQ(1, FakeHost().Count(L"SetPromptUpgrade(1)"));
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_TRUE(PumpUntilVisible(GetCurrentThreadId())) << "prompt lost after Alt+F4";
}

// The thread that showed the window ends (and the system destroys the window with it); a
// check on another thread shows it there, with the same title, and calls only the host
// objects of its own apartment (the first apartment is gone).
TEST_F(Scenario, PromptComesBackAfterItsThreadEnded) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component;
  std::atomic<bool> shown{false};
  std::wstring firstTitle;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();
    shown = PromptHere(component.Create().Get());
    firstTitle = TitleOf(VisibleTips(GetCurrentThreadId()));
    RevokeFakeHostProvider();
    CoUninitialize();
  }).join();
  ASSERT_TRUE(shown);
  EXPECT_EQ(nullptr, VisibleTips());
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(host);
  ASSERT_EQ(S_OK, host->CheckUpgrade(0));
  ASSERT_TRUE(PumpUntilVisible(GetCurrentThreadId())) << "prompt lost after its thread ended";
  const HWND tips = VisibleTips(GetCurrentThreadId());
  EXPECT_FALSE(firstTitle.empty());
  EXPECT_EQ(firstTitle, TitleOf(tips)) << "the window made again has another title";
  EXPECT_EQ(0, SendMessageW(tips, WM_SKINEVENT, kEventLater, 0));
  EXPECT_EQ(0, FakeHost().callsFromAnotherThread) << "a host object of the ended apartment was called";
}

// A later prompt whose skin cannot be set up again is not shown; the next one is.
TEST_F(Scenario, UnskinnedWindowIsNeverShown) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component;
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  SendMessageW(VisibleTips(GetCurrentThreadId()), WM_SKINEVENT, kEventClose, 0);
  Pump(100);

  FakeHost().createSkinWindow = [](IUnknown**) { return E_FAIL; };
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  Pump(200);
  EXPECT_EQ(nullptr, VisibleTips()) << "shown without its skin";

  FakeHost().createSkinWindow = CreateSkinWindowObject;
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_TRUE(PumpUntilVisible(GetCurrentThreadId()));
}

// A prompt from another thread than the window's does not wait for that thread; the window
// shows when its thread pumps again.
TEST_F(Scenario, PromptFromAnotherThreadDoesNotWaitForTheWindowsThread) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component;
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  SendMessageW(VisibleTips(GetCurrentThreadId()), WM_SKINEVENT, kEventLater, 0);
  Pump(100);

  // This thread is busy (not pumping) while another thread checks.
  std::atomic<HRESULT> result{E_PENDING};
  std::atomic<DWORD> took{0};
  std::thread other([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();  // the host's provider is there for each apartment
    {
      ComPtr<IUpgradeHost> second = component.Create();
      const DWORD start = GetTickCount();
      if (second) result = second->CheckUpgrade(0);
      took = GetTickCount() - start;
    }
    RevokeFakeHostProvider();
    CoUninitialize();
  });
  other.join();
  EXPECT_EQ(S_OK, result.load());
  EXPECT_LT(took.load(), 2000u);
  EXPECT_TRUE(PumpUntilVisible(GetCurrentThreadId()));
}

// Every allocation that the upgrade operations, the event source, the class factory and the
// tips window make, failed one at a time: each call returns (E_OUTOFMEMORY or its usual
// result) and no exception reaches the caller. Runs the statically linked component. The
// host's objects (the fake's factory, called by COM inside CoCreateInstance, and what its
// provider hands out) fail with E_OUTOFMEMORY too: an exception from them would have to cross
// COM's own frames, which the 32-bit runtime cannot unwind. The window's own answers, run by
// the message loop, keep every failure inside the window procedure, and the window answers
// afterwards.
TEST_F(Scenario, AllocationFailuresNeverReachTheHost) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  FakeHost().createSkinWindow = [](IUnknown** pp) -> HRESULT {
    *pp = new (std::nothrow) QuietSkinWindow();
    return *pp != nullptr ? S_OK : E_OUTOFMEMORY;
  };
  ComPtr<IUpgradeHost> host;
  ASSERT_EQ(S_OK, CUpgradeHost::CreateInstance(nullptr, IID_IUpgradeHost,
                                               reinterpret_cast<void**>(host.GetAddressOf())));
  struct Sink : IUnknown {
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
      *ppv = this;
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
  } sink;
  const auto pump = [] { Pump(5); };
  SweepAllocationFailures("the host's factory and objects", [] {
    ComPtr<IHostServiceProvider> provider;
    HRESULT hr = CoCreateInstance(CLSID_HostServiceProvider, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IHostServiceProvider, reinterpret_cast<void**>(provider.GetAddressOf()));
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> object;
    if (FAILED(hr = provider->CreateSettings(&object))) return hr;
    ComPtr<IHostSettings> settings;
    if (FAILED(hr = object.As(&settings))) return hr;
    if (FAILED(hr = settings->SetPromptedVersion(1))) return hr;
    if (FAILED(hr = provider->CreateAppControl(object.ReleaseAndGetAddressOf()))) return hr;
    return provider->GetUpgradeHost(object.ReleaseAndGetAddressOf());
  });
  // A window that shows has its skin loaded, whichever step of its set-up failed before.
  bool unskinned = false;
  SweepAllocationFailures("CheckUpgrade", [&] {
    const HRESULT hr = host->CheckUpgrade(0);
    if (HWND tips = VisibleTips()) {
      unskinned = QuietSkinWindow::bound != tips || !QuietSkinWindow::loaded;
      SendMessageW(tips, WM_SKINEVENT, kEventLater, 0);
    }
    return hr;
  }, [&] {
    EXPECT_FALSE(std::exchange(unskinned, false)) << "shown without its skin";
    pump();
  });

  // Tab moves the focus round to Install and Enter presses it, each key dispatched by the
  // message loop as a key press is; whatever fails stays in the window procedure, and the
  // window then still answers Escape (Later).
  ASSERT_TRUE(PromptHere(host.Get()));
  SweepAllocationFailures("the window's keys", [&] {
    HWND tips = VisibleTips(GetCurrentThreadId());
    if (tips == nullptr) return E_UNEXPECTED;
    for (WPARAM key : {VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_RETURN}) PostMessageW(tips, WM_KEYDOWN, key, 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return S_OK;
  }, [&] {
    if (HWND tips = VisibleTips(GetCurrentThreadId())) {
      PostMessageW(tips, WM_KEYDOWN, VK_ESCAPE, 0);
      Pump(5);
      EXPECT_EQ(nullptr, VisibleTips()) << "the window stopped answering";
    }
    Pump(5);
    EXPECT_TRUE(PromptHere(host.Get())) << "no prompt after a failure in the window";
  });

  ComPtr<IConnectionPointContainer> container;
  ASSERT_HRESULT_SUCCEEDED(host.As(&container));
  ComPtr<IConnectionPoint> point;
  ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__IUpgradeHostEvents, &point));
  SweepAllocationFailures("Advise and EnumConnections", [&] {
    DWORD cookie = 0;
    HRESULT hr = point->Advise(&sink, &cookie);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumConnections> connections;
    hr = point->EnumConnections(&connections);
    ComPtr<IEnumConnections> clone;
    if (SUCCEEDED(hr)) hr = connections->Clone(&clone);
    point->Unadvise(cookie);
    return hr;
  });
  SweepAllocationFailures("EnumConnectionPoints", [&] {
    ComPtr<IEnumConnectionPoints> points;
    return container->EnumConnectionPoints(&points);
  });
}

// A second single-threaded apartment of the player with an UpgradeHost of its own: its check
// goes through a provider made in that apartment, and every host object is called only on the
// thread that made it. The window stays on the first thread and its calls stay there too.
TEST_F(Scenario, EachApartmentCallsOnlyItsOwnHostObjects) {
  ASSERT_TRUE(RegisterFakeHostProvider());
  LoadedComponent component;
  ComPtr<IUpgradeHost> host = component.Create();
  ASSERT_TRUE(PromptHere(host.Get()));
  const int providers = FakeHost().providersCreated;

  HANDLE checked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HRESULT> result{E_PENDING};
  std::atomic<int> madeThere{0};
  std::thread second([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegisterFakeHostProvider();
    {
      ComPtr<IUpgradeHost> own = component.Create();
      const int before = FakeHost().providersCreated;
      if (own) result = own->CheckUpgrade(0);
      madeThere = FakeHost().providersCreated - before;
    }
    SetEvent(checked);
    WaitForSingleObject(done, 15000);  // alive while the first thread goes on
    RevokeFakeHostProvider();
    CoUninitialize();
  });
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(checked, 15000));
  EXPECT_EQ(S_OK, result.load());
  EXPECT_EQ(1, madeThere.load()) << "the second apartment's check needs a provider of its own";

  // The first thread goes on with its own providers: Install on the window, another check.
  Pump(100);
  const HWND tips = VisibleTips(GetCurrentThreadId());
  ASSERT_NE(nullptr, tips);
  EXPECT_EQ(0, SendMessageW(tips, WM_SKINEVENT, kEventInstall, 0));
  EXPECT_EQ(1, FakeHost().Count(L"ScheduledUpgrade(0)"));
  EXPECT_EQ(S_OK, host->CheckUpgrade(0));
  EXPECT_EQ(providers + 1, FakeHost().providersCreated) << "one provider per apartment and use";
  SetEvent(done);
  second.join();
  EXPECT_EQ(0, FakeHost().callsFromAnotherThread) << "a host object called from another apartment";
  CloseHandle(checked);
  CloseHandle(done);
}

// ---- the parent side: an installation of its own, one child run per scenario ----

class HostSafety : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Early in the path, so that the installation's update data folder is its own.
    wchar_t name[64];
    swprintf(name, 64, L"C:\\hs%lu-%lu\\", GetCurrentProcessId(), GetTickCount());
    installation_ = name;
    CreateDirectoryW(installation_.c_str(), nullptr);
    CreateDirectoryW((installation_ + L"component").c_str(), nullptr);
    CreateDirectoryW((installation_ + L"logs").c_str(), nullptr);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    CopyFileW(exe, (installation_ + L"host_safety.exe").c_str(), FALSE);
    for (const wchar_t* file : {L"Cadenza_Upgrade.dll", L"CadenzaCommon.dll", L"CadenzaWidget_MFC.dll"})
      CopyFileW((ExeFolder() + file).c_str(), (installation_ + file).c_str(), FALSE);
    CopyFileW((ExeFolder() + L"Cadenza_Upgrade.dll").c_str(),
              (installation_ + L"component\\Cadenza_Upgrade.dll").c_str(), FALSE);
  }
  static void TearDownTestSuite() {
    RemoveTree(GetUpdateDataFolder((installation_ + L"CadenzaUpdate.exe").c_str()));
    RemoveTree(installation_);
  }
  void SetUp() override {
    if (InChild()) GTEST_SKIP();
  }

  // Runs one scenario in a child process; its exit code (0 when every check held).
  static DWORD RunScenario(const std::wstring& scenario) {
    const std::wstring exe = installation_ + L"host_safety.exe";
    std::wstring command = L"\"" + exe + L"\" --gtest_filter=Scenario." + scenario;
    SetEnvironmentVariableW(kScenarioVariable, scenario.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, installation_.c_str(), &si, &pi);
    SetEnvironmentVariableW(kScenarioVariable, nullptr);
    if (!started) return ~0u;
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, 90000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }

  static inline std::wstring installation_;
};

TEST_F(HostSafety, UnloadWhileAnotherThreadShowsTheWindow) {
  EXPECT_EQ(0u, RunScenario(L"UnloadWhileAnotherThreadShowsTheWindow"));
}

TEST_F(HostSafety, UnloadOnTheWindowsThreadDoesNotWait) {
  EXPECT_EQ(0u, RunScenario(L"UnloadOnTheWindowsThreadDoesNotWait"));
}

TEST_F(HostSafety, ProcessExitMakesNoWindowOrHostCall) {
  DeleteFileW((installation_ + L"exit-report.txt").c_str());
  EXPECT_EQ(0u, RunScenario(L"ProcessExitWithTheWindowShown"));
  const std::string report = ReadBytes(installation_ + L"exit-report.txt");
  ASSERT_TRUE(FileExists(installation_ + L"exit-report.txt"));
  EXPECT_EQ("", report) << "calls into the host at exit: " << report.size() / 2 << " bytes";
}

TEST_F(HostSafety, PromptComesBackAfterTheWindowWasDestroyed) {
  EXPECT_EQ(0u, RunScenario(L"PromptComesBackAfterTheWindowWasDestroyed"));
}

TEST_F(HostSafety, PromptComesBackAfterItsThreadEnded) {
  EXPECT_EQ(0u, RunScenario(L"PromptComesBackAfterItsThreadEnded"));
}

TEST_F(HostSafety, UnskinnedWindowIsNeverShown) {
  EXPECT_EQ(0u, RunScenario(L"UnskinnedWindowIsNeverShown"));
}

TEST_F(HostSafety, PromptFromAnotherThreadDoesNotWaitForTheWindowsThread) {
  EXPECT_EQ(0u, RunScenario(L"PromptFromAnotherThreadDoesNotWaitForTheWindowsThread"));
}

TEST_F(HostSafety, AllocationFailuresNeverReachTheHost) {
  EXPECT_EQ(0u, RunScenario(L"AllocationFailuresNeverReachTheHost"));
}

TEST_F(HostSafety, EachApartmentCallsOnlyItsOwnHostObjects) {
  EXPECT_EQ(0u, RunScenario(L"EachApartmentCallsOnlyItsOwnHostObjects"));
}

}  // namespace
