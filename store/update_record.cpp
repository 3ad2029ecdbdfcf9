// Update record access: one section per module type text.
#include "store/update_record.h"

#include "store/store_path.h"

namespace {
constexpr wchar_t kScheduleInstallation[] = L"UpdateRecord_S_bScheduleInstallation";
constexpr wchar_t kCrisisPack[] = L"UpdateRecord_S_bCrisisPack";
constexpr wchar_t kModuleType[] = L"UpdateRecord_S_strModuleType";
constexpr wchar_t kVersion[] = L"UpdateRecord_S_dwVersion";
constexpr wchar_t kPatchNum[] = L"UpdateRecord_S_wPatchNum";
constexpr wchar_t kBuildNum[] = L"UpdateRecord_S_wBuildNum";
constexpr wchar_t kVersionName[] = L"UpdateRecord_S_strVersionName";
constexpr wchar_t kDescription[] = L"UpdateRecord_S_strDescription";
constexpr wchar_t kZipFileName[] = L"UpdateRecord_S_strZipFileName";
constexpr wchar_t kExeFileName[] = L"UpdateRecord_S_strExeFileName";
constexpr wchar_t kHash[] = L"UpdateRecord_S_byarHash";
constexpr int kHashSize = 16;
}  // namespace

CUpdateRecordIO::CUpdateRecordIO() = default;
CUpdateRecordIO::~CUpdateRecordIO() = default;

BOOL CUpdateRecordIO::Open(LPCWSTR pszFolder) {
  return OpenOrSaveStore(m_db, m_strFolder, pszFolder, kUpdateRecordFileName, kUpdateRecordID,
                         StoreAction::Open);
}

BOOL CUpdateRecordIO::Save(LPCWSTR pszFolder) {
  return OpenOrSaveStore(m_db, m_strFolder, pszFolder, kUpdateRecordFileName, kUpdateRecordID,
                         StoreAction::Save);
}

BOOL CUpdateRecordIO::GetScheduleInstallation(const std::wstring& strModuleType, BOOL& bSchedule) {
  m_db.SetSection(strModuleType.c_str());
  return m_db.ReadBool(kScheduleInstallation, bSchedule);
}

BOOL CUpdateRecordIO::SetScheduleInstallation(const std::wstring& strModuleType, BOOL bSchedule) {
  m_db.SetSection(strModuleType.c_str());
  return m_db.WriteBool(kScheduleInstallation, bSchedule);
}

BOOL CUpdateRecordIO::GetCrisisPack(const std::wstring& strModuleType, BOOL& bCrisisPack) {
  m_db.SetSection(strModuleType.c_str());
  return m_db.ReadBool(kCrisisPack, bCrisisPack);
}

BOOL CUpdateRecordIO::GetVersion(const std::wstring& strModuleType, DWORD& dwVersion,
                                 WORD& wPatchNum, WORD& wBuildNum) {
  m_db.SetSection(strModuleType.c_str());
  return m_db.ReadInt(kVersion, dwVersion) && m_db.ReadWord(kPatchNum, wPatchNum) &&
         m_db.ReadWord(kBuildNum, wBuildNum);
}

BOOL CUpdateRecordIO::GetRecord(BOOL& bCrisisPack, std::wstring& strModuleType, DWORD& dwVersion,
                                WORD& wPatchNum, WORD& wBuildNum, std::wstring& strVersionName,
                                std::wstring& strDescription, std::wstring& strZipFileName,
                                std::wstring& strExeFileName, BYTE* byarHash) {
  m_db.SetSection(strModuleType.c_str());
  return m_db.ReadBool(kCrisisPack, bCrisisPack) && m_db.ReadString(kModuleType, strModuleType) &&
         m_db.ReadInt(kVersion, dwVersion) && m_db.ReadWord(kPatchNum, wPatchNum) &&
         m_db.ReadWord(kBuildNum, wBuildNum) && m_db.ReadString(kVersionName, strVersionName) &&
         m_db.ReadString(kDescription, strDescription) &&
         m_db.ReadString(kZipFileName, strZipFileName) &&
         m_db.ReadString(kExeFileName, strExeFileName) &&
         m_db.ReadBytes(kHash, byarHash, kHashSize);
}
