// The UpgradeHost object.
#include "server/upgrade_host.h"

#include <new>
#include <utility>

#include <wrl/client.h>

#include "adapters/common_libraries.h"
#include "adapters/host_provider_cache.h"
#include "base/com_object.h"
#include "launch/update_commands.h"
#include "server/module.h"
#include "tips/upgrade_tips_wnd.h"

namespace {

constexpr wchar_t kUpdaterFileName[] = L"CadenzaUpdate.exe";
constexpr wchar_t kPlayerFileName[] = L"Cadenza.exe";
constexpr wchar_t kLogFileName[] = L"music.txt";
// Formatted by the host's log function with the Windows C runtime's wide printf, where %s takes
// a wide string; this is the log line's agreed text, so it stays as it is.
constexpr wchar_t kUpgradeContentFormat[] = L"Upgrade Content:%s";
constexpr UINT IDS_RECOMMEND_UPGRADE_TEXT = 1354;
constexpr UINT IDS_FORCE_UPGRADE_TEXT = 1355;
constexpr WORD kBuildNotRead = 0xFFFF;

// Shared by every object in the process and never reset: each prompt is shown at most once.
BOOL g_bRecommendPrompted = FALSE;
BOOL g_bForcePrompted = FALSE;
// The host service providers of the upgrade operations, one per apartment; the tips window
// keeps its own.
HostProviderCache g_hostProviders;

// The updater beside the player; empty when the host gives no folder, so that a bare name is
// never started through the search path (the current folder first).
std::wstring UpdaterPath() {
  const std::wstring folder = common_libraries::GetExeFolder();
  return folder.empty() ? std::wstring() : folder + kUpdaterFileName;
}

std::wstring LoadHostString(UINT nID) {
  std::wstring text;
  common_libraries::LoadStringW(nID, text);
  return text;
}

// The host's own question when it gives one, else the host string nDefaultID.
std::wstring PromptText(BSTR bstrPrompt, UINT nDefaultID) {
  return (bstrPrompt != nullptr && SysStringLen(bstrPrompt) > 0)
             ? std::wstring(bstrPrompt, SysStringLen(bstrPrompt))
             : LoadHostString(nDefaultID);
}

// After a recommend or force prompt: Trigger(1) on the host's application control, so that
// the player can make way for the updater. E_FAIL when the host gives no such object.
HRESULT TriggerAppControl() {
  Microsoft::WRL::ComPtr<IHostAppControl> appControl;
  if (FAILED(ObtainHostObject(g_hostProviders, HostObject::AppControl, appControl.GetAddressOf())) ||
      !appControl)
    return E_FAIL;
  appControl->Trigger(1);
  return S_OK;
}

// A snapshot enumerator over AddRef'ed items; Clone copies the snapshot and the position.
template <typename Enum, typename Item>
class SnapshotEnum final : public ComObject<Enum> {
 public:
  explicit SnapshotEnum(std::vector<Item> items, size_t pos = 0) : m_items(std::move(items)), m_pos(pos) {
    for (Item& item : m_items) Ref(item)->AddRef();
    g_Module.Lock();
  }
  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    return GuardedCall([&]() -> HRESULT {
      if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
      ULONG n = 0;
      for (; n < count && m_pos < m_items.size(); ++n, ++m_pos) {
        out[n] = m_items[m_pos];
        Ref(out[n])->AddRef();
      }
      if (fetched) *fetched = n;
      return n == count ? S_OK : S_FALSE;
    });
  }
  STDMETHODIMP Skip(ULONG count) override {
    size_t left = m_items.size() - m_pos;
    m_pos += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** ppEnum) override {
    return GuardedCall([&]() -> HRESULT {
      if (ppEnum == nullptr) return E_POINTER;
      *ppEnum = nullptr;
      *ppEnum = new (std::nothrow) SnapshotEnum(m_items, m_pos);
      return *ppEnum ? S_OK : E_OUTOFMEMORY;
    });
  }

