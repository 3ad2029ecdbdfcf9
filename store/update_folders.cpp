// Update data folder names and hex text.
#include "store/update_folders.h"

#include <shlobj.h>
#include <wincrypt.h>


#include "store/handles.h"
#include "store/text.h"

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
// installation, and a CryptoAPI context costs many times the rest of a record lookup: each
// acquisition loads the provider's DLL again and reads its registration.
struct LastName {
  SRWLOCK lock = SRWLOCK_INIT;
  std::wstring text;
  std::wstring name;
};
LastName g_lastMD5Name;

struct CryptProvider {
  HCRYPTPROV h = 0;
  ~CryptProvider() { if (h) CryptReleaseContext(h, 0); }
};
struct CryptHash {
  HCRYPTHASH h = 0;
  ~CryptHash() { if (h) CryptDestroyHash(h); }
};

}  // namespace

std::wstring GetModuleFolder() {
  wchar_t path[kMaxPathChars] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, kMaxPathChars);
  if (n == 0) return kCurrentFolder;
  return FolderOf(std::wstring(path, n < kMaxPathChars ? n : kMaxPathChars - 1));
}

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

BOOL HexStringToBytes(BYTE* pOut, std::wstring& strHex, UINT nCapacity) {
  const size_t n = strHex.size();
  for (wchar_t& c : strHex)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  if (n == 0 || n % 2 != 0 || n / 2 > nCapacity || pOut == nullptr) return FALSE;
  for (wchar_t c : strHex)
    if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return FALSE;
  auto value = [](wchar_t c) { return c >= L'A' ? c - 55 : c - 48; };
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
  CryptProvider provider;
  CryptHash hash;
  if (!CryptAcquireContextW(&provider.h, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return std::wstring();
  if (!CryptCreateHash(provider.h, CALG_MD5, 0, 0, &hash.h)) return std::wstring();
  if (!CryptHashData(hash.h, reinterpret_cast<const BYTE*>(pszText), byteCount, 0))
    return std::wstring();
  BYTE digest[16] = {};
  DWORD digestSize = sizeof(digest);
  if (!CryptGetHashParam(hash.h, HP_HASHVAL, digest, &digestSize, 0) || digestSize != sizeof(digest))
    return std::wstring();
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
