// The upgrade tips window under Xvfb, with a fake host service provider and the reference
// skin engine: creation, placement, the content control and its folding, the skin events,
// a second prompt after a tear-down, a real click, and a picture of the shown window.
#include <windows.h>
#include <oleauto.h>
#include <oleacc.h>
#include <richedit.h>
#include <wrl/client.h>

#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/this_module.h"
#include "host/cadenza_common.h"
#include "refhost/skin/skin_window.h"
#include "tests/common/fake_host.h"
#include "base/folders.h"
#include "tests/common/window_kit.h"
#include "tips/upgrade_tips_wnd.h"

namespace {

const std::wstring kLink = L"显示更多";
const std::wstring kSeparatorAndLink = L"\u2026\u2026显示更多";

HWND g_owner = nullptr;

// Set for a child run of this program in which no host service provider exists.
const wchar_t kNoProviderVariable[] = L"CADENZA_TIPS_TEST_NO_PROVIDER";
bool WithoutProvider() { return GetEnvironmentVariableW(kNoProviderVariable, nullptr, 0) != 0; }

// The host as the tips window expects it: skin windows of the reference engine, and a host-kept
// upgrade host that records ScheduledUpgrade.
void ResetTipsHost() {
  testing_support::ResetFakeHost();
  testing_support::FakeHost().createSkinWindow = CreateSkinWindowObject;
  testing_support::FakeHost().offerFakeUpgradeHost = true;
}

class TipsEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (WithoutProvider()) return;
    g_owner = CreateWindowExW(0, L"STATIC", L"host main window", WS_POPUP, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, g_owner);
    testing_support::FakeHost().mainWindow = g_owner;
    ResetTipsHost();
    ASSERT_TRUE(testing_support::RegisterFakeHostProvider());
  }
};
testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new TipsEnvironment);

HWND Content(HWND tips) { return GetDlgItem(tips, IDC_UPGRADE_CONTENT); }

std::wstring TextOf(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(GetWindowTextW(control, text.data(), length + 1));
  return text;
}

RECT WindowRect(HWND hWnd) {
  RECT rc = {};
  GetWindowRect(hWnd, &rc);
  return rc;
}

RECT WorkArea() {
  RECT rc = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0);
  return rc;
}

bool HasEffect(HWND control, long position, DWORD effect) {
  CHARRANGE range = {position, position + 1};
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
  return (cf.dwEffects & effect) != 0;
}

long ControlLength(HWND control) {
  GETTEXTLENGTHEX query = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  return static_cast<long>(SendMessageW(control, EM_GETTEXTLENGTHEX,
                                        reinterpret_cast<WPARAM>(&query), 0));
}

// ---- creation: these suites run first and see the window made ----

