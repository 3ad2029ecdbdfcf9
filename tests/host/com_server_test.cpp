// Cadenza_Upgrade.dll as a COM client sees it: exports, class factory, aggregation, the event
// source, the lock count, and the registration data it carries.
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>

#include <wrl/client.h>

#include "base/folders.h"
#include "res/Cadenza_Upgrade.h"
#include "store/update_folders.h"
#include "tests/common/component_loader.h"
#include "tests/common/test_files.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace {

using SimpleFn = HRESULT(STDAPICALLTYPE*)();

class ComServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_NE(nullptr, Component().module());
  }
  // The component beside this program, loaded once and kept, as a host keeps it.
  static const LoadedComponent& Component() {
    static const LoadedComponent component;
    return component;
  }
  ComPtr<IClassFactory> Factory() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, Component().GetClassObject(CLSID_UpgradeHost, IID_IClassFactory,
                                               reinterpret_cast<void**>(factory.GetAddressOf())));
    return factory;
  }
  static HRESULT canUnloadNow() { return Component().CanUnloadNow(); }
  static HRESULT registerServer() { return Component().Export<SimpleFn>("DllRegisterServer")(); }
  static HRESULT unregisterServer() { return Component().Export<SimpleFn>("DllUnregisterServer")(); }
};

// An outer object that counts the references its inner object forwards to it.
struct CountingOuter : public IUnknown {
  ULONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
    if (*ppv) ++refs;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

// A sink for the event source; it answers for the event dispinterface (or only IUnknown).
struct Sink : public IDispatch {
  bool answersEvents = true;
  ULONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    bool ok = riid == IID_IUnknown || riid == IID_IDispatch || (answersEvents && riid == DIID__IUpgradeHostEvents);
    *ppv = ok ? static_cast<IDispatch*>(this) : nullptr;
    if (ok) ++refs;
    return ok ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    ADD_FAILURE() << "an event was sent";
    return E_NOTIMPL;
  }
};

std::string ResourceText(HMODULE module, UINT id, const wchar_t* type) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!found) return std::string();
  HGLOBAL loaded = LoadResource(module, found);
  return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
}

}  // namespace

TEST_F(ComServerTest, ExportsByNameAndOrdinal) {
  const LoadedComponent& dll = Component();
  EXPECT_EQ(dll.Export<void*>("DllCanUnloadNow"), dll.Export<void*>(MAKEINTRESOURCEA(1)));
  EXPECT_EQ(dll.Export<void*>("DllGetClassObject"), dll.Export<void*>(MAKEINTRESOURCEA(2)));
  EXPECT_EQ(dll.Export<void*>("DllRegisterServer"), dll.Export<void*>(MAKEINTRESOURCEA(3)));
  EXPECT_EQ(dll.Export<void*>("DllUnregisterServer"), dll.Export<void*>(MAKEINTRESOURCEA(4)));
}

TEST_F(ComServerTest, ClassObjectAndInterfaces) {
  void* unused = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Component().GetClassObject(IID_IUnknown, IID_IClassFactory, &unused));
  EXPECT_EQ(nullptr, unused);

  ComPtr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  ComPtr<IUpgradeHost> host;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf())));
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, host.As(&unknown));
  ComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(S_OK, host.As(&container));
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(E_NOINTERFACE, host.As(&dispatch));
  ComPtr<IProvideClassInfo> classInfo;
  EXPECT_EQ(E_NOINTERFACE, host.As(&classInfo));
  ComPtr<ISupportErrorInfo> errorInfo;
  EXPECT_EQ(E_NOINTERFACE, host.As(&errorInfo));
  // Identity: every interface gives the same IUnknown.
  ComPtr<IUnknown> fromContainer;
  container.As(&fromContainer);
  EXPECT_EQ(unknown.Get(), fromContainer.Get());
}

