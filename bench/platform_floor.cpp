// The floor of a record lookup: the unavoidable platform calls, made directly.
#include "bench/platform_floor.h"

#include <shlobj.h>
#include <bcrypt.h>
#include <wincrypt.h>

namespace bench {

namespace {

constexpr wchar_t kUpdaterName[] = L"CadenzaUpdate";
constexpr wchar_t kRecordFileName[] = L"CadenzaUpdate.ini";
constexpr wchar_t kMissingString[] = L"NULL_STRING";
constexpr DWORD kReadChars = 1024;

}  // namespace

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

bool Md5OfKey(BCRYPT_ALG_HANDLE algorithm, const std::wstring& key, BYTE (&digest)[16]) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (algorithm == nullptr || !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
    return false;
  const bool ok =
      BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(key.c_str())),
                                    static_cast<ULONG>(key.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  BCryptDestroyHash(hash);
  return ok;
}

const char* FloorPartName(FloorPart part) {
  switch (part) {
    case kAppData: return "SHGetSpecialFolderPathW";
    case kMd5: return "MD5 (CNG)";
    case kProbe: return "folder probe";
    case kOpen: return "record open";
    case kReads: return "profile reads";
    default: return "?";
  }
}

std::wstring HexOf(const BYTE* bytes, size_t n) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (size_t i = 0; i < n; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

PlatformFloor::PlatformFloor(const std::wstring& updaterFolder, const std::wstring& section,
                             std::vector<ProfileRead> reads)
    : key_(Lower(updaterFolder + kUpdaterName)),
      section_(section),
      reads_(std::move(reads)),
      buffer_(kReadChars) {
  BeginBlock();
  wchar_t path[MAX_PATH] = {};
  if (SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, TRUE)) appData_ = path;
  if (!appData_.empty() && appData_.back() != L'\\') appData_ += L'\\';
  BYTE digest[16] = {};
  if (HashKey(digest))
    folder_ = appData_ + kUpdaterName + L"\\" + HexOf(digest, sizeof digest) + L"\\";
  for (size_t slash = folder_.find(L'\\'); slash != std::wstring::npos;
       slash = folder_.find(L'\\', slash + 1))
    prefixes_.push_back(folder_.substr(0, slash));
  recordPath_ = folder_ + kRecordFileName;
  EndBlock();
}

PlatformFloor::~PlatformFloor() { EndBlock(); }

bool PlatformFloor::BeginBlock() {
  if (md5_ != nullptr) return true;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&md5_, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
    md5_ = nullptr;
  return md5_ != nullptr;
}

void PlatformFloor::EndBlock() {
  if (md5_ != nullptr) BCryptCloseAlgorithmProvider(md5_, 0);
  md5_ = nullptr;
}

double OpenAlgorithmMicroseconds() {
  const double t = NowMicroseconds();
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
    return 0;
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return NowMicroseconds() - t;
}

double AcquireContextMicroseconds() {
  const double t = NowMicroseconds();
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return 0;
  CryptReleaseContext(provider, 0);
  return NowMicroseconds() - t;
}

size_t PlatformFloor::IntReads() const {
  size_t n = 0;
  for (const ProfileRead& read : reads_) n += read.kind == ProfileRead::Int;
  return n;
}

size_t PlatformFloor::StringReads() const { return reads_.size() - IntReads(); }

bool PlatformFloor::HashKey(BYTE (&digest)[16]) const { return Md5OfKey(md5_, key_, digest); }

bool PlatformFloor::Run(Samples* parts) {
  bool ok = !folder_.empty();
  double t = NowMicroseconds();
  auto lap = [&](FloorPart part) {
    double now = NowMicroseconds();
    if (parts != nullptr) parts[part].Add(now - t);
    t = now;
  };

  wchar_t appData[MAX_PATH] = {};
  ok = SHGetSpecialFolderPathW(nullptr, appData, CSIDL_APPDATA, TRUE) && ok;
  lap(kAppData);

  BYTE digest[16];
  ok = HashKey(digest) && ok;
  lap(kMd5);

  for (const std::wstring& prefix : prefixes_) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    ok = GetFileAttributesExW(prefix.c_str(), GetFileExInfoStandard, &data) &&
         (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ok;
  }
  lap(kProbe);

  HANDLE file = CreateFileW(recordPath_.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ok = false;
  else CloseHandle(file);
  lap(kOpen);

  values_.resize(reads_.size());
  for (size_t i = 0; i < reads_.size(); ++i) {
    const ProfileRead& read = reads_[i];
    if (read.kind == ProfileRead::Int) {
      UINT value = GetPrivateProfileIntW(section_.c_str(), read.key.c_str(), -1,
                                         recordPath_.c_str());
      values_[i].assign(std::to_wstring(value));
    } else {
      DWORD n = GetPrivateProfileStringW(section_.c_str(), read.key.c_str(), kMissingString,
                                         buffer_.data(), kReadChars, recordPath_.c_str());
      values_[i].assign(buffer_.data(), n);
    }
  }
  lap(kReads);

  // Outside the timed parts: the floor must have found the folder the component uses.
  return ok && HexOf(digest, sizeof digest) ==
                   folder_.substr(folder_.size() - 33, 32);
}

}  // namespace bench
