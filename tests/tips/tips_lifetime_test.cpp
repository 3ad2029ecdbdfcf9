// The tips window's life: made once, hidden, owned and skinned; each prompt after an answer
// skins the same window again with a new skin object; destroying the object takes its window
// and class with it, and a later use starts over.
#include <windows.h>
#include <oleauto.h>
#include <richedit.h>
#include <wrl/client.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/com_object.h"
#include "base/this_module.h"
#include "player_api/cadenza_common.h"
#include "refhost/skin/skin_window.h"
#include "tests/common/fake_host.h"
#include "tests/common/window_kit.h"
#include "tests/tips/tips_fixture.h"

namespace tips_test {
namespace {

// ---- creation ----

// Each creation test starts from no window, whichever tests ran before it.
void StartWithoutAWindow() {
  DestroyUpgradeTipsWnd();
  ResetTipsHost();
}

TEST(TipsWindowCreation, CreatedOnceHiddenOwnedAndSkinned) {
  StartWithoutAWindow();
  CUpgradeTipsWnd* tips = GetUpgradeTipsWnd();
  ASSERT_NE(nullptr, tips);
  const HWND hWnd = tips->GetSafeHwnd();
  ASSERT_TRUE(IsWindow(hWnd));
  EXPECT_EQ(tips, GetUpgradeTipsWnd());
  EXPECT_EQ(1, testing_support::FakeHost().Count(L"GetMainWindow"));
  EXPECT_EQ(1, testing_support::FakeHost().Count(L"CreateSettings"));
  EXPECT_EQ(1, testing_support::FakeHost().Count(L"CreateSkinWindow"));

  EXPECT_FALSE(IsWindowVisible(hWnd));
  EXPECT_EQ(HostMainWindow(), GetWindow(hWnd, GW_OWNER));
  EXPECT_TRUE(GetWindowLongW(hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(GetWindowLongW(hWnd, GWL_STYLE) & WS_POPUP);
  const RECT rc = WindowRect(hWnd);  // sized by the skin
  EXPECT_EQ(258, rc.right - rc.left);
  EXPECT_EQ(170, rc.bottom - rc.top);
}

TEST(TipsWindowCreation, ContentControlIsPlacedReadOnlyAndReportsOnlyLinks) {
  StartWithoutAWindow();
  const HWND hWnd = GetUpgradeTipsWnd()->GetSafeHwnd();
  const HWND content = Content(hWnd);
  ASSERT_NE(nullptr, content);
  wchar_t className[64] = {};
  GetClassNameW(content, className, 64);
  EXPECT_STREQ(L"RichEdit20W", className);

  // riched20.dll came from the system folder.
  wchar_t system[MAX_PATH], loaded[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_TRUE(GetModuleFileNameW(GetModuleHandleW(L"riched20.dll"), loaded, MAX_PATH));
  EXPECT_EQ(0, _wcsnicmp(system, loaded, wcslen(system))) << "loaded from elsewhere";

  RECT rc = WindowRect(content);
  MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(25, rc.left);
  EXPECT_EQ(60, rc.top);
  EXPECT_EQ(225, rc.right - rc.left);
  EXPECT_EQ(75, rc.bottom - rc.top);

  const LONG style = GetWindowLongW(content, GWL_STYLE);
  EXPECT_TRUE(style & ES_READONLY);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_TRUE(GetWindowLongW(content, GWL_EXSTYLE) & WS_EX_TRANSPARENT);
  EXPECT_EQ(static_cast<LRESULT>(ENM_LINK), SendMessageW(content, EM_GETEVENTMASK, 0, 0));

  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  SendMessageW(content, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
  EXPECT_EQ(RGB(0x23, 0x65, 0x99), cf.crTextColor);
  EXPECT_FALSE(cf.dwEffects & CFE_AUTOCOLOR);
  PARAFORMAT2 pf = {};
  pf.cbSize = sizeof pf;
  SendMessageW(content, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
  EXPECT_EQ(4, pf.bLineSpacingRule);
  EXPECT_EQ(275, pf.dyLineSpacing);
}

// ---- a second prompt in the same process ----

TEST_F(TipsWindowTest, SecondPromptAfterATearDownIsSkinnedAndAnswersAgain) {
  Show(L"第一次提示");
  CheckBox(1);
  Event(kEventClose);
  FinishTearDown();
  EXPECT_EQ(1, Event(kEventLater));  // torn down

  const int settingsBefore = testing_support::FakeHost().Count(L"CreateSettings");
  const int skinsBefore = testing_support::FakeHost().Count(L"CreateSkinWindow");
  Show(L"第二次提示");
  EXPECT_EQ(settingsBefore + 1, testing_support::FakeHost().Count(L"CreateSettings"));
  EXPECT_EQ(skinsBefore + 1, testing_support::FakeHost().Count(L"CreateSkinWindow"));
  EXPECT_EQ(L"第二次提示", TextOf(content()));

  // Drawn by the skin: the button faces differ from the plain background.
  testing_support::PumpPending(30);
  const testing_support::Capture drawn = testing_support::PrintClient(hwnd_);
  ASSERT_EQ(258, drawn.width);
  EXPECT_NE(drawn.At(5, 5), drawn.At(167, 141));

  // The new check box starts unticked, and so does the flag: Later keeps prompting.
  EXPECT_EQ(0, Event(kEventLater));
  EXPECT_EQ((std::vector<LONG>{FALSE, TRUE}), testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
}

// ---- the skin engine's side of each prompt ----

// A skin window of the reference engine that also writes down what the component asks of it:
// "Create n", "BindWindow n", "PrepareWindow n", "LoadSkin n", "Released n" (n counts the
// objects), the window handles it got and the last document and script.
struct SkinCalls {
  std::vector<std::wstring> calls;
  std::vector<HWND> windows;
  std::wstring document, script;
  int made = 0;
};
SkinCalls g_skinCalls;

class RecordingSkinWindow final : public ComObject<IHostSkinWindow> {
 public:
  RecordingSkinWindow(Microsoft::WRL::ComPtr<IHostSkinWindow> inner, int number)
      : inner_(std::move(inner)), number_(number) {}
  HRESULT STDMETHODCALLTYPE BindWindow(HWND hWnd) override {
    Note(L"BindWindow", hWnd);
    return inner_->BindWindow(hWnd);
  }
  HRESULT STDMETHODCALLTYPE PrepareWindow(HWND hWnd) override {
    Note(L"PrepareWindow", hWnd);
    return inner_->PrepareWindow(hWnd);
  }
  HRESULT STDMETHODCALLTYPE LoadSkin(HWND hWnd, BSTR bstrSkin, BSTR bstrScript) override {
    Note(L"LoadSkin", hWnd);
    g_skinCalls.document.assign(bstrSkin, SysStringLen(bstrSkin));
    g_skinCalls.script.assign(bstrScript, SysStringLen(bstrScript));
    return inner_->LoadSkin(hWnd, bstrSkin, bstrScript);
  }

 private:
  ~RecordingSkinWindow() override { Note(L"Released", nullptr); }

  void Note(const wchar_t* what, HWND hWnd) {
    g_skinCalls.calls.push_back(std::wstring(what) + L" " + std::to_wstring(number_));
    if (hWnd != nullptr) g_skinCalls.windows.push_back(hWnd);
  }
  Microsoft::WRL::ComPtr<IHostSkinWindow> inner_;
  int number_;
};

HRESULT CreateRecordingSkinWindow(IUnknown** ppSkinWindow) {
  Microsoft::WRL::ComPtr<IUnknown> made;
  Microsoft::WRL::ComPtr<IHostSkinWindow> inner;
  HRESULT hr = CreateSkinWindowObject(made.GetAddressOf());
  if (FAILED(hr) || FAILED(hr = made.As(&inner))) return hr;
  const int number = ++g_skinCalls.made;
  g_skinCalls.calls.push_back(L"Create " + std::to_wstring(number));
  auto* recording = new (std::nothrow) RecordingSkinWindow(std::move(inner), number);
  if (recording == nullptr) return E_OUTOFMEMORY;
  *ppSkinWindow = static_cast<IHostSkinWindow*>(recording);
  return S_OK;
}

// With CADENZA_SKIN_DOCUMENT_DUMP set, the document and script as LoadSkin got them, and the
// module path its images name, go to standard output as UTF-8 between marker lines, for the
// host contract's check of its skin document section (tests/contract/check_skin_document.py).
void DumpSkinForContractCheck(const std::wstring& modulePath) {
  if (GetEnvironmentVariableW(L"CADENZA_SKIN_DOCUMENT_DUMP", nullptr, 0) == 0) return;
  const auto utf8 = [](const std::wstring& text) {
    std::string bytes(static_cast<size_t>(text.size()) * 4 + 1, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(),
        static_cast<int>(text.size()), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr)));
    return bytes;
  };
  const std::string out = "\n=== module path\n" + utf8(modulePath) + "\n=== document\n" +
                          utf8(g_skinCalls.document) + "=== script\n" + utf8(g_skinCalls.script) +
                          "=== end\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

// Every prompt after an answer sets the skin up again on the same, still living window: a new
// skin object, bound, prepared and loaded with the same document, the one before released
// once the answer's tear-down ran. What the host contract's life cycle says.
TEST_F(TipsWindowTest, EachPromptAfterAnAnswerSkinsTheSameWindowWithANewObject) {
  Show(L"第一次提示");  // with the reference engine's object of the fixture
  Event(kEventLater);
  FinishTearDown();
  g_skinCalls = SkinCalls();
  testing_support::FakeHost().createSkinWindow = CreateRecordingSkinWindow;

  std::vector<std::wstring> documents;
  for (int prompt = 1; prompt <= 2; ++prompt) {
    Show(L"提示");
    ASSERT_TRUE(IsWindowVisible(hwnd_));
    documents.push_back(g_skinCalls.document);
    EXPECT_EQ(0, Event(prompt == 1 ? kEventClose : kEventLater));
    FinishTearDown();
    EXPECT_TRUE(IsWindow(hwnd_)) << "the window lives on after the tear-down";
    EXPECT_FALSE(IsWindowVisible(hwnd_));
  }
  const std::vector<std::wstring> expected = {
      L"Create 1", L"BindWindow 1", L"PrepareWindow 1", L"LoadSkin 1", L"Released 1",
      L"Create 2", L"BindWindow 2", L"PrepareWindow 2", L"LoadSkin 2", L"Released 2"};
  EXPECT_EQ(expected, g_skinCalls.calls);
  EXPECT_EQ(std::vector<HWND>(6, hwnd_), g_skinCalls.windows);
  ASSERT_EQ(2u, documents.size());
  EXPECT_EQ(documents[0], documents[1]);
  EXPECT_EQ(0u, documents[0].find(L"<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<theme"));
  DumpSkinForContractCheck(cadenza::GetExeFolder() + L"Cadenza_Upgrade.dll");
}

// ---- unloading: replaces the process-wide window ----

TEST(TipsWindowUnload, DestroyingTheObjectDestroysItsWindowAndUnregistersItsClass) {
  const HWND old = GetUpgradeTipsWnd()->GetSafeHwnd();
  ASSERT_TRUE(IsWindow(old));
  DestroyUpgradeTipsWnd();
  EXPECT_FALSE(IsWindow(old));
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  EXPECT_FALSE(GetClassInfoExW(ThisModule(), L"CadenzaUpgradeWnd", &wc));

  // A later use starts over with a new, skinned window.
  ResetTipsHost();
  CUpgradeTipsWnd* again = GetUpgradeTipsWnd();
  ASSERT_TRUE(IsWindow(again->GetSafeHwnd()));
  EXPECT_EQ(1, testing_support::FakeHost().Count(L"CreateSkinWindow"));
  RECT rc = WindowRect(again->GetSafeHwnd());
  EXPECT_EQ(258, rc.right - rc.left);
}

}  // namespace
}  // namespace tips_test
