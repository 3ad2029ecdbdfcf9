// Update data folder names.
#include "store/update_folders.h"

#include <windows.h>
#include <bcrypt.h>
#include <shlobj.h>

#include "base/folders.h"
#include "base/handles.h"
#include "base/text.h"

namespace {

constexpr wchar_t kUpdaterName[] = L"CadenzaUpdate";
constexpr wchar_t kCurrentFolder[] = L".\\";
constexpr UINT kMaxPathChars = 260;

// AppData\CadenzaUpdate\ + the hashed name of the updater's folder + backslash.
std::wstring UpdateDataFolderFor(const std::wstring& updaterFolder) {
  std::wstring key = LowerAscii(updaterFolder + kUpdaterName);
  return GetAppDataFolder() + kUpdaterName + L"\\" + GetMD5HexName(key.c_str()) + L"\\";
}

// The last text hashed and its name. Every check of a host asks for the folder of the same
// installation, so the hash is made once per process and installation.
struct LastName {
  SRWLOCK lock = SRWLOCK_INIT;
  std::wstring text;
  std::wstring name;
};
LastName g_lastMD5Name;

}  // namespace

std::wstring GetAppDataFolder() {
  wchar_t path[kMaxPathChars] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, TRUE) || path[0] == L'\0')
    return kCurrentFolder;
  std::wstring folder = path;
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring GetMD5HexName(LPCWSTR pszText) {
  if (pszText == nullptr) return std::wstring();
  {
    ExclusiveLock hold(g_lastMD5Name.lock);
    if (!g_lastMD5Name.name.empty() && g_lastMD5Name.text == pszText) return g_lastMD5Name.name;
  }
  // The updater hashes as many bytes as the text has characters; the name must match its own.
  const DWORD byteCount = static_cast<DWORD>(wcslen(pszText));
  // MD5 through the platform's primitive provider (CNG): opening its algorithm costs less than
  // the hash, where a CryptoAPI context would load and initialise a whole provider DLL and read
  // its registration first (milliseconds in a fresh process). Nothing is kept between calls,
  // so nothing is left to release when the library goes.
  BCRYPT_ALG_HANDLE openedAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&openedAlgorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
    return std::wstring();
  UniqueHashAlgorithm algorithm(openedAlgorithm);
  BCRYPT_HASH_HANDLE createdHash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), &createdHash, nullptr, 0, nullptr, 0, 0)))
    return std::wstring();
  UniqueHash hash(createdHash);
  if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(pszText)),
                                     byteCount, 0)))
    return std::wstring();
  BYTE digest[16] = {};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0))) return std::wstring();
  std::wstring name;
  BytesToHexString(name, digest, sizeof(digest));
  ExclusiveLock hold(g_lastMD5Name.lock);
  g_lastMD5Name.text = pszText;
  g_lastMD5Name.name = name;
  return name;
}

std::wstring GetDefaultUpdateDataFolder() { return UpdateDataFolderFor(GetModuleFolder()); }

std::wstring GetUpdateDataFolder(LPCWSTR pszUpdaterPath) {
  if (pszUpdaterPath == nullptr || pszUpdaterPath[0] == L'\0')
    return UpdateDataFolderFor(GetModuleFolder());
  return UpdateDataFolderFor(FolderOf(pszUpdaterPath));
}
