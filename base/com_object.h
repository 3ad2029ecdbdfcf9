// The IUnknown of a plain heap COM object: one interface (and the interfaces it derives from,
// answered with the same pointer), an interlocked count, deleted at zero. Objects that are
// aggregated, delegate their count to an owner, live in static storage, or count references on
// purpose (test doubles) write their own.
#pragma once
#include <windows.h>
#include <unknwn.h>

template <typename Interface, typename... AlsoAnswers>
class ComObject : public Interface {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == __uuidof(Interface) || ((riid == __uuidof(AlsoAnswers)) || ...)) {
      *ppv = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  LONG refs_ = 1;
};
