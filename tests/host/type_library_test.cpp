// The component's type library as a client reads it back: its three types, the interface's
// flags and method table, and the Chinese help strings.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/folders.h"
#include "res/Cadenza_Upgrade.h"
#include "tests/common/test_files.h"

namespace {

using Microsoft::WRL::ComPtr;
using testing_support::Narrow;

// The build copies the type library beside the test programs.
std::wstring TypeLibraryPath() { return GetModuleFolder() + L"Cadenza_Upgrade.tlb"; }

std::wstring Take(BSTR text) {
  std::wstring result = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return result;
}

std::wstring NameOf(ITypeInfo* info) {
  BSTR name = nullptr;
  info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  return Take(name);
}

std::wstring HelpOf(ITypeInfo* info, MEMBERID member) {
  BSTR help = nullptr;
  info->GetDocumentation(member, nullptr, &help, nullptr, nullptr);
  return Take(help);
}

class TypeLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    // Narrow strings in a type library are read in the ANSI code page; the Chinese help strings
    // are stored in GBK, so this program runs with the Chinese locale (LC_ALL=zh_CN.UTF-8).
    ASSERT_EQ(936u, GetACP()) << "run with LC_ALL=zh_CN.UTF-8 so that Wine uses code page 936";
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(TypeLibraryPath().c_str(), REGKIND_NONE, &lib_))
        << Narrow(TypeLibraryPath());
  }

  ComPtr<ITypeInfo> InfoOf(REFGUID guid) {
    ComPtr<ITypeInfo> info;
    EXPECT_HRESULT_SUCCEEDED(lib_->GetTypeInfoOfGuid(guid, &info));
    return info;
  }

  ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibraryTest, LibraryIsCadenzaUpgradeLib10WithThreeTypes) {
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(LIBID_Cadenza_UpgradeLib, attr->guid));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  lib_->ReleaseTLibAttr(attr);

  BSTR name = nullptr;
  BSTR help = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetDocumentation(-1, &name, &help, nullptr, nullptr));
  EXPECT_EQ(L"Cadenza_UpgradeLib", Take(name));
  EXPECT_EQ(L"Cadenza_Upgrade 1.0 类型库", Take(help));

  EXPECT_EQ(3u, lib_->GetTypeInfoCount());
  struct Expected {
    const GUID* guid;
    const wchar_t* name;
    TYPEKIND kind;
    const wchar_t* help;
  } expected[] = {
      // A dual interface is listed by its dispatch view; its table view is checked below.
      {&IID_IUpgradeHost, L"IUpgradeHost", TKIND_DISPATCH, L"IUpgradeHost 接口"},
      {&DIID__IUpgradeHostEvents, L"_IUpgradeHostEvents", TKIND_DISPATCH, L"_IUpgradeHostEvents 接口"},
      {&CLSID_UpgradeHost, L"UpgradeHost", TKIND_COCLASS, L"UpgradeHost 类"},
  };
  for (const Expected& type : expected) {
    ComPtr<ITypeInfo> info = InfoOf(*type.guid);
    ASSERT_TRUE(info) << Narrow(type.name);
    EXPECT_EQ(type.name, NameOf(info.Get()));
    EXPECT_EQ(type.help, HelpOf(info.Get(), MEMBERID_NIL)) << Narrow(type.name);
    TYPEATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
    EXPECT_EQ(type.kind, attr->typekind) << Narrow(type.name);
    info->ReleaseTypeAttr(attr);
  }
}

