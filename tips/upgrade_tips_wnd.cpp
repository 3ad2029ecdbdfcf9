// The upgrade tips window: creation with its skin, placement, skin events and the
// process-wide holder.
#include "tips/upgrade_tips_wnd.h"

#include <oleauto.h>

#include "host/cadenza_common.h"
#include "res/Cadenza_Upgrade.h"
#include "tips/tips_skin.h"

using Microsoft::WRL::ComPtr;

namespace {

// The tips window's own cached provider: set at the first successful creation, never released.
IHostServiceProvider* g_pTipsHostProvider = nullptr;

constexpr DWORD kContentExStyle = WS_EX_TRANSPARENT;
constexpr DWORD kContentStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_READONLY | ES_MULTILINE;
constexpr COLORREF kContentColor = RGB(0x23, 0x65, 0x99);
constexpr LONG kLineSpacingTwips = 275;
constexpr BYTE kLineSpacingAtLeast = 4;  // spacing in twips, never less than single

// Reference-counted owner of the one tips window object: the object and a separately
// allocated count. Its destructor runs when the module is unloaded (at the latest at exit).
class TipsWndHolder {
 public:
  TipsWndHolder() = default;
  ~TipsWndHolder() { Reset(); }
  TipsWndHolder(const TipsWndHolder&) = delete;
  TipsWndHolder& operator=(const TipsWndHolder&) = delete;

  CUpgradeTipsWnd* Get() const { return m_pObject; }
  void Put(CUpgradeTipsWnd* pObject) {
    Reset();
    m_pObject = pObject;
    m_pnCount = new int(1);
  }
  void Reset() {
    if (m_pnCount != nullptr && --*m_pnCount == 0) {
      delete m_pObject;  // through the virtual destructor
      delete m_pnCount;
    }
    m_pObject = nullptr;
    m_pnCount = nullptr;
  }

 private:
  CUpgradeTipsWnd* m_pObject = nullptr;
  int* m_pnCount = nullptr;
};

TipsWndHolder& Holder() {
  static TipsWndHolder holder;
  return holder;
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

  const RECT empty = {0, 0, 0, 0};
  if (!m_ctrlContent.CreateEx(kContentExStyle, kContentStyle, empty, m_hWnd, IDC_UPGRADE_CONTENT))
    return -1;
  m_ctrlContent.Send(WM_SETFONT, reinterpret_cast<WPARAM>(CCadenzaFont::GetNormalFont()), TRUE);

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
  if (FAILED(ObtainHostObject(g_pTipsHostProvider, HostObject::Settings,
                              m_spSettings.ReleaseAndGetAddressOf())) ||
      !m_spSettings)
    return FALSE;
  if (FAILED(ObtainHostObject(g_pTipsHostProvider, HostObject::SkinWindow,
                              m_spSkinWnd.ReleaseAndGetAddressOf())) ||
      !m_spSkinWnd)
    return FALSE;
  if (FAILED(m_spSkinWnd->BindWindow(m_hWnd)) || FAILED(m_spSkinWnd->PrepareWindow(m_hWnd)))
    return FALSE;

  const std::wstring strModule = cadenza::GetExeFolder() + kUpgradeModuleName;
  const std::wstring strSkin = BuildTipsSkinDocument(strModule);
  BSTR bstrScript = SysAllocString(kTipsSkinScript);
  BSTR bstrSkin = SysAllocStringLen(strSkin.data(), static_cast<UINT>(strSkin.size()));
  m_spSkinWnd->LoadSkin(m_hWnd, bstrSkin, bstrScript);
  SysFreeString(bstrSkin);
  SysFreeString(bstrScript);
  return TRUE;
}

void CUpgradeTipsWnd::OnDestroy() {
  Default(WM_DESTROY, 0, 0);
  m_spSkinWnd.Reset();
  m_spSettings.Reset();
}

void CUpgradeTipsWnd::OnShowWindow(BOOL bShow, UINT nStatus) {
  Default(WM_SHOWWINDOW, static_cast<WPARAM>(bShow), static_cast<LPARAM>(nStatus));
  if (!bShow) return;

  // Shown again after Close, Later or Install tore the skin down: set it up anew, so that a
  // second prompt is drawn and answers like the first. The new check box starts unticked,
  // and so does the flag it drives.
  if (!m_spSettings) {
    m_bPrompt = TRUE;
    if (!SetUpSkin()) {
      m_spSkinWnd.Reset();
      m_spSettings.Reset();
    }
  }

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

LRESULT CUpgradeTipsWnd::OnSkinEvent(WPARAM wParam, LPARAM lParam) {
  if (!m_spSettings) return 1;  // torn down: nothing more to answer

  switch (wParam) {
    case kEventClose:
    case kEventLater:
      m_spSettings->SetPromptUpgrade(m_bPrompt);
      ShowWindow(SW_HIDE);
      PostMessageW(m_hWnd, WM_DESTROY, 0, 0);
      break;
    case kEventInstall: {
      ComPtr<IUpgradeHost> spUpgradeHost;
      ObtainHostObject(g_pTipsHostProvider, HostObject::UpgradeHost, spUpgradeHost.GetAddressOf());
      if (spUpgradeHost) {
        spUpgradeHost->ScheduledUpgrade(0);
        ShowWindow(SW_HIDE);
        PostMessageW(m_hWnd, WM_DESTROY, 0, 0);
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

CUpgradeTipsWnd* GetUpgradeTipsWnd() {
  TipsWndHolder& holder = Holder();
  if (holder.Get() != nullptr) return holder.Get();

  HWND hOwner = nullptr;
  if (SUCCEEDED(ObtainHostProvider(g_pTipsHostProvider)) &&
      FAILED(g_pTipsHostProvider->GetMainWindow(&hOwner))) {
    hOwner = nullptr;
  }

  auto* pWnd = new CUpgradeTipsWnd();
  holder.Put(pWnd);
  const RECT rect = {0, 0, 0, 0};
  pWnd->CreateEx(WS_EX_TOPMOST, nullptr, WS_POPUP, rect, hOwner, 0);
  return pWnd;
}

void DestroyUpgradeTipsWnd() {
  Holder().Reset();
  WindowBase::UnregisterWindowClass();
}
