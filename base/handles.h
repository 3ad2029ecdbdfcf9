// Move-only owners of Win32 handles: one template, a traits type per kind of handle.
#pragma once
#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept : h_(Traits::Invalid()) {}
  explicit UniqueHandle(Handle h) noexcept : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::Invalid(); }

  Handle release() noexcept { return std::exchange(h_, Traits::Invalid()); }

  // Closing keeps the caller's last-error value, so a failure can be reported after cleanup.
  void reset(Handle h = Traits::Invalid()) noexcept {
    if (h_ != Traits::Invalid()) {
      DWORD saved = GetLastError();
      Traits::Close(h_);
      SetLastError(saved);
    }
    h_ = h;
  }

 private:
  Handle h_;
};

struct FileHandleTraits {  // CreateFileW: INVALID_HANDLE_VALUE means none
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { CloseHandle(h); }
};
struct KernelHandleTraits {  // processes, threads, mappings: NULL means none
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CloseHandle(h); }
};
struct ViewTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { UnmapViewOfFile(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { FreeLibrary(h); }
};
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { DeleteObject(h); }
};

struct HashAlgorithmTraits {  // BCryptOpenAlgorithmProvider
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {  // BCryptCreateHash
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptDestroyHash(h); }
};

struct BstrTraits {  // SysAllocString and its kin; NULL is also what a failed allocation gives
  using Handle = BSTR;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { SysFreeString(h); }
};

using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueView = UniqueHandle<ViewTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueHashAlgorithm = UniqueHandle<HashAlgorithmTraits>;
using UniqueHash = UniqueHandle<HashTraits>;
using UniqueBstr = UniqueHandle<BstrTraits>;

// Holds a slim reader/writer lock exclusively for its scope. The component's locks are the
// platform's own: an SRWLOCK needs no initialisation call and no clean-up, so a lock in a global
// costs nothing at load or unload and is safe to take from any thread, also during DllMain.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};
