// The upgrade tips window: creation with its skin, placement and skin events.
#include "tips/upgrade_tips_wnd.h"

#include <oleauto.h>

#include <new>
#include <utility>

#include "adapters/common_libraries.h"
#include "base/handles.h"
#include "res/Cadenza_Upgrade.h"
#include "tips/tips_holder.h"
#include "tips/tips_skin.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kContentExStyle = WS_EX_TRANSPARENT;
constexpr DWORD kContentStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_MULTILINE;
constexpr LONG kLineSpacingTwips = 275;
constexpr BYTE kLineSpacingAtLeast = 4;  // spacing in twips, never less than single

// Posted to the window by an answer (Close, Later, Install): tears the skin down once the
// skin engine's event is over. WPARAM: the skin's set-up generation it was posted for.
constexpr UINT kTearDownMessage = WM_APP + 2;

}  // namespace

CUpgradeTipsWnd::CUpgradeTipsWnd() : m_bPrompt(TRUE) {}

CUpgradeTipsWnd::~CUpgradeTipsWnd() = default;

LRESULT CUpgradeTipsWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case kTearDownMessage:
      // Only the tear-down of the skin that is still up: a prompt shown after the answer
      // (before this message came) keeps its skin and its buttons.
      if (m_bTearDownPending && static_cast<UINT>(wParam) == m_nSkinGeneration) {
        m_bTearDownPending = false;
        m_spSkinWnd.Reset();
        m_spSettings.Reset();
      }
      return 0;
    case WM_SHOWWINDOW:
      OnShowWindow(static_cast<BOOL>(wParam), static_cast<UINT>(lParam));
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header != nullptr && header->idFrom == IDC_UPGRADE_CONTENT && header->code == EN_LINK) {
        LRESULT result = 0;
        OnContentLink(header, &result);
        return result;
      }
      break;
    }
    case WM_SKINEVENT:
      return OnSkinEvent(wParam, lParam);
    case WM_KEYDOWN:
      if (OnKeyDown(static_cast<UINT>(wParam))) return 0;
      break;
    case WM_ACTIVATE:
      Default(message, wParam, lParam);
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return 0;
    case WM_CLOSE:
      // Alt+F4 and other closes from outside answer as the Close button does; the window
      // stays (hidden) for the next prompt.
      if (m_spSettings)
        OnSkinEvent(kEventClose, 0);
      else
        ShowWindow(SW_HIDE);
      return 0;
    case kPromptMessage: {
      std::wstring strContent;
      if (TakePendingPrompt(strContent)) Prompt(strContent);
      return 0;
    }
    case WM_NCDESTROY:
      m_ctrlContent.Detach();  // destroyed with this window
      m_hFocusFrame = nullptr;
      for (HWND& side : m_hFocusSides) side = nullptr;
      break;
    default:
      break;
  }
  return WindowBase::WindowProc(message, wParam, lParam);
}

int CUpgradeTipsWnd::OnCreate(CREATESTRUCTW* pCreate) {
  if (Default(WM_CREATE, 0, reinterpret_cast<LPARAM>(pCreate)) == -1) return -1;

  if (!m_ctrlContent.CreateEx(kContentExStyle, kContentStyle, kTipsContentRect, m_hWnd,
                              IDC_UPGRADE_CONTENT))
    return -1;
  m_ctrlContent.Send(WM_SETFONT, reinterpret_cast<WPARAM>(common_libraries::GetNormalFont()), TRUE);

  CHARFORMATW cf = {};
  cf.cbSize = sizeof cf;
  m_ctrlContent.Send(EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
  cf.dwMask |= CFM_SIZE | CFM_COLOR;
  cf.dwEffects &= ~CFE_AUTOCOLOR;
  cf.crTextColor = kContentColor;
  m_ctrlContent.Send(EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));

  PARAFORMAT2 pf = {};
  pf.cbSize = sizeof pf;
  pf.dwMask = PFM_SPACEAFTER | PFM_LINESPACING;
  pf.dySpaceAfter = 0;
  pf.bLineSpacingRule = kLineSpacingAtLeast;
  pf.dyLineSpacing = kLineSpacingTwips;
  m_ctrlContent.Send(EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));

  m_ctrlContent.Send(EM_SETEVENTMASK, 0, ENM_LINK);
  SetUpKeyboard();

  return SetUpSkin() ? 0 : -1;
}

BOOL CUpgradeTipsWnd::SetUpSkin() {
  // Kept only when every step worked, so that a step that fails (or throws) never leaves a
  // half set-up skin that a later show would take for a working one.
  ComPtr<IHostSettings> spSettings;
  ComPtr<IHostSkinWindow> spSkinWnd;
  if (FAILED(ObtainHostObject(TipsHostProviders(), HostObject::Settings, spSettings.GetAddressOf())) ||
      !spSettings)
    return FALSE;
  if (FAILED(ObtainHostObject(TipsHostProviders(), HostObject::SkinWindow, spSkinWnd.GetAddressOf())) ||
      !spSkinWnd)
    return FALSE;
  if (FAILED(spSkinWnd->BindWindow(m_hWnd)) || FAILED(spSkinWnd->PrepareWindow(m_hWnd)))
    return FALSE;

  const std::wstring strModule = common_libraries::GetExeFolder() + kUpgradeModuleName;
  const std::wstring strSkin = BuildTipsSkinDocument(strModule);
  const UniqueBstr bstrScript(SysAllocString(kTipsSkinScript));
  const UniqueBstr bstrSkin(SysAllocStringLen(strSkin.data(), static_cast<UINT>(strSkin.size())));
  if (!bstrScript || !bstrSkin) return FALSE;  // out of memory: an empty document would load no skin
  // Its answer is not looked at: the window shows with what the skin engine made of the document.
  spSkinWnd->LoadSkin(m_hWnd, bstrSkin.get(), bstrScript.get());
  m_spSettings = std::move(spSettings);
  m_spSkinWnd = std::move(spSkinWnd);
  ++m_nSkinGeneration;
  m_bTearDownPending = false;
  return TRUE;
}

