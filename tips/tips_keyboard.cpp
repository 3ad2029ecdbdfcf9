// The tips window answered from the keyboard once it is active: Enter presses the focused
// button (Install unless another has the focus) or shows the whole description on the link,
// Escape is Later, Space ticks or unticks the check box, and Tab (Shift+Tab backwards) moves a
// visible focus through Install, Later, Close, the check box and the link. Every key goes
// through the handler of the matching click: the buttons' events through OnSkinEvent, the
// check box as a click that the skin engine turns into its event, the link through
// OnContentLink.
#include "base/this_module.h"
#include "tips/upgrade_tips_wnd.h"

#include <commctrl.h>

#include "adapters/common_libraries.h"
#include "base/call_barrier.h"
#include "tips/tips_skin.h"

namespace {

// The drawn elements' places, as the skin document lays them out.
constexpr RECT kInstallRect = SkinRect(L"id=\"Button_OK\"");
constexpr RECT kLaterRect = SkinRect(L"id=\"Button_Cancle\"");
constexpr RECT kCloseRect = SkinRect(L"id=\"Button_Close\"");
// The check box's focus frame holds the box and its label's text only: the document's element
// is 200 wide, most of it empty; 110 pixels end just after the label.
constexpr RECT kCheckBoxRect = {SkinNumber(L"id=\"CheckBox_NotPrompt\"", L"left"),
                                SkinNumber(L"id=\"CheckBox_NotPrompt\"", L"top"),
                                SkinNumber(L"id=\"CheckBox_NotPrompt\"", L"left") + 110,
                                SkinNumber(L"id=\"CheckBox_NotPrompt\"", L"top") +
                                    SkinNumber(L"id=\"CheckBox_NotPrompt\"", L"height")};
// The middle of the box: 15 pixels wide at the element's start, centred in its height.
constexpr POINT kCheckBoxClick = {kCheckBoxRect.left + 15 / 2, (kCheckBoxRect.top + kCheckBoxRect.bottom) / 2};
constexpr UINT_PTR kContentSubclassId = 0x7E9;

enum KeyFocus { kFocusInstall, kFocusLater, kFocusClose, kFocusCheckBox, kFocusLink, kFocusCount };

LRESULT ContentKey(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Keys pressed while the content control has the focus (after a click into it) reach the
// window. Called by the control's window procedure: nothing may unwind out of it.
LRESULT CALLBACK ContentKeys(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR) {
  return CallBarrier([&] { return ContentKey(hWnd, message, wParam, lParam); },
                     [&](HRESULT) { return DefSubclassProc(hWnd, message, wParam, lParam); });
}

LRESULT ContentKey(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message == WM_KEYDOWN || message == WM_CHAR) &&
      (wParam == VK_RETURN || wParam == VK_ESCAPE || wParam == VK_TAB || wParam == VK_SPACE)) {
    if (message == WM_KEYDOWN) SendMessageW(GetParent(hWnd), WM_KEYDOWN, wParam, lParam);
    return 0;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(hWnd, ContentKeys, kContentSubclassId);
  return DefSubclassProc(hWnd, message, wParam, lParam);
}

}  // namespace

std::wstring UpgradeTipsTitle() {
  std::wstring strTitle;
  common_libraries::LoadStringW(IDS_UPGRADE_CAPTION, strTitle);
  return strTitle;
}

void CUpgradeTipsWnd::SetUpKeyboard() {
  if (m_hWnd == nullptr) return;
  if (m_ctrlContent.GetSafeHwnd() != nullptr)
    SetWindowSubclass(m_ctrlContent.GetSafeHwnd(), ContentKeys, kContentSubclassId, 0);
}

// The focus is a one-pixel black frame made of four thin child windows (its sides), drawn
// over whatever the skin paints below them. The first side stands for all four. Made when the
// focus is first shown: a prompt that is never used from the keyboard does without.
void CUpgradeTipsWnd::MakeFocusFrame() {
  if (m_hFocusFrame != nullptr || m_hWnd == nullptr) return;
  for (HWND& side : m_hFocusSides) {
    side = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | SS_BLACKRECT, 0, 0, 0, 0, m_hWnd,
                           nullptr, ThisModule(), nullptr);
  }
  m_hFocusFrame = m_hFocusSides[0];
}

