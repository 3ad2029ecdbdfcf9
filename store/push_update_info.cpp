// Pull request store.
#include "store/push_update_info.h"

#include "store/store_path.h"

namespace {
constexpr wchar_t kClientUpdateSetting[] = L"PULL_CLIENT_UPDATE_SETTING";
constexpr wchar_t kHasForceUpdate[] = L"PULL_HAS_FORCE_UPDATE";
constexpr wchar_t kHasHPU[] = L"PULL_HAS_HPU";
constexpr wchar_t kModuleType[] = L"PULL_MODULE_TYPE";
constexpr wchar_t kOtherBuffer[] = L"PULL_OTHER_BUFFER";
}  // namespace

CPushUpdateInfoIO::CPushUpdateInfoIO() { Open(nullptr); }
CPushUpdateInfoIO::~CPushUpdateInfoIO() = default;

BOOL CPushUpdateInfoIO::Open(LPCWSTR pszFolder) {
  return OpenOrSaveStore(m_db, m_strFolder, pszFolder, kPushFileName, kPushStoreID,
                         StoreAction::Open);
}

BOOL CPushUpdateInfoIO::Save(LPCWSTR pszFolder) {
  return OpenOrSaveStore(m_db, m_strFolder, pszFolder, kPushFileName, kPushStoreID,
                         StoreAction::Save);
}

BOOL CPushUpdateInfoIO::SetClientUpdateSetting(int nSetting) {
  return m_db.WriteInt(kClientUpdateSetting, nSetting);
}
BOOL CPushUpdateInfoIO::SetHasForceUpdate(BOOL bForce) { return m_db.WriteBool(kHasForceUpdate, bForce); }
BOOL CPushUpdateInfoIO::SetHasHPU(BOOL bHasHPU) { return m_db.WriteBool(kHasHPU, bHasHPU); }
BOOL CPushUpdateInfoIO::SetModuleType(const std::wstring& strModuleType) {
  return m_db.WriteString(kModuleType, strModuleType);
}
BOOL CPushUpdateInfoIO::SetOtherBuffer(const std::wstring& strOther) {
  return m_db.WriteString(kOtherBuffer, strOther);
}
