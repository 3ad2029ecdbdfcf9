// The process's one tips window: made on first use, remade when its window has gone, the
// library's reference to itself while a window exists, and prompts from other threads.
#include "tips/tips_holder.h"

#include <new>
#include <utility>

#include "base/handles.h"
#include "base/this_module.h"
#include "tips/tips_skin.h"
#include "tips/upgrade_tips_wnd.h"

namespace {

HostProviderCache g_tipsHostProviders;

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

HostProviderCache& TipsHostProviders() { return g_tipsHostProviders; }

bool TakePendingPrompt(std::wstring& strContent) {
  ExclusiveLock hold(g_holderLock);
  strContent.swap(g_pendingPrompt);
  return std::exchange(g_bPromptPending, false);
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
  if (SUCCEEDED(TipsHostProviders().Get(&pProvider)) && FAILED(pProvider->GetMainWindow(&hOwner)))
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

BOOL UpgradeTipsProvidersKept() { return TipsHostProviders().ReleaseForUnload() ? FALSE : TRUE; }

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