bool CUpgradeTipsWnd::HasLink() const {
  const std::wstring shown = m_ctrlContent.GetWindowText();
  return shown != m_strContent && shown.size() >= kLinkText.size() &&
         shown.compare(shown.size() - kLinkText.size(), kLinkText.size(), kLinkText) == 0;
}

void CUpgradeTipsWnd::ShowKeyFocus(bool bShow) {
  const HWND content = m_ctrlContent.GetSafeHwnd();
  if (content != nullptr) {
    m_ctrlContent.SetSel(-1, -1);
    m_ctrlContent.Send(EM_HIDESELECTION, TRUE);
  }
  if (bShow && m_nKeyFocus != kFocusLink) MakeFocusFrame();
  if (m_hFocusFrame == nullptr) return;
  if (!bShow || m_nKeyFocus == kFocusLink) {
    for (HWND side : m_hFocusSides)
      if (side != nullptr) ::ShowWindow(side, SW_HIDE);
  }
  if (!bShow) return;
  if (m_nKeyFocus == kFocusLink) {
    // The link shows its focus as a selection of its four characters.
    const long nEnd = m_ctrlContent.GetTextLength();
    m_ctrlContent.SetSel(nEnd - static_cast<long>(kLinkText.size()), nEnd);
    m_ctrlContent.Send(EM_HIDESELECTION, FALSE);
    return;
  }
  static constexpr RECT kRects[] = {kInstallRect, kLaterRect, kCloseRect, kCheckBoxRect};
  RECT rc = kRects[m_nKeyFocus];
  InflateRect(&rc, 2, 2);
  const RECT sides[4] = {{rc.left, rc.top, rc.right, rc.top + 1},
                         {rc.left, rc.bottom - 1, rc.right, rc.bottom},
                         {rc.left, rc.top, rc.left + 1, rc.bottom},
                         {rc.right - 1, rc.top, rc.right, rc.bottom}};
  for (int i = 0; i < 4; ++i) {
    if (m_hFocusSides[i] == nullptr) continue;
    SetWindowPos(m_hFocusSides[i], HWND_TOP, sides[i].left, sides[i].top,
                 sides[i].right - sides[i].left, sides[i].bottom - sides[i].top,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }
}

void CUpgradeTipsWnd::OnActivate(bool bActive) {
  if (bActive) {
    m_nKeyFocus = kFocusInstall;
    SetFocus(m_hWnd);
  }
  ShowKeyFocus(bActive);
}

BOOL CUpgradeTipsWnd::OnKeyDown(UINT nChar) {
  VARIANT empty;
  VariantInit(&empty);
  switch (nChar) {
    case VK_RETURN: {
      if (m_nKeyFocus == kFocusLink && HasLink()) {
        ENLINK link = {};
        link.nmhdr.hwndFrom = m_ctrlContent.GetSafeHwnd();
        link.nmhdr.idFrom = IDC_UPGRADE_CONTENT;
        link.nmhdr.code = EN_LINK;
        link.msg = WM_LBUTTONUP;
        LRESULT result = 0;
        OnContentLink(&link.nmhdr, &result);
        m_nKeyFocus = kFocusInstall;
        ShowKeyFocus(true);
        return TRUE;
      }
      const WPARAM id = m_nKeyFocus == kFocusLater   ? kEventLater
                        : m_nKeyFocus == kFocusClose ? kEventClose
                                                     : kEventInstall;
      OnSkinEvent(id, reinterpret_cast<LPARAM>(&empty));
      return TRUE;
    }
    case VK_ESCAPE:
      OnSkinEvent(kEventLater, reinterpret_cast<LPARAM>(&empty));
      return TRUE;
    case VK_SPACE: {
      // A click on the box, which the skin engine draws ticked and reports as its event.
      const LPARAM at = MAKELPARAM(kCheckBoxClick.x, kCheckBoxClick.y);
      SendMessageW(m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
      SendMessageW(m_hWnd, WM_LBUTTONUP, 0, at);
      return TRUE;
    }
    case VK_TAB: {
      const int nStep = GetKeyState(VK_SHIFT) < 0 ? kFocusCount - 1 : 1;
      m_nKeyFocus = (m_nKeyFocus + nStep) % kFocusCount;
      if (m_nKeyFocus == kFocusLink && !HasLink()) m_nKeyFocus = (m_nKeyFocus + nStep) % kFocusCount;
      ShowKeyFocus(true);
      return TRUE;
    }
    default:
      return FALSE;
  }
}