TEST_F(TypeLibraryTest, UpgradeHostIsAnIUnknownTableOfSixMethodsFlaggedDualOleAutomation) {
  ComPtr<ITypeInfo> dispatchView = InfoOf(IID_IUpgradeHost);
  ASSERT_TRUE(dispatchView);
  HREFTYPE tableRef = 0;
  ASSERT_HRESULT_SUCCEEDED(dispatchView->GetRefTypeOfImplType(-1, &tableRef));
  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(dispatchView->GetRefTypeInfo(tableRef, &info));

  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
  const WORD flags = TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDUAL;
  EXPECT_EQ(flags, attr->wTypeFlags & flags);
  EXPECT_EQ(6, attr->cFuncs);
  EXPECT_EQ(9 * sizeof(void*), attr->cbSizeVft) << "IUnknown's three methods and six own";
  ASSERT_EQ(1, attr->cImplTypes);
  info->ReleaseTypeAttr(attr);

  // Derived directly from IUnknown, which comes from the imported standard OLE library.
  HREFTYPE baseRef = 0;
  ComPtr<ITypeInfo> base;
  ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(0, &baseRef));
  ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(baseRef, &base));
  EXPECT_EQ(L"IUnknown", NameOf(base.Get()));
  ComPtr<ITypeLib> baseLib;
  UINT index = 0;
  ASSERT_HRESULT_SUCCEEDED(base->GetContainingTypeLib(&baseLib, &index));
  BSTR baseLibName = nullptr;
  baseLib->GetDocumentation(-1, &baseLibName, nullptr, nullptr, nullptr);
  EXPECT_EQ(L"stdole", Take(baseLibName));

  struct Method {
    std::vector<std::wstring> names;  // the method, then its parameters
    std::vector<VARTYPE> types;
    std::wstring help;
  } methods[] = {
      {{L"CheckUpgrade", L"nModuleType"}, {VT_I4}, L"检查是否有已下载的升级包等待安装"},
      {{L"ManualUpgrade", L"nModuleType"}, {VT_I4}, L"立即检查新版本"},
      {{L"PullUpgrade", L"nModuleType"}, {VT_I4}, L"转交拉取升级请求"},
      {{L"ScheduledUpgrade", L"nModuleType"}, {VT_I4}, L"安装已下载的升级包"},
      {{L"RecommendUpgrade", L"bstrPrompt", L"bOnlyPromtOnce"}, {VT_BSTR, VT_I4}, L"推荐升级"},
      {{L"ForceUpgrade", L"bstrPrompt"}, {VT_BSTR}, L"强制升级"},
  };
  for (UINT i = 0; i < 6; ++i) {
    const Method& method = methods[i];
    FUNCDESC* func = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &func));
    SCOPED_TRACE(Narrow(method.names[0]));
    EXPECT_EQ(static_cast<SHORT>((3 + i) * sizeof(void*)), func->oVft);
    EXPECT_EQ(INVOKE_FUNC, func->invkind);
    EXPECT_EQ(VT_HRESULT, func->elemdescFunc.tdesc.vt);
    ASSERT_EQ(static_cast<SHORT>(method.types.size()), func->cParams);
    for (size_t p = 0; p < method.types.size(); ++p) {
      EXPECT_EQ(method.types[p], func->lprgelemdescParam[p].tdesc.vt);
      EXPECT_TRUE(func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FIN);
    }
    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_HRESULT_SUCCEEDED(info->GetNames(func->memid, names, 4, &count));
    std::vector<std::wstring> got;
    for (UINT n = 0; n < count; ++n) got.push_back(Take(names[n]));
    EXPECT_EQ(method.names, got);
    EXPECT_EQ(method.help, HelpOf(info.Get(), func->memid));
    info->ReleaseFuncDesc(func);
  }
}

TEST_F(TypeLibraryTest, ClassIsCreatableWithDefaultInterfaceAndEmptyDefaultEventSource) {
  ComPtr<ITypeInfo> events = InfoOf(DIID__IUpgradeHostEvents);
  ASSERT_TRUE(events);
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(events->GetTypeAttr(&attr));
  EXPECT_EQ(0, attr->cFuncs);
  EXPECT_EQ(0, attr->cVars);
  events->ReleaseTypeAttr(attr);

  ComPtr<ITypeInfo> coclass = InfoOf(CLSID_UpgradeHost);
  ASSERT_TRUE(coclass);
  ASSERT_HRESULT_SUCCEEDED(coclass->GetTypeAttr(&attr));
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  ASSERT_EQ(2, attr->cImplTypes);
  coclass->ReleaseTypeAttr(attr);

  struct Implemented {
    const wchar_t* name;
    INT flags;
  } implemented[] = {{L"IUpgradeHost", IMPLTYPEFLAG_FDEFAULT},
                     {L"_IUpgradeHostEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  for (UINT i = 0; i < 2; ++i) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> type;
    ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref));
    ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeInfo(ref, &type));
    EXPECT_EQ(implemented[i].name, NameOf(type.Get()));
    INT flags = 0;
    ASSERT_HRESULT_SUCCEEDED(coclass->GetImplTypeFlags(i, &flags));
    EXPECT_EQ(implemented[i].flags, flags);
  }
}

}  // namespace