// In a child run without a provider: the object exists, its window does not, and nothing
// that is asked of it shows anything.
TEST(TipsWindowWithoutProvider, ObjectWithoutAWindowDoesNothingVisible) {
  if (!WithoutProvider()) GTEST_SKIP() << "runs in the child process of the next test";
  CUpgradeTipsWnd* tips = GetUpgradeTipsWnd();
  ASSERT_NE(nullptr, tips);
  EXPECT_EQ(nullptr, tips->GetSafeHwnd());
  EXPECT_EQ(tips, GetUpgradeTipsWnd());
  tips->SetContent(L"第一行\r\n第二行\r\n第三行\r\n第四行\r\n第五行");
  EXPECT_FALSE(tips->ShowWindow(SW_SHOW));
  // No tips window of this process: the parent test process and other programs may show theirs.
  HWND found = nullptr;
  while ((found = FindWindowExW(nullptr, found, L"CadenzaUpgradeWnd", nullptr)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(found, &pid);
    EXPECT_NE(GetCurrentProcessId(), pid) << "a tips window was created";
  }
}

TEST(TipsWindowWithoutProviderChildProcess, RunsThePreviousTestWithNoProvider) {
  if (WithoutProvider()) GTEST_SKIP();
  wchar_t exe[MAX_PATH];
  ASSERT_TRUE(GetModuleFileNameW(nullptr, exe, MAX_PATH));
  std::wstring command = std::wstring(L"\"") + exe +
                         L"\" --gtest_filter=TipsWindowWithoutProvider.*";
  ASSERT_TRUE(SetEnvironmentVariableW(kNoProviderVariable, L"1"));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const BOOL started = CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &si, &pi);
  SetEnvironmentVariableW(kNoProviderVariable, nullptr);
  ASSERT_TRUE(started);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
  DWORD exitCode = 1;
  GetExitCodeProcess(pi.hProcess, &exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(0u, exitCode);
}

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
  EXPECT_EQ(g_owner, GetWindow(hWnd, GW_OWNER));
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

// ---- a window in a known state for each test ----

class TipsWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    tips_ = GetUpgradeTipsWnd();
    hwnd_ = tips_->GetSafeHwnd();
    ASSERT_TRUE(IsWindow(hwnd_));
    tips_->ShowWindow(SW_HIDE);
    testing_support::PumpPending(30);  // a tear-down posted by the last test is done
    ResetTipsHost();
  }

  HWND content() const { return Content(hwnd_); }

  void Show(const std::wstring& description) {
    tips_->SetContent(description);
    tips_->ShowWindow(SW_SHOW);
  }

  LRESULT Event(WPARAM id, const VARIANT* argument) {
    return SendMessageW(hwnd_, WM_SKINEVENT, id, reinterpret_cast<LPARAM>(argument));
  }
  LRESULT Event(WPARAM id) {
    VARIANT empty;
    VariantInit(&empty);
    return Event(id, &empty);
  }
  // The check box's event, as the skin engine reports it: a reference to a VT_I4 state.
  LRESULT CheckBox(LONG ticked) {
    VARIANT state;
    state.vt = VT_I4;
    state.lVal = ticked;
    VARIANT argument;
    argument.vt = VT_BYREF | VT_VARIANT;
    argument.pvarVal = &state;
    return Event(kEventNotPrompt, &argument);
  }
  // Runs the tear-down the window posted to itself.
  void FinishTearDown() { testing_support::PumpPending(30); }

  CUpgradeTipsWnd* tips_ = nullptr;
  HWND hwnd_ = nullptr;
};

// ---- placement ----