TEST_F(ComServerTest, AggregationHandsOutOnlyTheInnerUnknown) {
  ComPtr<IClassFactory> factory = Factory();
  CountingOuter outer;
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IUpgradeHost, &object));
  EXPECT_EQ(nullptr, object);

  IUnknown* inner = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
  ASSERT_NE(nullptr, inner);
  IUpgradeHost* host = nullptr;
  ASSERT_EQ(S_OK, inner->QueryInterface(IID_IUpgradeHost, reinterpret_cast<void**>(&host)));
  const ULONG before = outer.refs;
  host->AddRef();  // forwarded to the outer object
  EXPECT_EQ(before + 1, outer.refs);
  host->Release();
  IUnknown* viaHost = nullptr;
  host->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaHost));  // the outer's identity
  EXPECT_EQ(static_cast<IUnknown*>(&outer), viaHost);
  host->Release();  // the outer's reference taken by the inner query
  EXPECT_EQ(S_FALSE, canUnloadNow());
  EXPECT_EQ(0u, inner->Release());
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(ComServerTest, EventSourceAcceptsSinksAndSendsNothing) {
  ComPtr<IUpgradeHost> host;
  ASSERT_EQ(S_OK, Factory()->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf())));
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(S_OK, host.As(&container));
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, point.GetAddressOf()));
  ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IUpgradeHostEvents, point.GetAddressOf()));
  IID iid = {};
  EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
  EXPECT_EQ(DIID__IUpgradeHostEvents, iid);

  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.GetAddressOf()));
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, points->Next(2, listed, &fetched));
  ASSERT_EQ(1u, fetched);
  EXPECT_EQ(point.Get(), listed[0]);
  listed[0]->Release();

  Sink sink, stranger;
  stranger.answersEvents = false;
  DWORD cookie = 0, other = 0;
  EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&stranger, &other));
  ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
  EXPECT_NE(0u, cookie);
  EXPECT_GT(sink.refs, 1u);  // held while connected

  ComPtr<IEnumConnections> connections;
  ASSERT_EQ(S_OK, point->EnumConnections(connections.GetAddressOf()));
  CONNECTDATA data[2] = {};
  EXPECT_EQ(S_FALSE, connections->Next(2, data, &fetched));
  ASSERT_EQ(1u, fetched);
  EXPECT_EQ(cookie, data[0].dwCookie);
  data[0].pUnk->Release();
  connections.Reset();

  host->CheckUpgrade(5);  // an operation runs and nothing is sent to the sink
  EXPECT_EQ(S_OK, point->Unadvise(cookie));
  EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
  EXPECT_EQ(1u, sink.refs);
}

TEST_F(ComServerTest, LockCountFollowsObjectsAndServerLocks) {
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(S_OK, canUnloadNow());
  {
    ComPtr<IUpgradeHost> host;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf())));
    EXPECT_EQ(S_FALSE, canUnloadNow());
  }
  EXPECT_EQ(S_OK, canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_FALSE, canUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_OK, canUnloadNow());
}

// The component loads the common libraries from its folder on its first call (this program has
// not loaded them) and frees them when it answers that it may be unloaded; a later call loads
// them again.
TEST_F(ComServerTest, CommonLibrariesItLoadedGoWhenItMayBeUnloaded) {
  ComPtr<IClassFactory> factory = Factory();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ComPtr<IUpgradeHost> host;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUpgradeHost, reinterpret_cast<void**>(host.GetAddressOf())));
    EXPECT_EQ(S_OK, host->CheckUpgrade(99));  // no module text: nothing waits, but the folder is asked
    EXPECT_NE(nullptr, GetModuleHandleW(L"CadenzaCommon.dll"));
    EXPECT_NE(nullptr, GetModuleHandleW(L"CadenzaWidget_MFC.dll"));
    host.Reset();
    ASSERT_EQ(S_OK, canUnloadNow());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"CadenzaCommon.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"CadenzaWidget_MFC.dll"));
  }
}

// The library's own registration entry points leave the registry exactly as they find it.
TEST_F(ComServerTest, SelfRegistrationWritesNothing) {
  auto exists = [](HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  };
  const wchar_t* keys[] = {L"CLSID\\{7BD3BA14-D00B-413D-BB01-AC0B17EBEA33}", L"Cadenza_Upgrade.UpgradeHost",
                           L"Cadenza_Upgrade.UpgradeHost.1", L"AppID\\Cadenza_Upgrade.DLL",
                           L"TypeLib\\{7A7F02E0-5236-45CB-BEC2-262849F3BCF7}"};
  std::vector<bool> before;
  for (const wchar_t* key : keys) before.push_back(exists(HKEY_CLASSES_ROOT, key) || exists(HKEY_CURRENT_USER, (std::wstring(L"Software\\Classes\\") + key).c_str()));
  EXPECT_EQ(S_OK, registerServer());
  EXPECT_EQ(S_OK, unregisterServer());
  EXPECT_EQ(S_OK, registerServer());
  for (size_t i = 0; i < std::size(keys); ++i)
    EXPECT_EQ(before[i], exists(HKEY_CLASSES_ROOT, keys[i]) || exists(HKEY_CURRENT_USER, (std::wstring(L"Software\\Classes\\") + keys[i]).c_str()))
        << Narrow(keys[i]);
  EXPECT_FALSE(before[0]) << "the class is registered in this prefix; the check above proves little";
}

