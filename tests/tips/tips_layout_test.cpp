// The tips window's layout and drawing: where it is shown, how the content control folds a
// description to four lines ending in the link, the link's marking and click, a larger host
// font, and pictures of the shown window for people to look at.
#include <windows.h>
#include <richedit.h>

#include <string>

#include <gtest/gtest.h>

#include "base/folders.h"
#include "player_api/cadenza_common.h"
#include "tests/common/window_kit.h"
#include "tests/tips/tips_fixture.h"

namespace tips_test {
namespace {

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

}  // namespace
}  // namespace tips_test
