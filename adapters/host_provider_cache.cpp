// The host service providers kept per apartment, and obtaining a host object through one.
#include "adapters/host_provider_cache.h"

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
  cachedProvider = provider;  // the caller's reference from now on
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

void HostProviderCache::ForgetEndedThreads() {
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    if (it->thread && WaitForSingleObject(it->thread.get(), 0) == WAIT_OBJECT_0) {
      // Its apartment ended with the thread: a call would reach an object that has no
      // apartment any more, so the pointer is left as it is.
      it = m_entries.erase(it);
    } else {
      ++it;
    }
  }
}

IHostServiceProvider* HostProviderCache::Find(APTTYPE kind, DWORD threadId) const {
  for (const Entry& entry : m_entries)
    if (entry.kind == kind && entry.threadId == threadId) return entry.provider;
  return nullptr;
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
    if ((*ppProvider = Find(kind, threadId)) != nullptr) return S_OK;
  }

  // Created outside the lock: the host's factory runs code of its own. What is not kept below
  // is released here, in its own apartment, which is this one.
  Entry made{kind, threadId, UniqueKernelHandle(), nullptr};
  Microsoft::WRL::ComPtr<IHostServiceProvider> provider;
  hr = ObtainHostProvider(*provider.GetAddressOf());
  if (FAILED(hr)) return hr;
  if (threadId != 0) {
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                         SYNCHRONIZE, FALSE, 0)) {
      const DWORD error = GetLastError();
      return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    made.thread.reset(thread);
  }
  made.provider = provider.Get();
  IHostServiceProvider* kept = Keep(std::move(made));
  if (kept == nullptr) return E_OUTOFMEMORY;
  if (kept == provider.Get()) provider.Detach();  // the entry's reference now
  *ppProvider = kept;
  return S_OK;
}

IHostServiceProvider* HostProviderCache::Keep(Entry&& made) {
  ExclusiveLock hold(m_lock);
  if (IHostServiceProvider* quicker = Find(made.kind, made.threadId)) return quicker;
  try {
    m_entries.push_back(std::move(made));  // on failure nothing is moved: `made` still owns all
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return m_entries.back().provider;
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
