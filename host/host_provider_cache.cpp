// The host service providers kept per apartment, and obtaining a host object through one.
#include "host/host_provider_cache.h"

#include <wrl/client.h>

#include <new>

#include "base/handles.h"

namespace {

// The calling thread's apartment: its kind, and the thread for a single-threaded one (the
// multithreaded and the neutral apartment are one each per process).
HRESULT CurrentApartment(APTTYPE& kind, DWORD& threadId) {
  Microsoft::WRL::ComPtr<IComThreadingInfo> info;
  HRESULT hr = CoGetObjectContext(IID_IComThreadingInfo, reinterpret_cast<void**>(info.GetAddressOf()));
  if (FAILED(hr)) return hr;
  if (!info) return E_UNEXPECTED;
  hr = info->GetCurrentApartmentType(&kind);
  if (FAILED(hr)) return hr;
  if (kind == APTTYPE_MAINSTA) kind = APTTYPE_STA;
  threadId = kind == APTTYPE_STA ? GetCurrentThreadId() : 0;
  return S_OK;
}

}  // namespace

HRESULT ObtainHostProvider(IHostServiceProvider*& cachedProvider) {
  if (cachedProvider != nullptr) return S_OK;
  IHostServiceProvider* provider = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_HostServiceProvider, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                    CLSCTX_REMOTE_SERVER,
                                IID_IHostServiceProvider, reinterpret_cast<void**>(&provider));
  if (FAILED(hr)) return hr;
  if (provider == nullptr) return E_FAIL;
  cachedProvider = provider;  // kept for the life of the process, never released
  return S_OK;
}

HRESULT ObtainHostObject(IHostServiceProvider*& cachedProvider, HostObject which, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  HRESULT hr = ObtainHostProvider(cachedProvider);
  if (FAILED(hr)) return hr;

  IUnknown* created = nullptr;
  hr = E_FAIL;
  switch (which) {
    case HostObject::Settings: hr = cachedProvider->CreateSettings(&created); break;
    case HostObject::AppControl: hr = cachedProvider->CreateAppControl(&created); break;
    case HostObject::SkinWindow: hr = cachedProvider->CreateSkinWindow(&created); break;
    case HostObject::UpgradeHost: hr = cachedProvider->GetUpgradeHost(&created); break;
  }
  if (created != nullptr) {
    if (SUCCEEDED(hr)) created->QueryInterface(riid, ppv);
    created->Release();  // also what a failing host handed back anyway
  }
  return hr;
}

HostProviderCache::~HostProviderCache() {
  for (Entry& entry : m_entries)
    if (entry.thread != nullptr) CloseHandle(entry.thread);
}

void HostProviderCache::ForgetEndedThreads() {
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    if (it->thread != nullptr && WaitForSingleObject(it->thread, 0) == WAIT_OBJECT_0) {
      // Its apartment ended with the thread: a call would reach an object that has no
      // apartment any more, so the pointer is left as it is.
      CloseHandle(it->thread);
      it = m_entries.erase(it);
    } else {
      ++it;
    }
  }
}

HRESULT HostProviderCache::Get(IHostServiceProvider** ppProvider) {
  if (ppProvider == nullptr) return E_POINTER;
  *ppProvider = nullptr;
  APTTYPE kind = APTTYPE_CURRENT;
  DWORD threadId = 0;
  HRESULT hr = CurrentApartment(kind, threadId);
  if (FAILED(hr)) return hr;
  {
    ExclusiveLock hold(m_lock);
    ForgetEndedThreads();
    for (const Entry& entry : m_entries) {
      if (entry.kind == kind && entry.threadId == threadId) {
        *ppProvider = entry.provider;
        return S_OK;
      }
    }
    m_entries.reserve(m_entries.size() + 1);  // so that a new provider is never lost below
  }

  // Created outside the lock: the host's factory runs code of its own.
  IHostServiceProvider* provider = nullptr;
  hr = ObtainHostProvider(provider);
  if (FAILED(hr)) return hr;
  HANDLE thread = nullptr;
  if (threadId != 0 && !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                        &thread, SYNCHRONIZE, FALSE, 0)) {
    const DWORD error = GetLastError();
    provider->Release();  // in its own apartment, which is this one
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }

  IHostServiceProvider* kept = nullptr;
  {
    ExclusiveLock hold(m_lock);
    for (const Entry& entry : m_entries)
      if (entry.kind == kind && entry.threadId == threadId) kept = entry.provider;  // a quicker thread
    if (kept == nullptr && m_entries.size() == m_entries.capacity()) {
      try {
        m_entries.reserve(m_entries.size() + 1);  // another apartment took the room made above
      } catch (const std::bad_alloc&) {
      }
    }
    if (kept == nullptr && m_entries.size() < m_entries.capacity()) {
      m_entries.push_back(Entry{kind, threadId, thread, provider});
      kept = provider;
    }
  }
  if (kept != provider) {  // not kept: released in its own apartment, which is this one
    if (thread != nullptr) CloseHandle(thread);
    provider->Release();
    if (kept == nullptr) return E_OUTOFMEMORY;
  }
  *ppProvider = kept;
  return S_OK;
}

bool HostProviderCache::ReleaseForUnload() {
  APTTYPE kind = APTTYPE_CURRENT;
  DWORD threadId = 0;
  const bool inApartment = SUCCEEDED(CurrentApartment(kind, threadId));
  IHostServiceProvider* release = nullptr;
  bool empty = false;
  {
    ExclusiveLock hold(m_lock);
    ForgetEndedThreads();
    for (auto it = m_entries.begin(); inApartment && it != m_entries.end(); ++it) {
      if (it->kind == kind && it->threadId == threadId) {
        release = it->provider;
        if (it->thread != nullptr) CloseHandle(it->thread);
        m_entries.erase(it);
        break;
      }
    }
    empty = m_entries.empty();
  }
  if (release != nullptr) release->Release();
  return empty;
}

HRESULT ObtainHostObject(HostProviderCache& cache, HostObject which, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  IHostServiceProvider* provider = nullptr;
  HRESULT hr = cache.Get(&provider);
  if (FAILED(hr)) return hr;
  return ObtainHostObject(provider, which, riid, ppv);
}
