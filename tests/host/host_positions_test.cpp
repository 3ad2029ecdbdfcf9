// Method positions: every host operation the component calls, and every method of its own
// interface, lands on the position of the method table that binds host and component.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "adapters/host_provider_cache.h"
#include "res/Cadenza_Upgrade.h"
#include "tests/common/slot_recorder.h"

namespace {

using testing::ElementsAre;
using testing_support::SlotRecorder;

TEST(HostPositions, ProviderOperationsLandOnPositions4_10_11_33_43) {
  SlotRecorder provider(IID_IHostServiceProvider);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  const HostObject creators[] = {HostObject::Settings, HostObject::AppControl,
                                 HostObject::SkinWindow, HostObject::UpgradeHost};
  for (HostObject which : creators) {
    IUnknown* object = nullptr;
    EXPECT_EQ(S_OK, ObtainHostObject(cached, which, IID_IUnknown, reinterpret_cast<void**>(&object)));
    ASSERT_FALSE(provider.calls().empty());
    EXPECT_NE(0u, provider.calls().back().a1) << "the creating operation gets an out pointer";
  }
  HWND owner = nullptr;
  cached->GetMainWindow(&owner);
  ASSERT_EQ(5u, provider.calls().size());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&owner), provider.calls().back().a1);

  // Nothing else was called: no placeholder position is reached.
  EXPECT_THAT(provider.slots(), ElementsAre(4, 10, 11, 33, 43));
  EXPECT_EQ(1, provider.refs()) << "the cached provider is used, not created or released";
}

TEST(HostPositions, SettingsObtainedThroughTheProviderTakeTheirArgumentsAt281To284) {
  SlotRecorder provider(IID_IHostServiceProvider);
  SlotRecorder settingsObject(IID_IHostSettings);
  provider.HandOut(4, &settingsObject);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  IHostSettings* settings = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::Settings, &settings));
  ASSERT_EQ(settingsObject.As<IHostSettings>(), settings);

  LONG prompt = 0;
  DWORD version = 0;
  settings->GetPromptUpgrade(&prompt);
  settings->SetPromptUpgrade(TRUE);
  settings->GetPromptedVersion(&version);
  settings->SetPromptedVersion(0xFEDCBA98u);
  settings->Release();

  EXPECT_THAT(settingsObject.slots(), ElementsAre(281, 282, 283, 284));
  const auto& calls = settingsObject.calls();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&prompt), calls[0].a1);
  EXPECT_EQ(1u, static_cast<uint32_t>(calls[1].a1));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&version), calls[2].a1);
  EXPECT_EQ(0xFEDCBA98u, static_cast<uint32_t>(calls[3].a1));
  EXPECT_EQ(1, settingsObject.refs());
}

TEST(HostPositions, TriggerIsPosition4OfTheAppControl) {
  SlotRecorder provider(IID_IHostServiceProvider);
  SlotRecorder appControlObject(IID_IHostAppControl);
  provider.HandOut(10, &appControlObject);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  IHostAppControl* appControl = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::AppControl, &appControl));
  ASSERT_NE(nullptr, appControl);
  appControl->Trigger(1);
  appControl->Release();

  EXPECT_THAT(appControlObject.slots(), ElementsAre(4));
  EXPECT_EQ(1u, static_cast<uint32_t>(appControlObject.calls()[0].a1));
}

TEST(HostPositions, SkinWindowCallsLandOn7_9_12WithTheirArguments) {
  SlotRecorder provider(IID_IHostServiceProvider);
  SlotRecorder skinObject(IID_IHostSkinWindow);
  provider.HandOut(11, &skinObject);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  skinObject.SetArgumentCount(12, 3);  // LoadSkin(window, document, script)
  IHostSkinWindow* skin = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::SkinWindow, &skin));
  ASSERT_NE(nullptr, skin);
  HWND window = reinterpret_cast<HWND>(0xABCD);
  BSTR document = SysAllocString(L"<theme/>");
  BSTR script = SysAllocString(L"Sub Window_OnInit()\r\nEnd Sub\r\n");
  skin->BindWindow(window);
  skin->PrepareWindow(window);
  skin->LoadSkin(window, document, script);
  skin->Release();

  EXPECT_THAT(skinObject.slots(), ElementsAre(7, 9, 12));
  const auto& calls = skinObject.calls();
  EXPECT_EQ(reinterpret_cast<uintptr_t>(window), calls[0].a1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(window), calls[1].a1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(window), calls[2].a1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(document), calls[2].a2);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(script), calls[2].a3);
  SysFreeString(document);
  SysFreeString(script);
}

// The component's own interface: six methods right after IUnknown's, in the declared order.
TEST(HostPositions, UpgradeHostFromTheProviderHasItsSixMethodsAt3To8) {
  SlotRecorder provider(IID_IHostServiceProvider);
  SlotRecorder upgradeHostObject(IID_IUpgradeHost);
  provider.HandOut(33, &upgradeHostObject);
  IHostServiceProvider* cached = provider.As<IHostServiceProvider>();

  upgradeHostObject.SetArgumentCount(7, 2);  // RecommendUpgrade(prompt, once)
  IUpgradeHost* upgradeHost = nullptr;
  ASSERT_EQ(S_OK, ObtainHostObject(cached, HostObject::UpgradeHost, &upgradeHost));
  ASSERT_NE(nullptr, upgradeHost);
  BSTR prompt = SysAllocString(L"prompt");
  upgradeHost->CheckUpgrade(10);
  upgradeHost->ManualUpgrade(11);
  upgradeHost->PullUpgrade(12);
  upgradeHost->ScheduledUpgrade(0);
  upgradeHost->RecommendUpgrade(prompt, 1);
  upgradeHost->ForceUpgrade(prompt);
  upgradeHost->Release();
  SysFreeString(prompt);

  EXPECT_THAT(upgradeHostObject.slots(), ElementsAre(3, 4, 5, 6, 7, 8));
  const auto& calls = upgradeHostObject.calls();
  EXPECT_EQ(10u, static_cast<uint32_t>(calls[0].a1));
  EXPECT_EQ(0u, static_cast<uint32_t>(calls[3].a1));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(prompt), calls[4].a1);
  EXPECT_EQ(1u, static_cast<uint32_t>(calls[4].a2));
  EXPECT_EQ(1, upgradeHostObject.refs());
}

}  // namespace
