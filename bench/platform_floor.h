// The platform calls that a record lookup cannot do without, made directly, once each, in the
// order the component makes them: the AppData lookup, the MD5 of the folder key through the
// platform's primitive provider (CNG), the probe of every folder on the way to the update data
// folder, one open of the record file, and the profile reads of the same keys. Its time is the
// floor a lookup is measured against. The MD5 algorithm is opened before a block of runs and
// closed after it, outside the timed part, as a caller that hashes again and again would keep
// it: opening the algorithm is not part of hashing.
#pragma once
#include <windows.h>
#include <bcrypt.h>

#include <string>
#include <vector>

#include "bench/bench_clock.h"

namespace bench {

// The folder key with its ASCII letters in lower case, as the updater hashes it.
std::wstring Lower(std::wstring text);
// Bytes as upper-case hex digits.
std::wstring HexOf(const BYTE* bytes, size_t n);
// One MD5 through the open algorithm: a hash object, the key's bytes (as many as it has
// characters, as the updater names its folder), the value.
bool Md5OfKey(BCRYPT_ALG_HANDLE algorithm, const std::wstring& key, BYTE (&digest)[16]);

struct ProfileRead {
  enum Kind { Int, String } kind;
  std::wstring key;
};

enum FloorPart { kAppData, kMd5, kProbe, kOpen, kReads, kFloorPartCount };
const char* FloorPartName(FloorPart part);

class PlatformFloor {
 public:
  // updaterFolder: the folder of CadenzaUpdate.exe, ending in a backslash; section: the module
  // type text; reads: the profile reads in the component's order.
  PlatformFloor(const std::wstring& updaterFolder, const std::wstring& section,
                std::vector<ProfileRead> reads);
  ~PlatformFloor();
  PlatformFloor(const PlatformFloor&) = delete;
  PlatformFloor& operator=(const PlatformFloor&) = delete;

  // Opens and closes the MD5 algorithm that the runs between them hash with.
  bool BeginBlock();
  void EndBlock();

  // Makes the calls once and adds each part's time to parts (may be null). False when a call
  // failed or gave another folder name than the one found at construction.
  bool Run(Samples* parts = nullptr);

  const std::wstring& RecordPath() const { return recordPath_; }
  size_t ProbeCount() const { return prefixes_.size(); }
  size_t IntReads() const;
  size_t StringReads() const;
  // The last values read, as text, for checking them against the component's results.
  const std::vector<std::wstring>& LastValues() const { return values_; }

 private:
  bool HashKey(BYTE (&digest)[16]) const;

  BCRYPT_ALG_HANDLE md5_ = nullptr;
  std::wstring key_;           // lower-cased updater folder + "cadenzaupdate"
  std::wstring appData_;       // as found at construction, with a trailing backslash
  std::wstring folder_;        // AppData\CadenzaUpdate\NAME\ .
  std::vector<std::wstring> prefixes_;  // every folder on the way, without its backslash
  std::wstring recordPath_;
  std::wstring section_;
  std::vector<ProfileRead> reads_;
  std::vector<std::wstring> values_;
  std::vector<wchar_t> buffer_;
};

// What opening the MD5 algorithm costs: opened and closed, as the component does per hash.
double OpenAlgorithmMicroseconds();
// What a CryptoAPI context costs: acquiring a verify-only context and releasing it.
double AcquireContextMicroseconds();

// Upper-case hex of a digest.
std::wstring HexOf(const BYTE* bytes, size_t n);

}  // namespace bench