 private:
  ~SnapshotEnum() override {
    for (Item& item : m_items) Ref(item)->Release();
    g_Module.Unlock();
  }
  static IUnknown* Ref(const CONNECTDATA& data) { return data.pUnk; }
  static IUnknown* Ref(IConnectionPoint* point) { return point; }

  std::vector<Item> m_items;
  size_t m_pos;
};

using ConnectionsEnum = SnapshotEnum<IEnumConnections, CONNECTDATA>;
using ConnectionPointsEnum = SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*>;

}  // namespace

std::wstring ModuleTypeText(LONG nModuleType) {
  switch (nModuleType) {
    case 0: return L"Cadenza";
    case 1: return L"CadenzaAddin";
    default: return std::wstring();
  }
}

// ---- connection point -------------------------------------------------------------------------

CProxy_IUpgradeHostEvents::~CProxy_IUpgradeHostEvents() {
  for (CONNECTDATA& sink : m_sinks) sink.pUnk->Release();
}

STDMETHODIMP CProxy_IUpgradeHostEvents::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// The point lives inside its object and keeps that object alive while it is held.
STDMETHODIMP_(ULONG) CProxy_IUpgradeHostEvents::AddRef() { return m_owner.AddRef(); }
STDMETHODIMP_(ULONG) CProxy_IUpgradeHostEvents::Release() { return m_owner.Release(); }

STDMETHODIMP CProxy_IUpgradeHostEvents::GetConnectionInterface(IID* pIID) {
  if (pIID == nullptr) return E_POINTER;
  *pIID = DIID__IUpgradeHostEvents;
  return S_OK;
}

STDMETHODIMP CProxy_IUpgradeHostEvents::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
  return GuardedCall([&]() -> HRESULT {
    if (ppCPC == nullptr) return E_POINTER;
    return m_owner.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
  });
}

STDMETHODIMP CProxy_IUpgradeHostEvents::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
  return GuardedCall([&]() -> HRESULT {
    if (pdwCookie == nullptr) return E_POINTER;
    *pdwCookie = 0;
    if (pUnkSink == nullptr) return E_POINTER;
    m_sinks.reserve(m_sinks.size() + 1);  // so that a sink's reference cannot be lost below
    IUnknown* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(DIID__IUpgradeHostEvents, reinterpret_cast<void**>(&sink))) ||
        sink == nullptr)
      return CONNECT_E_CANNOTCONNECT;
    m_sinks.push_back(CONNECTDATA{sink, m_nextCookie});
    *pdwCookie = m_nextCookie++;
    return S_OK;
  });
}