TEST_F(TipsWindowTest, ShownInTheWorkAreasBottomRightCornerAndTopmost) {
  SetWindowPos(hwnd_, nullptr, 3, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Show(L"新版本修复了若干问题。");
  ASSERT_TRUE(IsWindowVisible(hwnd_));
  const RECT work = WorkArea();
  RECT rc = WindowRect(hwnd_);
  EXPECT_EQ(work.right, rc.right);
  EXPECT_EQ(work.bottom, rc.bottom);
  EXPECT_EQ(258, rc.right - rc.left);
  EXPECT_EQ(170, rc.bottom - rc.top);
  EXPECT_TRUE(GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_TOPMOST);

  // Shown again while visible: it stays where it was put.
  SetWindowPos(hwnd_, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  tips_->ShowWindow(SW_SHOW);
  rc = WindowRect(hwnd_);
  EXPECT_EQ(10, rc.left);
  EXPECT_EQ(20, rc.top);

  // Hidden and shown: placed anew.
  tips_->ShowWindow(SW_HIDE);
  tips_->ShowWindow(SW_SHOW);
  rc = WindowRect(hwnd_);
  EXPECT_EQ(work.right, rc.right);
  EXPECT_EQ(work.bottom, rc.bottom);
}

// ---- folding with the real control ----

TEST_F(TipsWindowTest, FourShortLinesShowWholeAndATrailingLineBreakFolds) {
  const std::wstring four = L"1. 新增歌词同步\r\n2. 修复播放卡顿\r\n3. 优化启动速度\r\n4. 更新皮肤";
  tips_->SetContent(four);
  EXPECT_EQ(four, TextOf(content()));

  // The empty fifth line counts as more text: the fourth line ends in the link.
  tips_->SetContent(four + L"\r\n");
  const std::wstring shown = TextOf(content());
  EXPECT_EQ(four.substr(0, four.rfind(L"\r\n") + 2), shown.substr(0, four.rfind(L"\r\n") + 2))
      << "the first three lines are kept whole";
  EXPECT_EQ(kLink, shown.substr(shown.size() - kLink.size()));
  EXPECT_EQ(4, SendMessageW(content(), EM_GETLINECOUNT, 0, 0));
}

// The fold as a person sees it, checked through the control itself: at most four lines, the
// link whole on the last of them and inside the client area, the kept text a prefix of the
// description, the separator before the link whenever a line was cut, and nothing dropped
// that would have fitted (one more character of the description pushes the link off).
void ExpectFoldedWell(HWND control, const std::wstring& description) {
  const std::wstring shown = TextOf(control);
  ASSERT_GE(shown.size(), kLink.size());
  ASSERT_EQ(kLink, shown.substr(shown.size() - kLink.size()));
  const int lines = static_cast<int>(SendMessageW(control, EM_GETLINECOUNT, 0, 0));
  EXPECT_LE(lines, 4);
  const long end = ControlLength(control);
  EXPECT_EQ(lines - 1, SendMessageW(control, EM_EXLINEFROMCHAR, 0, end - 4)) << "link wraps";
  EXPECT_EQ(lines - 1, SendMessageW(control, EM_EXLINEFROMCHAR, 0, end - 1));
  RECT client = {};
  GetClientRect(control, &client);
  POINTL last = {}, first = {}, second = {};
  SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&last), end - 1);
  SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&first), 0);
  SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&second),
               SendMessageW(control, EM_LINEINDEX, 1, 0));
  const long lineHeight = lines > 1 ? second.y - first.y : 12;
  EXPECT_LT(last.x, client.right);
  EXPECT_LE(last.y + lineHeight, client.bottom) << "the last line is cut off";

  std::wstring kept = shown.substr(0, shown.size() - kLink.size());
  const bool separated = kept.size() >= 2 && kept.substr(kept.size() - 2) == L"\u2026\u2026";
  if (separated) kept.resize(kept.size() - 2);
  ASSERT_EQ(kept, description.substr(0, kept.size())) << "the kept text is the description's start";
  if (!separated) {
    EXPECT_EQ(L"\r\n", description.substr(kept.size(), 2)) << "a cut line without the separator";
    return;
  }
  size_t more = kept.size() + 1;
  if (more < description.size() && description[more - 1] == L'\r') ++more;
  const std::wstring longer = description.substr(0, more) + kSeparatorAndLink;
  SetWindowTextW(control, longer.c_str());
  const long longerEnd = ControlLength(control);
  const bool overflows =
      SendMessageW(control, EM_GETLINECOUNT, 0, 0) > lines ||
      SendMessageW(control, EM_EXLINEFROMCHAR, 0, longerEnd - 4) !=
          SendMessageW(control, EM_EXLINEFROMCHAR, 0, longerEnd - 1);
  EXPECT_TRUE(overflows) << "a character that fits was dropped";
}

TEST_F(TipsWindowTest, TheLinkIsWholeOnTheFourthLineWhereverTheCutFalls) {
  // One long line and one long word (a URL) shifted a character at a time, so that the fourth
  // line's end falls on every position of the link in turn.
  std::wstring line;
  for (int i = 0; i < 12; ++i) line += L"本次升级带来了全新的播放体验。";
  std::wstring url = L"https://cadenza.invalid/";
  for (int i = 0; i < 40; ++i) url += L"release-notes/";
  for (int shift = 0; shift < 12; ++shift) {
    SCOPED_TRACE(shift);
    const std::wstring lead(static_cast<size_t>(shift), L'a');
    tips_->SetContent(lead + line);
    ExpectFoldedWell(content(), lead + line);
    tips_->SetContent(L"下载地址：" + lead + url);
    ExpectFoldedWell(content(), L"下载地址：" + lead + url);
  }
}

TEST_F(TipsWindowTest, FiveAndMoreLinesShowFourWithTheLink) {
  // Short lines: the fourth is kept whole and takes the link with no cut.
  tips_->SetContent(L"1\r\n2\r\n3\r\n4\r\n5\r\n6");
  EXPECT_EQ(L"1\r\n2\r\n3\r\n4" + kLink, TextOf(content()));
  tips_->SetContent(L"简介\r\n第二行\r\n第三行\r\n第四行\r\n第五行");
  EXPECT_EQ(L"简介\r\n第二行\r\n第三行\r\n第四行" + kLink, TextOf(content()));

  // A fourth line that fills its display line cannot take the link: it is cut and separated.
  std::wstring fourth;
  for (int i = 0; i < 30; ++i) fourth += L"长";
  const std::wstring full = L"新增歌词同步\r\n修复播放卡顿\r\n优化启动速度\r\n" + fourth + L"\r\n其他改进";
  tips_->SetContent(full);
  const std::wstring shown = TextOf(content());
  EXPECT_EQ(kSeparatorAndLink, shown.substr(shown.size() - kSeparatorAndLink.size()));
  ExpectFoldedWell(content(), full);
}

