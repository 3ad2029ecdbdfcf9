// The UpgradeHost object: the six upgrade operations the host player calls, an empty event
// source, and the probe of the installed player's build number.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "res/Cadenza_Upgrade.h"

class CUpgradeHost;

// The one connection point, for _IUpgradeHostEvents: sinks connect and disconnect; the event
// interface has no methods, so nothing is ever sent to them.
class CProxy_IUpgradeHostEvents final : public IConnectionPoint {
 public:
  explicit CProxy_IUpgradeHostEvents(CUpgradeHost& owner) : m_owner(owner) {}
  ~CProxy_IUpgradeHostEvents();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID* pIID) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
  STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
  STDMETHODIMP Unadvise(DWORD dwCookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

 private:
  CUpgradeHost& m_owner;
  std::vector<CONNECTDATA> m_sinks;  // each holds one reference to its sink
  DWORD m_nextCookie = 1;
};

class CUpgradeHost final : public IUpgradeHost, public IConnectionPointContainer {
 public:
  // Creates a stand-alone object, or an aggregated one when pUnkOuter is given (riid must then
  // be IID_IUnknown), and queries it for riid.
  static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);
  // TRUE while something the library's code must serve outlives the objects: the tips window.
  static BOOL ProcessResourcesInUse();

  // IUnknown: delegates to the controlling unknown (the outer object when aggregated).
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IUpgradeHost
  STDMETHODIMP CheckUpgrade(LONG nModuleType) override;
  STDMETHODIMP ManualUpgrade(LONG nModuleType) override;
  STDMETHODIMP PullUpgrade(LONG nModuleType) override;
  STDMETHODIMP ScheduledUpgrade(LONG nModuleType) override;
  STDMETHODIMP RecommendUpgrade(BSTR bstrPrompt, LONG bOnlyPromtOnce) override;
  STDMETHODIMP ForceUpgrade(BSTR bstrPrompt) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

 private:
  // The non-delegating unknown that owns the object's lifetime.
  struct InnerUnknown final : public IUnknown {
    explicit InnerUnknown(CUpgradeHost& owner) : m_owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    CUpgradeHost& m_owner;
  };

  explicit CUpgradeHost(IUnknown* pUnkOuter);
  virtual ~CUpgradeHost();

  BOOL GetPlayerBuild(WORD* pwBuild);
  void RunManualUpdater(LONG nModuleType, BOOL bLatest);

  InnerUnknown m_inner;
  IUnknown* m_pControllingUnknown;
  // Interlocked, as every other count of the component: a host may release from another thread.
  LONG m_cRef = 1;
  CProxy_IUpgradeHostEvents m_eventsPoint;
  WORD m_wPlayerBuild = 0xFFFF;  // not read yet
};

// "Cadenza" for 0, "CadenzaAddin" for 1, an empty text for any other module number.
std::wstring ModuleTypeText(LONG nModuleType);