STDMETHODIMP CProxy_IUpgradeHostEvents::Unadvise(DWORD dwCookie) {
  return GuardedCall([&]() -> HRESULT {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
      if (it->dwCookie == dwCookie) {
        IUnknown* sink = it->pUnk;
        m_sinks.erase(it);
        sink->Release();
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  });
}

STDMETHODIMP CProxy_IUpgradeHostEvents::EnumConnections(IEnumConnections** ppEnum) {
  return GuardedCall([&]() -> HRESULT {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = nullptr;
    *ppEnum = new (std::nothrow) ConnectionsEnum(m_sinks);
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
  });
}

// ---- object lifetime --------------------------------------------------------------------------

CUpgradeHost::CUpgradeHost(IUnknown* pUnkOuter)
    : m_inner(*this), m_pControllingUnknown(pUnkOuter ? pUnkOuter : &m_inner), m_eventsPoint(*this) {
  g_Module.Lock();
}

CUpgradeHost::~CUpgradeHost() { g_Module.Unlock(); }

HRESULT CUpgradeHost::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  CUpgradeHost* object = new (std::nothrow) CUpgradeHost(pUnkOuter);
  if (object == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
  object->m_inner.Release();  // the creation reference; the query holds the object if it worked
  return hr;
}

// Nothing of the component lives once no window is left: the providers that the calling
// apartment obtained are released then, so that loading and freeing the library keeps no
// reference on the host's objects. A provider of another apartment that still lives keeps the
// library loaded (it can be released only from its own apartment).
BOOL CUpgradeHost::ProcessResourcesInUse() {
  if (UpgradeTipsWndInUse()) return TRUE;
  const bool operationsKept = !g_hostProviders.ReleaseForUnload();
  const bool tipsKept = UpgradeTipsProvidersKept() != FALSE;
  return operationsKept || tipsKept ? TRUE : FALSE;
}

STDMETHODIMP CUpgradeHost::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
  } else if (riid == IID_IUpgradeHost) {
    *ppv = static_cast<IUpgradeHost*>(&m_owner);
  } else if (riid == IID_IConnectionPointContainer) {
    *ppv = static_cast<IConnectionPointContainer*>(&m_owner);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CUpgradeHost::InnerUnknown::AddRef() { return InterlockedIncrement(&m_owner.m_cRef); }

STDMETHODIMP_(ULONG) CUpgradeHost::InnerUnknown::Release() {
  const ULONG n = InterlockedDecrement(&m_owner.m_cRef);
  if (n == 0) delete &m_owner;
  return n;
}

STDMETHODIMP CUpgradeHost::QueryInterface(REFIID riid, void** ppv) {
  return m_pControllingUnknown->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CUpgradeHost::AddRef() { return m_pControllingUnknown->AddRef(); }
STDMETHODIMP_(ULONG) CUpgradeHost::Release() { return m_pControllingUnknown->Release(); }

// ---- connection point container ---------------------------------------------------------------

STDMETHODIMP CUpgradeHost::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  return GuardedCall([&]() -> HRESULT {
    if (ppEnum == nullptr) return E_POINTER;
    *ppEnum = new (std::nothrow) ConnectionPointsEnum({&m_eventsPoint});
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP CUpgradeHost::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  return GuardedCall([&]() -> HRESULT {
    if (ppCP == nullptr) return E_POINTER;
    *ppCP = nullptr;
    if (riid != DIID__IUpgradeHostEvents) return CONNECT_E_NOCONNECTION;
    *ppCP = &m_eventsPoint;
    m_eventsPoint.AddRef();
    return S_OK;
  });
}

// ---- upgrade operations -----------------------------------------------------------------------

BOOL CUpgradeHost::GetPlayerBuild(WORD* pwBuild) {
  if (pwBuild == nullptr) return FALSE;
  if (m_wPlayerBuild != kBuildNotRead) {
    *pwBuild = m_wPlayerBuild;
    return TRUE;
  }
  const std::wstring folder = common_libraries::GetExeFolder();
  if (folder.empty()) return FALSE;
  const std::wstring path = folder + kPlayerFileName;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) return FALSE;
  std::vector<BYTE> buffer;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) return FALSE;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO))
    return FALSE;
  // The build is the whole third field of the file version (1.2.300.4 is build 300).
  m_wPlayerBuild = HIWORD(info->dwFileVersionLS);
  *pwBuild = m_wPlayerBuild;
  return TRUE;
}

void CUpgradeHost::RunManualUpdater(LONG nModuleType, BOOL bLatest) {
  const std::wstring updater = UpdaterPath();
  if (updater.empty()) return;
  const std::wstring moduleType = ModuleTypeText(nModuleType);
  LaunchManualUpdate(updater.c_str(), moduleType.c_str(), bLatest);
}