TEST_F(TipsWindowTest, AMillionCharactersFoldLikeTheirStart) {
  // Only a bounded start is measured, so the fold of a huge description is that of its start.
  std::wstring start;
  for (int i = 0; i < 40; ++i) start += L"第" + std::to_wstring(i) + L"项改进 ";
  for (const std::wstring& filler : {std::wstring(L"x"), std::wstring(L"\r\n")}) {
    std::wstring huge = start;
    while (huge.size() < 1000000) huge += filler;
    tips_->SetContent(start + filler);
    const std::wstring folded = TextOf(content());
    const DWORD began = GetTickCount();
    tips_->SetContent(huge);
    EXPECT_LT(GetTickCount() - began, 2000u);
    EXPECT_EQ(folded, TextOf(content()));
    ExpectFoldedWell(content(), huge);
  }
}

TEST_F(TipsWindowTest, OnlyTheLinkIsMarkedEvenWithLineBreaksAndAnotherShowCharacter) {
  const std::wstring description =
      L"显示效果改进\r\n显卡加速\r\n显示歌词\r\n明显更快的启动速度和更低的内存占用显著\r\n更多";
  tips_->SetContent(description);
  const HWND control = content();
  const std::wstring shown = TextOf(control);
  ASSERT_EQ(kLink, shown.substr(shown.size() - kLink.size()));
  const long length = ControlLength(control);
  ASSERT_GT(length, 4);
  for (long i = 0; i < length; ++i) {
    EXPECT_EQ(i >= length - 4, HasEffect(control, i, CFE_LINK)) << "position " << i;
  }
}

TEST_F(TipsWindowTest, EmptyDescriptionChangesNothing) {
  tips_->SetContent(L"第一行\r\n第二行");
  tips_->SetContent(L"");
  EXPECT_EQ(L"第一行\r\n第二行", TextOf(content()));
}

TEST_F(TipsWindowTest, ReleasingTheButtonOnTheLinkShowsTheWholeDescription) {
  std::wstring description = L"更新说明：";
  for (int i = 1; i <= 7; ++i) description += L"\r\n第" + std::to_wstring(i) + L"项改进";
  Show(description);
  const HWND control = content();
  const std::wstring folded = TextOf(control);
  ASSERT_NE(description, folded);

  // The middle of the link, in the control's client coordinates.
  const long end = ControlLength(control);
  POINTL at = {};
  SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), end - 2);
  const LPARAM point = MAKELPARAM(at.x + 2, at.y + 4);
  SendMessageW(control, WM_MOUSEMOVE, 0, point);
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
  EXPECT_EQ(folded, TextOf(control)) << "pressing or moving changes nothing";
  SendMessageW(control, WM_LBUTTONUP, 0, point);
  EXPECT_EQ(description, TextOf(control));

  // Other mouse messages reported for the link are ignored.
  tips_->SetContent(description);
  for (UINT message : {WM_RBUTTONUP, WM_LBUTTONDBLCLK, WM_MOUSEMOVE, WM_SETCURSOR}) {
    ENLINK link = {};
    link.nmhdr.hwndFrom = control;
    link.nmhdr.idFrom = IDC_UPGRADE_CONTENT;
    link.nmhdr.code = EN_LINK;
    link.msg = message;
    link.chrg = {end - 4, end};
    EXPECT_EQ(0, SendMessageW(hwnd_, WM_NOTIFY, IDC_UPGRADE_CONTENT, reinterpret_cast<LPARAM>(&link)));
    EXPECT_EQ(folded, TextOf(control));
  }
}

