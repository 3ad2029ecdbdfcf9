// Update data folder names and hex text.
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

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

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

BOOL BytesToHexString(std::wstring& strOut, const BYTE* pData, UINT nLen) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  strOut.assign(static_cast<size_t>(nLen) * 2, L'0');
  for (UINT i = 0; i < nLen; ++i) {
    strOut[2 * i] = kDigits[pData[i] >> 4];
    strOut[2 * i + 1] = kDigits[pData[i] & 0x0F];
  }
  return TRUE;
}

BOOL HexStringToBytes(BYTE* pOut, const std::wstring& strHex, UINT nCapacity) {
  const size_t n = strHex.size();
  if (n == 0 || n % 2 != 0 || n / 2 > nCapacity || pOut == nullptr) return FALSE;
  auto isHex = [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
  };
  for (wchar_t c : strHex)
    if (!isHex(c)) return FALSE;
  auto value = [](wchar_t c) { return c >= L'a' ? c - L'a' + 10 : c >= L'A' ? c - L'A' + 10 : c - L'0'; };
  for (size_t i = 0; i < n / 2; ++i)
    pOut[i] = static_cast<BYTE>(16 * value(strHex[2 * i]) + value(strHex[2 * i + 1]));
  return TRUE;
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