STDMETHODIMP CUpgradeHost::CheckUpgrade(LONG nModuleType) {
  return GuardedCall([&]() -> HRESULT {
    const std::wstring moduleType = ModuleTypeText(nModuleType);
    std::wstring description;
    BOOL bAvailable = FALSE;
    DWORD dwNewVersion = 0;
    WORD wBuild = 0;
    GetPlayerBuild(&wBuild);
    const std::wstring updater = UpdaterPath();
    if (updater.empty()) return S_OK;  // no folder: no record to find
    const DWORD dwAppVersion = common_libraries::GetAppVersion();
    QueryPendingInstall(moduleType.c_str(), dwAppVersion, updater.c_str(), wBuild, bAvailable,
                        description, dwNewVersion);
    if (!bAvailable) return S_OK;

    Microsoft::WRL::ComPtr<IHostSettings> settings;
    if (FAILED(ObtainHostObject(g_hostProviders, HostObject::Settings, settings.GetAddressOf())) || !settings)
      return E_FAIL;
    LONG bPrompt = 0;
    if (FAILED(settings->GetPromptUpgrade(&bPrompt))) return E_FAIL;
    if (bPrompt == 0) {
      // Prompting switched off by the user comes back for a strictly newer version only.
      DWORD dwPrompted = 0;
      if (FAILED(settings->GetPromptedVersion(&dwPrompted))) return E_FAIL;
      if (dwPrompted < dwNewVersion) {
        bPrompt = 1;
        if (FAILED(settings->SetPromptUpgrade(1))) return E_FAIL;
      }
    }
    if (FAILED(settings->SetPromptedVersion(dwNewVersion))) return E_FAIL;

    if (bPrompt != 0) {
      common_libraries::Log(kLogFileName, kUpgradeContentFormat, UpgradeContentForLog(description).c_str());
      PromptUpgradeTips(description);
    }
    return S_OK;
  });
}

STDMETHODIMP CUpgradeHost::ManualUpgrade(LONG nModuleType) {
  return GuardedCall([&]() -> HRESULT {
    RunManualUpdater(nModuleType, TRUE);
    return S_OK;
  });
}

STDMETHODIMP CUpgradeHost::PullUpgrade(LONG nModuleType) {
  return GuardedCall([&]() -> HRESULT {
    const std::wstring updater = UpdaterPath();
    if (updater.empty()) return S_OK;
    const std::wstring moduleType = ModuleTypeText(nModuleType);
    LaunchPullUpdate(updater.c_str(), 0, TRUE, TRUE, moduleType.c_str(), std::wstring());
    return S_OK;
  });
}

STDMETHODIMP CUpgradeHost::ScheduledUpgrade(LONG nModuleType) {
  return GuardedCall([&]() -> HRESULT {
    const std::wstring moduleType = ModuleTypeText(nModuleType);
    const std::wstring updater = UpdaterPath();
    if (updater.empty()) return S_OK;
    WORD wBuild = 0;
    GetPlayerBuild(&wBuild);
    LaunchPendingInstall(moduleType.c_str(), common_libraries::GetAppVersion(), updater.c_str(), wBuild);
    return S_OK;
  });
}

STDMETHODIMP CUpgradeHost::RecommendUpgrade(BSTR bstrPrompt, LONG bOnlyPromtOnce) {
  return GuardedCall([&]() -> HRESULT {
    if (bOnlyPromtOnce != 0) {
      if (g_bRecommendPrompted) return S_OK;
      g_bRecommendPrompted = TRUE;  // set before the box opens: a call meanwhile returns at once
    }
    const std::wstring caption = LoadHostString(IDS_UPGRADE_CAPTION);
    const std::wstring text = PromptText(bstrPrompt, IDS_RECOMMEND_UPGRADE_TEXT);
    if (MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONINFORMATION) != IDYES)
      return S_OK;
    RunManualUpdater(0, FALSE);
    return TriggerAppControl();
  });
}

STDMETHODIMP CUpgradeHost::ForceUpgrade(BSTR bstrPrompt) {
  return GuardedCall([&]() -> HRESULT {
    if (g_bForcePrompted) return S_OK;
    g_bForcePrompted = TRUE;
    const std::wstring caption = LoadHostString(IDS_UPGRADE_CAPTION);
    const std::wstring text = PromptText(bstrPrompt, IDS_FORCE_UPGRADE_TEXT);
    if (MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_YESNO) == IDYES) RunManualUpdater(0, FALSE);
    return TriggerAppControl();
  });
}