// The host's font grows with the screen's DPI (9 points are 18 pixels at 144 DPI and 24 at
// 192) while the skin's content area stays 75 pixels high: the fold keeps to the whole lines
// that show. Pictures of the window at each size for people to look at.
TEST_F(TipsWindowTest, ALargerHostFontFoldsToTheLinesThatShow) {
  std::wstring description = L"Cadenza 5.2 升级内容：";
  for (int i = 1; i <= 6; ++i) description += L"\r\n" + std::to_wstring(i) + L". 修复了若干问题，改进了播放的稳定性";
  const HFONT normal = CCadenzaFont::GetNormalFont();
  LOGFONTW lf = {};
  GetObjectW(normal, sizeof lf, &lf);
  for (int height : {12, 18, 24}) {
    SCOPED_TRACE(height);
    lf.lfHeight = -height;
    HFONT font = CreateFontIndirectW(&lf);
    ASSERT_NE(nullptr, font);
    SendMessageW(content(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    Show(description);
    if (height > 12) {
      EXPECT_LT(SendMessageW(content(), EM_GETLINECOUNT, 0, 0), 4);
    }
    ExpectFoldedWell(content(), description);
    tips_->SetContent(description);
    testing_support::PumpPending(200);
    UpdateWindow(content());
    const testing_support::Capture picture = testing_support::CaptureScreen(WindowRect(hwnd_));
    wchar_t full[MAX_PATH];
    const std::wstring name = L"..\\tips_fold_" + std::to_wstring(height * 8) + L"dpi.png";
    ASSERT_TRUE(GetFullPathNameW((GetModuleFolder() + name).c_str(), MAX_PATH, full, nullptr));
    EXPECT_TRUE(testing_support::WritePng(picture, full));
    SendMessageW(content(), WM_SETFONT, reinterpret_cast<WPARAM>(normal), TRUE);
    DeleteObject(font);
  }
}

// ---- skin events ----

TEST_F(TipsWindowTest, CloseAndLaterStoreTheKeepPromptingFlag) {
  for (WPARAM id : {kEventClose, kEventLater}) {
    // Ticked and unticked again: prompting goes on.
    Show(L"说明");
    EXPECT_EQ(0, CheckBox(1));
    EXPECT_EQ(0, CheckBox(0));
    EXPECT_EQ(0, Event(id));
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    FinishTearDown();

    // Ticked: prompting stops.
    Show(L"说明");
    CheckBox(1);
    Event(id);
    FinishTearDown();
  }
  EXPECT_EQ((std::vector<LONG>{TRUE, FALSE, TRUE, FALSE}), testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  EXPECT_TRUE(testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade").empty());
}

TEST_F(TipsWindowTest, InstallSchedulesThroughTheHostAndStoresNothing) {
  Show(L"说明");
  CheckBox(1);
  EXPECT_EQ(0, Event(kEventInstall));
  EXPECT_EQ(std::vector<LONG>{0}, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade"));
  EXPECT_TRUE(testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").empty());
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(TipsWindowTest, InstallWithoutTheHostsObjectLeavesTheWindowShown) {
  Show(L"说明");
  testing_support::FakeHost().offerFakeUpgradeHost = false;
  EXPECT_EQ(0, Event(kEventInstall));
  EXPECT_EQ(1, testing_support::FakeHost().Count(L"GetUpgradeHost"));
  EXPECT_TRUE(IsWindowVisible(hwnd_));
  FinishTearDown();
  // Still answering: Later works as ever.
  EXPECT_EQ(0, Event(kEventLater));
  EXPECT_EQ(std::vector<LONG>{TRUE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
}

TEST_F(TipsWindowTest, AfterATearDownEveryEventIsAnsweredWithOne) {
  Show(L"说明");
  Event(kEventLater);
  FinishTearDown();
  ASSERT_TRUE(IsWindow(hwnd_));
  const size_t stored = testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").size();
  EXPECT_EQ(1, Event(kEventClose));
  EXPECT_EQ(1, Event(kEventInstall));
  EXPECT_EQ(1, Event(kEventLater));
  EXPECT_EQ(1, CheckBox(1));
  EXPECT_EQ(1, Event(4242));
  EXPECT_EQ(stored, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").size());
  EXPECT_EQ(0, testing_support::FakeHost().Count(L"GetUpgradeHost"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

TEST_F(TipsWindowTest, OtherArgumentShapesLeaveTheFlag) {
  Show(L"说明");
  CheckBox(1);  // ticked: FALSE would be stored
  VARIANT direct;
  direct.vt = VT_I4;
  direct.lVal = 0;
  EXPECT_EQ(0, Event(kEventNotPrompt, &direct));
  VARIANT shortState;
  shortState.vt = VT_I2;
  shortState.iVal = 0;
  VARIANT refShort;
  refShort.vt = VT_BYREF | VT_VARIANT;
  refShort.pvarVal = &shortState;
  EXPECT_EQ(0, Event(kEventNotPrompt, &refShort));
  LONG zero = 0;
  VARIANT refLong;
  refLong.vt = VT_BYREF | VT_I4;
  refLong.plVal = &zero;
  EXPECT_EQ(0, Event(kEventNotPrompt, &refLong));
  VARIANT refNothing;
  refNothing.vt = VT_BYREF | VT_VARIANT;
  refNothing.pvarVal = nullptr;
  EXPECT_EQ(0, Event(kEventNotPrompt, &refNothing));
  EXPECT_EQ(0, SendMessageW(hwnd_, WM_SKINEVENT, kEventNotPrompt, 0));
  Event(kEventLater);
  EXPECT_EQ(std::vector<LONG>{FALSE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
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

// ---- real input ----

TEST_F(TipsWindowTest, RealMouseClickOnLaterReachesTheHandler) {
  Show(L"点击稍后");
  ASSERT_TRUE(testing_support::PumpUntil([&] { return IsWindowVisible(hwnd_) != FALSE; }));
  SetForegroundWindow(hwnd_);
  const RECT rc = WindowRect(hwnd_);
  const POINT later = {rc.left + 225, rc.top + 150};
  ASSERT_EQ(hwnd_, WindowFromPoint(later));
  SetCursorPos(later.x, later.y);
  testing_support::PumpPending(50);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ASSERT_EQ(2u, SendInput(2, inputs, sizeof(INPUT)));
  EXPECT_TRUE(testing_support::PumpUntil([] { return !testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").empty(); }));
  EXPECT_EQ(std::vector<LONG>{TRUE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
}

// ---- the keyboard ----

// A key pressed as a keyboard does, through the input queue.
void Press(WORD key, bool shift = false) {
  INPUT inputs[4] = {};
  int n = 0;
  auto add = [&](WORD vk, DWORD flags) {
    inputs[n].type = INPUT_KEYBOARD;
    inputs[n].ki.wVk = vk;
    inputs[n++].ki.dwFlags = flags;
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(static_cast<UINT>(n), inputs, sizeof(INPUT));
  testing_support::PumpPending(60);
}

// The frame that shows the keyboard focus (four thin child windows), in the window's client
// coordinates; empty when hidden.
RECT FocusFrame(HWND tips) {
  RECT frame = {};
  bool any = false;
  for (HWND side = FindWindowExW(tips, nullptr, L"STATIC", nullptr); side != nullptr;
       side = FindWindowExW(tips, side, L"STATIC", nullptr)) {
    if (!IsWindowVisible(side)) continue;
    RECT rc = WindowRect(side);
    MapWindowPoints(nullptr, tips, reinterpret_cast<POINT*>(&rc), 2);
    if (any) {
      UnionRect(&frame, &frame, &rc);
    } else {
      frame = rc;
      any = true;
    }
  }
  return frame;
}

bool Surrounds(const RECT& frame, const RECT& element) {
  return frame.left < element.left && frame.top < element.top && frame.right > element.right &&
         frame.bottom > element.bottom;
}

TEST_F(TipsWindowTest, KeysAnswerAsTheirClicksDoOnceTheWindowIsActive) {
  const RECT install = {142, 140, 192, 160}, later = {200, 140, 250, 160};
  const RECT close = {237, 10, 252, 25}, box = {10, 145, 25, 160};
  auto reach = [&](const std::wstring& description) {
    Show(description);
    SetForegroundWindow(hwnd_);
    ASSERT_TRUE(testing_support::PumpUntil([&] { return GetForegroundWindow() == hwnd_; }));
    testing_support::PumpPending(50);
  };
  wchar_t title[64] = {};
  GetWindowTextW(hwnd_, title, 64);
  EXPECT_STREQ(L"Cadenza 升级", title);

  // Space ticks the box as a click does, and Escape is Later: Later stores FALSE.
  reach(L"说明");
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), install)) << "Install has the focus first";
  Press(VK_SPACE);
  Press(VK_ESCAPE);
  EXPECT_EQ(std::vector<LONG>{FALSE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
  FinishTearDown();

  // Enter is Install.
  reach(L"说明");
  Press(VK_RETURN);
  EXPECT_EQ(std::vector<LONG>{0}, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade"));
  FinishTearDown();

  // Tab moves the focus through Later, Close and the check box; Enter presses what has it.
  reach(L"说明");
  Press(VK_TAB);
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), later));
  Press(VK_TAB);
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), close));
  Press(VK_TAB);
  EXPECT_TRUE(Surrounds(FocusFrame(hwnd_), box));
  Press(VK_TAB, true);
  Press(VK_RETURN);  // Close
  EXPECT_EQ((std::vector<LONG>{FALSE, TRUE}), testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
  FinishTearDown();

  // The fourth Tab reaches the link, shown selected; Enter shows the whole description.
  std::wstring description = L"更新说明：";
  for (int i = 1; i <= 7; ++i) description += L"\r\n第" + std::to_wstring(i) + L"项改进";
  reach(description);
  for (int i = 0; i < 4; ++i) Press(VK_TAB);
  CHARRANGE selected = {};
  SendMessageW(content(), EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selected));
  EXPECT_EQ(ControlLength(content()) - 4, selected.cpMin);
  EXPECT_EQ(RECT{}.right, FocusFrame(hwnd_).right) << "the frame gives way to the selection";
  Press(VK_RETURN);
  EXPECT_EQ(description, TextOf(content()));
  EXPECT_TRUE(IsWindowVisible(hwnd_));
}

// An answer hides the window and leaves the skin's tear-down to the message loop. A prompt
// that comes before the loop runs again (a quick second check) gets a window that answers
// every button and Enter, whatever the answer before it was.
TEST_F(TipsWindowTest, APromptRightAfterAnAnswerStillAnswers) {
  const WPARAM answers[] = {kEventClose, kEventLater, kEventInstall};
  for (size_t i = 0; i < 3; ++i) {
    Show(L"第一次提示");
    ASSERT_EQ(0, Event(answers[i]));
    tips_->Prompt(L"第二次提示");  // before this thread is back in its loop
    FinishTearDown();
    ASSERT_TRUE(IsWindowVisible(hwnd_));
    ResetTipsHost();
    const WPARAM next = answers[(i + 1) % 3];
    EXPECT_EQ(0, Event(next)) << "answer " << next << " after " << answers[i];
    EXPECT_EQ(next == kEventInstall ? 0u : 1u, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade").size());
    EXPECT_EQ(next == kEventInstall ? 1u : 0u, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade").size());
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    FinishTearDown();
  }
  Show(L"第一次提示");
  Event(kEventClose);
  tips_->Prompt(L"第二次提示");
  FinishTearDown();
  ResetTipsHost();
  SetForegroundWindow(hwnd_);
  ASSERT_TRUE(testing_support::PumpUntil([&] { return GetForegroundWindow() == hwnd_; }));
  Press(VK_RETURN);
  EXPECT_EQ(std::vector<LONG>{0}, testing_support::FakeHost().ArgumentsOf(L"ScheduledUpgrade"));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
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

class RecordingSkinWindow final : public IHostSkinWindow {
 public:
  RecordingSkinWindow(Microsoft::WRL::ComPtr<IHostSkinWindow> inner, int number)
      : inner_(std::move(inner)), number_(number) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IHostSkinWindow) return E_NOINTERFACE;
    *ppv = static_cast<IHostSkinWindow*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) {
      Note(L"Released", nullptr);
      delete this;
    }
    return n;
  }
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
  void Note(const wchar_t* what, HWND hWnd) {
    g_skinCalls.calls.push_back(std::wstring(what) + L" " + std::to_wstring(number_));
    if (hWnd != nullptr) g_skinCalls.windows.push_back(hWnd);
  }
  Microsoft::WRL::ComPtr<IHostSkinWindow> inner_;
  int number_;
  ULONG refs_ = 1;
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

// ---- accessibility clients ----

TEST_F(TipsWindowTest, AScreenReaderFindsTheTitleAndEveryDrawnControl) {
  Show(L"说明");
  // The window's name, as a screen reader announces it (Wine gives the client object the
  // window's title; it has no separate window object).
  Microsoft::WRL::ComPtr<IAccessible> client;
  ASSERT_HRESULT_SUCCEEDED(AccessibleObjectFromWindow(
      hwnd_, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
      reinterpret_cast<void**>(client.GetAddressOf())));
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, client->get_accName(self, &name));
  EXPECT_STREQ(L"Cadenza 升级", name);
  SysFreeString(name);

  LONG count = 0;
  ASSERT_EQ(S_OK, client->get_accChildCount(&count));
  std::vector<VARIANT> children(static_cast<size_t>(count));
  LONG obtained = 0;
  ASSERT_HRESULT_SUCCEEDED(AccessibleChildren(client.Get(), 0, count, children.data(), &obtained));
  std::map<std::wstring, std::pair<LONG, VARIANT>> controls;  // name: role, child id
  int windows = 0;
  for (LONG i = 0; i < obtained; ++i) {
    // The child windows (the description's control) come from the system's client object,
    // which under Wine gives them as objects or as bare ids without names.
    BSTR childName = nullptr;
    if (children[i].vt != VT_I4 || client->get_accName(children[i], &childName) != S_OK) {
      ++windows;
      VariantClear(&children[i]);
      continue;
    }
    VARIANT role;
    ASSERT_EQ(S_OK, client->get_accRole(children[i], &role));
    controls[childName] = {role.lVal, children[i]};
    SysFreeString(childName);
  }
  EXPECT_GE(windows, 1);
  for (const wchar_t* button : {L"安装", L"稍后", L"关闭"}) {
    ASSERT_TRUE(controls.count(button)) << "no " << testing::PrintToString(std::wstring(button));
    EXPECT_EQ(ROLE_SYSTEM_PUSHBUTTON, controls[button].first);
  }
  ASSERT_TRUE(controls.count(L"下次不再弹出"));
  EXPECT_EQ(ROLE_SYSTEM_CHECKBUTTON, controls[L"下次不再弹出"].first);
  EXPECT_EQ(ROLE_SYSTEM_STATICTEXT, controls[L"已下载新版的Cadenza，是否现在安装？"].first);

  // The check box's state follows it; its default action is a click, so Later stores FALSE.
  const VARIANT box = controls[L"下次不再弹出"].second;
  VARIANT state;
  ASSERT_EQ(S_OK, client->get_accState(box, &state));
  EXPECT_FALSE(state.lVal & STATE_SYSTEM_CHECKED);
  EXPECT_EQ(S_OK, client->accDoDefaultAction(box));
  ASSERT_EQ(S_OK, client->get_accState(box, &state));
  EXPECT_TRUE(state.lVal & STATE_SYSTEM_CHECKED);
  long x = 0, y = 0, cx = 0, cy = 0;
  ASSERT_EQ(S_OK, client->accLocation(&x, &y, &cx, &cy, controls[L"稍后"].second));
  EXPECT_EQ(WindowRect(hwnd_).left + 200, x);
  EXPECT_EQ(50, cx);
  EXPECT_EQ(S_OK, client->accDoDefaultAction(controls[L"稍后"].second));
  EXPECT_EQ(std::vector<LONG>{FALSE}, testing_support::FakeHost().ArgumentsOf(L"SetPromptUpgrade"));
}

// ---- a picture for people ----

TEST_F(TipsWindowTest, PictureOfTheShownWindow) {
  Show(L"Cadenza 5.2 升级内容：\r\n"
       L"1. 全新的歌词同步，支持逐字高亮显示\r\n"
       L"2. Faster startup and lower memory use\r\n"
       L"3. 修复部分 MP3 文件播放卡顿的问题\r\n"
       L"4. New skins for high-DPI screens\r\n"
       L"5. 优化在线音乐库的搜索速度");
  testing_support::PumpPending(300);
  UpdateWindow(hwnd_);
  UpdateWindow(content());
  testing_support::PumpPending(200);
  const testing_support::Capture picture = testing_support::CaptureScreen(WindowRect(hwnd_));
  ASSERT_EQ(258, picture.width);
  ASSERT_EQ(170, picture.height);
  wchar_t full[MAX_PATH];
  ASSERT_TRUE(GetFullPathNameW((GetModuleFolder() + L"..\\tips_window.png").c_str(),
                               MAX_PATH, full, nullptr));
  EXPECT_TRUE(testing_support::WritePng(picture, full));
  const std::wstring shown = TextOf(content());
  EXPECT_EQ(kLink, shown.substr(shown.size() - kLink.size()));
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
