// The component's own way to the host's objects: the host service provider kept per apartment
// and the procedure that obtains one host object through it. Not part of what a host sees.
#pragma once
#include <windows.h>

#include <vector>

#include "base/handles.h"
#include "player_api/host_services.h"

// The provider's creating operations, by their position in its method table.
enum class HostObject { Settings = 4, AppControl = 10, SkinWindow = 11, UpgradeHost = 33 };

// Creates the provider into `cachedProvider` when it is still NULL (nothing is cached on failure).
// The reference cached is the caller's to release; this never releases it. S_OK when a provider
// is cached.
HRESULT ObtainHostProvider(IHostServiceProvider*& cachedProvider);

// Obtains one host object: creates the provider into `cachedProvider` when it is still NULL
// (as ObtainHostProvider does; the pointer is not released here), calls the creating operation,
// and queries what it returned for `riid` into *ppv. The result is the creating operation's
// HRESULT (or the provider's creation failure); callers treat a failure and a NULL *ppv alike.
HRESULT ObtainHostObject(IHostServiceProvider*& cachedProvider, HostObject which, REFIID riid,
                         void** ppv);

template <typename Interface>
HRESULT ObtainHostObject(IHostServiceProvider*& cachedProvider, HostObject which, Interface** pp) {
  return ObtainHostObject(cachedProvider, which, __uuidof(Interface), reinterpret_cast<void**>(pp));
}

// Host service providers kept one per COM apartment: a provider (and every object it hands
// out) is called only from the apartment in which it was created, so a player that uses the
// component from a second single-threaded apartment gets a provider of that apartment. A
// player with one thread keeps one provider. A provider whose apartment's thread has ended is
// forgotten without a call (its apartment is gone; the pointer is left, not released); a
// thread that later gets the same id gets a provider of its own.
class HostProviderCache {
 public:
  HostProviderCache() = default;
  ~HostProviderCache() = default;  // forgets the providers without calling them (also under the loader lock)
  HostProviderCache(const HostProviderCache&) = delete;
  HostProviderCache& operator=(const HostProviderCache&) = delete;

  // The calling apartment's provider, created when it has none (nothing is kept on failure).
  // The pointer is borrowed: it stays valid while this apartment exists.
  HRESULT Get(IHostServiceProvider** ppProvider);

  // When nothing of the component lives any more and the library may go: the calling
  // apartment's provider is released (a call in its own apartment). True when no provider is
  // kept afterwards; false while another apartment that still lives keeps one, which cannot be
  // released from here, so the library must stay.
  bool ReleaseForUnload();

 private:
  struct Entry {
    APTTYPE kind;    // single-threaded, multithreaded or neutral
    DWORD threadId;  // a single-threaded apartment's thread; 0 for the process-wide apartments
    UniqueKernelHandle thread;  // that thread, to notice its end (none for the process-wide ones)
    IHostServiceProvider* provider;  // the entry's reference
  };
  // Under the lock: drops the entries of threads that have ended; their providers are not called.
  void ForgetEndedThreads();
  // Under the lock: the provider kept for an apartment, or NULL.
  IHostServiceProvider* Find(APTTYPE kind, DWORD threadId) const;
  // The provider the apartment of `made` keeps: a quicker thread's of the same apartment (then
  // `made` is left as it was), else `made`'s once it is kept. NULL when there is no room for it.
  IHostServiceProvider* Keep(Entry&& made);

  SRWLOCK m_lock = SRWLOCK_INIT;
  std::vector<Entry> m_entries;
};

// Obtains one host object as above, through the provider of the calling apartment.
HRESULT ObtainHostObject(HostProviderCache& cache, HostObject which, REFIID riid, void** ppv);

template <typename Interface>
HRESULT ObtainHostObject(HostProviderCache& cache, HostObject which, Interface** pp) {
  return ObtainHostObject(cache, which, __uuidof(Interface), reinterpret_cast<void**>(pp));
}