void CUpgradeTipsWnd::HideAndTearDown() {
  ShowWindow(SW_HIDE);
  m_bTearDownPending = true;
  PostMessageW(m_hWnd, kTearDownMessage, m_nSkinGeneration, 0);
}

void CUpgradeTipsWnd::OnDestroy() {
  Default(WM_DESTROY, 0, 0);
  m_bTearDownPending = false;
  m_spSkinWnd.Reset();
  m_spSettings.Reset();
}

void CUpgradeTipsWnd::OnShowWindow(BOOL bShow, UINT nStatus) {
  Default(WM_SHOWWINDOW, static_cast<WPARAM>(bShow), static_cast<LPARAM>(nStatus));
  if (!bShow) return;

  RECT rcWindow;
  RECT rcWork;
  if (!GetWindowRect(m_hWnd, &rcWindow) ||
      !SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0))
    return;
  const int cx = rcWindow.right - rcWindow.left;
  const int cy = rcWindow.bottom - rcWindow.top;
  SetWindowPos(m_hWnd, nullptr, rcWork.right - cx, rcWork.bottom - cy, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CUpgradeTipsWnd::ShowWindow(int nCmdShow) {
  if (m_hWnd == nullptr) return FALSE;
  // Shown again right after an answer, before its tear-down ran: the skin stays up (the
  // posted tear-down is for the skin's generation, which a show makes current again), with
  // its check box as the user left it and the flag that matches it.
  if (nCmdShow != SW_HIDE && m_bTearDownPending) {
    m_bTearDownPending = false;
    ++m_nSkinGeneration;
  }
  // Shown again after Close, Later or Install tore the skin down: set it up anew, so that a
  // second prompt is drawn and answers like the first. The new check box starts unticked,
  // and so does the flag it drives.
  if (nCmdShow != SW_HIDE && !m_spSettings) {
    m_bPrompt = TRUE;
    if (!SetUpSkin()) {
      m_spSkinWnd.Reset();
      m_spSettings.Reset();
      return FALSE;
    }
  }
  return WindowBase::ShowWindow(nCmdShow);
}

BOOL CUpgradeTipsWnd::Prompt(const std::wstring& strContent) {
  SetContent(strContent);
  return ShowWindow(SW_SHOWNOACTIVATE);  // never takes the keyboard from what the user types in
}

LRESULT CUpgradeTipsWnd::OnSkinEvent(WPARAM wParam, LPARAM lParam) {
  // Torn down, or answered with the tear-down still to come: nothing more to answer.
  if (!m_spSettings || m_bTearDownPending) return 1;

  switch (wParam) {
    case kEventClose:
    case kEventLater:
      m_spSettings->SetPromptUpgrade(m_bPrompt);
      HideAndTearDown();
      break;
    case kEventInstall: {
      ComPtr<IUpgradeHost> spUpgradeHost;
      ObtainHostObject(TipsHostProviders(), HostObject::UpgradeHost, spUpgradeHost.GetAddressOf());
      if (spUpgradeHost) {
        spUpgradeHost->ScheduledUpgrade(0);
        HideAndTearDown();
      }
      break;
    }
    case kEventNotPrompt: {
      const auto* pArgument = reinterpret_cast<const VARIANT*>(lParam);
      if (pArgument != nullptr && pArgument->vt == (VT_BYREF | VT_VARIANT) &&
          pArgument->pvarVal != nullptr && pArgument->pvarVal->vt == VT_I4) {
        m_bPrompt = pArgument->pvarVal->lVal == 0 ? TRUE : FALSE;
      }
      break;
    }
    default:
      break;
  }
  return 0;
}

BOOL CUpgradeTipsWnd::HasLiveWindow() const {
  return m_hWnd != nullptr && IsWindow(m_hWnd) &&
         GetWindowLongPtrW(m_hWnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this);
}

void CUpgradeTipsWnd::Abandon() {
  m_hWnd = nullptr;
  m_ctrlContent.Detach();
  // The keyboard's frame went with the window: the next window makes its own (and takes its
  // title) again.
  m_hFocusFrame = nullptr;
  for (HWND& side : m_hFocusSides) side = nullptr;
  m_nKeyFocus = 0;
  m_bTearDownPending = false;
  // Still held only when the window vanished without WM_DESTROY, with the thread (and
  // apartment) that made them: letting go without a call is the safe way.
  static_cast<void>(m_spSkinWnd.Detach());
  static_cast<void>(m_spSettings.Detach());
  m_strContent.clear();
  m_bPrompt = TRUE;
}