TEST_F(ComServerTest, CarriesItsRegistrationDataTypeLibraryAndVersion) {
  const std::string appId = ResourceText(Component().module(), 101, L"REGISTRY");
  EXPECT_NE(std::string::npos, appId.find("NoRemove AppID"));
  EXPECT_NE(std::string::npos, appId.find("'%APPID%' = s 'Cadenza_Upgrade'"));
  EXPECT_NE(std::string::npos, appId.find("val AppID = s '%APPID%'"));
  const std::string cls = ResourceText(Component().module(), 103, L"REGISTRY");
  for (const char* piece : {"Cadenza_Upgrade.UpgradeHost.1 = s 'UpgradeHost Class'", "CurVer = s 'Cadenza_Upgrade.UpgradeHost.1'",
                            "InprocServer32 = s '%MODULE%'", "val ThreadingModel = s 'Apartment'",
                            "ForceRemove 'Programmable'", "NoRemove CLSID"})
    EXPECT_NE(std::string::npos, cls.find(piece)) << piece;

  ComPtr<ITypeLib> typeLib;
  ASSERT_EQ(S_OK, LoadTypeLibEx((GetModuleFolder() + L"Cadenza_Upgrade.dll").c_str(), REGKIND_NONE,
                                typeLib.GetAddressOf()));
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, typeLib->GetLibAttr(&attr));
  EXPECT_EQ(LIBID_Cadenza_UpgradeLib, attr->guid);
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  typeLib->ReleaseTLibAttr(attr);

  const std::wstring path = GetModuleFolder() + L"Cadenza_Upgrade.dll";
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  wchar_t* name = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\080404b0\\InternalName",
                             reinterpret_cast<void**>(&name), &length));
  EXPECT_STREQ(L"Cadenza_Upgrade.DLL", name);
}

// What the C++ runtime keeps per thread for a library (its exception state once the library
// has thrown) goes when the thread ends, and everything else when the library is freed: the
// process's free TLS indexes and handles are the same after loads in which it threw.
TEST(ThreadRuntime, PerThreadStateEndsWithTheThreadAndTheLibrary) {
  const std::wstring path = GetModuleFolder() + L"Cadenza_Upgrade_faults.dll";
  auto freeTlsIndexes = [] {
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
    for (DWORD index : taken) TlsFree(index);
    return taken.size();
  };
  using CountFn = LONG (*)();
  auto cycle = [&](int threads) {
    LoadedComponent dll(path);
    ASSERT_NE(nullptr, dll.module());
    auto throwAndCatch = dll.Export<CountFn>("ThrowAndCatch");
    auto records = dll.Export<CountFn>("ThreadRuntimeRecords");
    ASSERT_TRUE(throwAndCatch && records);
    for (int i = 0; i < threads; ++i) {
      LONG caught = 0, whileAlive = 0;
      std::thread worker([&] {
        caught = throwAndCatch();
        whileAlive = records();
      });
      worker.join();
      EXPECT_EQ(1, caught);
      EXPECT_EQ(1, whileAlive) << "the worker's exception state is not kept for it";
      EXPECT_EQ(0, records()) << "a thread that ended left its exception state behind";
    }
    EXPECT_EQ(1, throwAndCatch());
    EXPECT_EQ(1, records());
    dll.Free();
    ASSERT_EQ(nullptr, GetModuleHandleW(path.c_str()));
  };
  cycle(1);  // the platform's own first-use allocations
  const size_t tlsBefore = freeTlsIndexes();
  DWORD handlesBefore = 0, handlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
  for (int i = 0; i < 20; ++i) cycle(i == 0 ? 10 : 1);
  GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
  EXPECT_EQ(tlsBefore, freeTlsIndexes()) << "TLS indexes left behind by loads that threw";
  EXPECT_EQ(handlesBefore, handlesAfter) << "handles left behind by loads that threw";
}
