// The upgrade tips window: creation with its skin, placement, skin events and the
// process-wide holder.
#include "tips/upgrade_tips_wnd.h"

#include <oleauto.h>

#include <new>
#include <utility>

#include "base/this_module.h"
#include "host/common_libraries.h"
#include "res/Cadenza_Upgrade.h"
#include "base/handles.h"
#include "tips/tips_skin.h"

using Microsoft::WRL::ComPtr;

namespace {

// The tips window's own host service providers, one per apartment: the window's calls come
// from its own thread, so they go through the provider of that thread's apartment.
HostProviderCache g_tipsHostProviders;

constexpr DWORD kContentExStyle = WS_EX_TRANSPARENT;
constexpr DWORD kContentStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_MULTILINE;
constexpr LONG kLineSpacingTwips = 275;
constexpr BYTE kLineSpacingAtLeast = 4;  // spacing in twips, never less than single

// Posted to the window by a prompt from another thread; the description waits in
// g_pendingPrompt.
constexpr UINT kPromptMessage = WM_APP + 1;
// Posted to the window by an answer (Close, Later, Install): tears the skin down once the
// skin engine's event is over. WPARAM: the skin's set-up generation it was posted for.
constexpr UINT kTearDownMessage = WM_APP + 2;

// The one tips window object. A plain pointer with no destructor of its own: at process exit
// nothing of the window is torn down (the system does it), so no window call and no call
// into the host's objects runs then.
SRWLOCK g_holderLock = SRWLOCK_INIT;
CUpgradeTipsWnd* g_pTipsWnd = nullptr;
// The library's reference to itself while a tips window exists.
HMODULE g_hSelfReference = nullptr;
bool g_bPromptPending = false;
std::wstring g_pendingPrompt;

void TakeSelfReference() {
  if (g_hSelfReference != nullptr) return;
  HMODULE hModule = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(ThisModule()), &hModule))
    g_hSelfReference = hModule;
}

// Only from a call that the host makes while it holds the library itself, so the count never
// reaches zero here.
void DropSelfReference() {
  if (g_hSelfReference == nullptr) return;
  FreeLibrary(g_hSelfReference);
  g_hSelfReference = nullptr;
}

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
      bool bPending = false;
      {
        ExclusiveLock hold(g_holderLock);
        strContent.swap(g_pendingPrompt);
        bPending = std::exchange(g_bPromptPending, false);
      }
      if (bPending) Prompt(strContent);
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
  if (FAILED(ObtainHostObject(g_tipsHostProviders, HostObject::Settings, spSettings.GetAddressOf())) ||
      !spSettings)
    return FALSE;
  if (FAILED(ObtainHostObject(g_tipsHostProviders, HostObject::SkinWindow, spSkinWnd.GetAddressOf())) ||
      !spSkinWnd)
    return FALSE;
  if (FAILED(spSkinWnd->BindWindow(m_hWnd)) || FAILED(spSkinWnd->PrepareWindow(m_hWnd)))
    return FALSE;

  const std::wstring strModule = common_libraries::GetExeFolder() + kUpgradeModuleName;
  const std::wstring strSkin = BuildTipsSkinDocument(strModule);
  BSTR bstrScript = SysAllocString(kTipsSkinScript);
  BSTR bstrSkin = SysAllocStringLen(strSkin.data(), static_cast<UINT>(strSkin.size()));
  spSkinWnd->LoadSkin(m_hWnd, bstrSkin, bstrScript);
  SysFreeString(bstrSkin);
  SysFreeString(bstrScript);
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
      ObtainHostObject(g_tipsHostProviders, HostObject::UpgradeHost, spUpgradeHost.GetAddressOf());
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

