// Obtaining a host object: provider creation through COM and its caching, the creating
// operation's result, and what happens to the object it returns.
#include <gtest/gtest.h>

#include "adapters/host_provider_cache.h"
#include "tests/common/slot_recorder.h"

namespace {

using testing_support::SlotRecorder;

// A class object registered in this process for the provider's CLSID: counts its creations and
// either fails with a chosen result or hands out the given recorder. Not the fake host's class
// object (tests/common/fake_host.h): that one always makes a new recording provider and is never
// told to fail, while these tests choose the creation's result and the very object handed out.
class ScriptedProviderFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // lives on the test's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    ++creations;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (FAILED(failure)) return failure;
    return provider->Unknown()->QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  HRESULT Register() {
    return CoRegisterClassObject(CLSID_HostServiceProvider, this, CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, &cookie);
  }
  ~ScriptedProviderFactory() {
    if (cookie != 0) CoRevokeClassObject(cookie);
  }

  int creations = 0;
  HRESULT failure = S_OK;
  SlotRecorder* provider = nullptr;
  DWORD cookie = 0;
};

class ObtainHostObjectTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ObtainHostObjectTest, FailedProviderCreationIsTheResultAndTheNextCallTriesAgain) {
  IHostServiceProvider* cached = nullptr;
  IHostSettings* settings = reinterpret_cast<IHostSettings*>(1);

  // Nothing registered for the provider's class.
  EXPECT_EQ(REGDB_E_CLASSNOTREG, ObtainHostObject(cached, HostObject::Settings, &settings));
  EXPECT_EQ(nullptr, cached);
  EXPECT_EQ(nullptr, settings);

  SlotRecorder provider(IID_IHostServiceProvider);
  SlotRecorder settingsObject(IID_IHostSettings);
  provider.HandOut(4, &settingsObject);
  ScriptedProviderFactory factory;
  factory.provider = &provider;
  factory.failure = E_ACCESSDENIED;
  ASSERT_HRESULT_SUCCEEDED(factory.Register());

  EXPECT_EQ(E_ACCESSDENIED, ObtainHostObject(cached, HostObject::Settings, &settings));
  EXPECT_EQ(nullptr, cached);
  EXPECT_EQ(1, factory.creations);
  EXPECT_TRUE(provider.calls().empty());

  factory.failure = S_OK;
  EXPECT_EQ(S_OK, ObtainHostObject(cached, HostObject::Settings, &settings));
  EXPECT_EQ(2, factory.creations);
  EXPECT_EQ(provider.As<IHostServiceProvider>(), cached);
  EXPECT_EQ(settingsObject.As<IHostSettings>(), settings);
  settings->Release();
}

TEST_F(ObtainHostObjectTest, ProviderIsCreatedOnceAndKept) {
  SlotRecorder provider(IID_IHostServiceProvider);
  ScriptedProviderFactory factory;
  factory.provider = &provider;
  ASSERT_HRESULT_SUCCEEDED(factory.Register());

  IHostServiceProvider* cached = nullptr;
  IHostAppControl* appControl = nullptr;
  IHostSettings* settings = nullptr;
  ObtainHostObject(cached, HostObject::AppControl, &appControl);
  ObtainHostObject(cached, HostObject::Settings, &settings);

  EXPECT_EQ(1, factory.creations);
  EXPECT_EQ(provider.As<IHostServiceProvider>(), cached);
  EXPECT_EQ(2, provider.refs()) << "one reference, held by the cache";
  EXPECT_EQ(2u, provider.calls().size());
}

TEST_F(ObtainHostObjectTest, FailedCreatingOperationIsTheResultAndGivesNothing) {
  SlotRecorder provider(IID_IHostServiceProvider);
  provider.SetResult(10, E_OUTOFMEMORY);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  IHostAppControl* appControl = reinterpret_cast<IHostAppControl*>(1);
  EXPECT_EQ(E_OUTOFMEMORY, ObtainHostObject(cached, HostObject::AppControl, &appControl));
  EXPECT_EQ(nullptr, appControl);
}

TEST_F(ObtainHostObjectTest, SuccessWithoutAnObjectOrWithoutTheInterfaceGivesNull) {
  SlotRecorder provider(IID_IHostServiceProvider);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  // The creating operation succeeds but returns no object.
  IHostSkinWindow* skin = reinterpret_cast<IHostSkinWindow*>(1);
  EXPECT_EQ(S_OK, ObtainHostObject(cached, HostObject::SkinWindow, &skin));
  EXPECT_EQ(nullptr, skin);

  // It returns an object without the wanted interface: null, and the object is released.
  SlotRecorder stranger(IID_IHostAppControl);
  provider.HandOut(11, &stranger);
  EXPECT_EQ(S_OK, ObtainHostObject(cached, HostObject::SkinWindow, &skin));
  EXPECT_EQ(nullptr, skin);
  EXPECT_EQ(1, stranger.refs());
}

TEST_F(ObtainHostObjectTest, ReturnedObjectIsReleasedAndOnlyTheQueriedReferenceRemains) {
  SlotRecorder provider(IID_IHostServiceProvider);
  SlotRecorder skinObject(IID_IHostSkinWindow);
  provider.HandOut(11, &skinObject);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  IHostSkinWindow* skin = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::SkinWindow, &skin));
  EXPECT_EQ(skinObject.As<IHostSkinWindow>(), skin);
  EXPECT_EQ(2, skinObject.refs()) << "the test's own reference and the caller's";
  skin->Release();
  EXPECT_EQ(1, skinObject.refs());
}

}  // namespace