CUpgradeTipsWnd* GetUpgradeTipsWnd() {
  CUpgradeTipsWnd* pWnd = nullptr;
  {
    ExclusiveLock hold(g_holderLock);
    pWnd = g_pTipsWnd;
  }
  if (pWnd != nullptr && pWnd->HasLiveWindow()) return pWnd;

  HWND hOwner = nullptr;
  IHostServiceProvider* pProvider = nullptr;
  if (SUCCEEDED(g_tipsHostProviders.Get(&pProvider)) && FAILED(pProvider->GetMainWindow(&hOwner)))
    hOwner = nullptr;

  if (pWnd == nullptr) {
    pWnd = new (std::nothrow) CUpgradeTipsWnd();
    if (pWnd == nullptr) return nullptr;
    ExclusiveLock hold(g_holderLock);
    if (g_pTipsWnd != nullptr) {  // another thread was quicker
      delete pWnd;
      return g_pTipsWnd;
    }
    g_pTipsWnd = pWnd;
  } else {
    // Its window has gone (never made, its owner destroyed, its thread ended, or closed
    // from outside): the same object gets a new window.
    pWnd->Abandon();
  }

  TakeSelfReference();
  // Made at its final size and, as far as the work area is known now, in its final place: the
  // skin's layout and the placement at the show then move nothing.
  RECT rect = {0, 0, kTipsWindowSize.cx, kTipsWindowSize.cy};
  RECT rcWork;
  if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0))
    OffsetRect(&rect, rcWork.right - rect.right, rcWork.bottom - rect.bottom);
  const std::wstring strTitle = UpgradeTipsTitle();
  if (!pWnd->CreateEx(WS_EX_TOPMOST, strTitle.empty() ? nullptr : strTitle.c_str(), WS_POPUP, rect,
                      hOwner, 0)) {
    WindowBase::UnregisterWindowClass();
    DropSelfReference();
  }
  return pWnd;
}

BOOL PromptUpgradeTips(const std::wstring& strContent) {
  CUpgradeTipsWnd* pWnd = GetUpgradeTipsWnd();
  if (pWnd == nullptr) return FALSE;
  const HWND hWnd = pWnd->GetSafeHwnd();
  if (hWnd == nullptr) return FALSE;
  if (GetWindowThreadProcessId(hWnd, nullptr) == GetCurrentThreadId())
    return pWnd->Prompt(strContent);
  {
    ExclusiveLock hold(g_holderLock);
    g_pendingPrompt = strContent;
    g_bPromptPending = true;
  }
  return PostMessageW(hWnd, kPromptMessage, 0, 0);
}

BOOL UpgradeTipsProvidersKept() { return g_tipsHostProviders.ReleaseForUnload() ? FALSE : TRUE; }

BOOL UpgradeTipsWndInUse() {
  CUpgradeTipsWnd* pDead = nullptr;
  {
    ExclusiveLock hold(g_holderLock);
    if (g_pTipsWnd == nullptr) return FALSE;
    if (g_pTipsWnd->HasLiveWindow()) return TRUE;
    pDead = g_pTipsWnd;
    g_pTipsWnd = nullptr;
  }
  // Its window is gone, so nothing of it calls the window system or the host any more.
  pDead->Abandon();
  delete pDead;
  WindowBase::UnregisterWindowClass();
  DropSelfReference();
  return FALSE;
}

void DestroyUpgradeTipsWnd() {
  CUpgradeTipsWnd* pWnd = nullptr;
  {
    ExclusiveLock hold(g_holderLock);
    pWnd = g_pTipsWnd;
    // A window of another thread can only be destroyed there.
    if (pWnd != nullptr && pWnd->HasLiveWindow() &&
        GetWindowThreadProcessId(pWnd->GetSafeHwnd(), nullptr) != GetCurrentThreadId())
      return;
    g_pTipsWnd = nullptr;
  }
  if (pWnd != nullptr) {
    if (pWnd->HasLiveWindow()) pWnd->DestroyWindow();
    pWnd->Abandon();
    delete pWnd;
  }
  WindowBase::UnregisterWindowClass();
  DropSelfReference();
}
