// A fake COM object whose method table is a row of generic slots: every slot records its own
// position and its first three arguments, so a test sees where a declared method really lands.
// Slots 0 to 2 also act as QueryInterface, AddRef and Release (the count is only counted: the
// object belongs to the test). A slot may hand out another object through its first argument.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <array>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace testing_support {

struct SlotCall {
  int slot;
  uintptr_t a1, a2, a3;
};

class SlotRecorder {
 public:
  static constexpr int kSlots = 300;  // beyond the highest position in use (284)

  explicit SlotRecorder(REFIID iid) : vtbl_(Table().data()), iid_(iid) {}
  SlotRecorder(const SlotRecorder&) = delete;
  SlotRecorder& operator=(const SlotRecorder&) = delete;

  // This object seen through a declared interface.
  template <typename Interface>
  Interface* As() {
    return reinterpret_cast<Interface*>(this);
  }
  IUnknown* Unknown() { return As<IUnknown>(); }

  // The result of a slot (S_OK unless set).
  void SetResult(int slot, HRESULT hr) { results_[slot] = hr; }
  // The slot stores `object` (with a new reference) into the IUnknown** of its first argument.
  void HandOut(int slot, SlotRecorder* object) { handOuts_[slot] = object; }

  // Calls at positions 3 and up, in order.
  const std::vector<SlotCall>& calls() const { return calls_; }
  std::vector<int> slots() const {
    std::vector<int> result;
    for (const SlotCall& call : calls_) result.push_back(call.slot);
    return result;
  }
  void ClearCalls() { calls_.clear(); }
  LONG refs() const { return refs_; }

 private:
  using Slot = HRESULT(STDMETHODCALLTYPE*)(SlotRecorder*, uintptr_t, uintptr_t, uintptr_t);

  template <int I>
  static HRESULT STDMETHODCALLTYPE Thunk(SlotRecorder* self, uintptr_t a1, uintptr_t a2,
                                         uintptr_t a3) {
    return self->OnCall(I, a1, a2, a3);
  }
  template <int... I>
  static constexpr std::array<Slot, sizeof...(I)> MakeTable(std::integer_sequence<int, I...>) {
    return {&Thunk<I>...};
  }
  static const std::array<Slot, kSlots>& Table() {
    static constexpr std::array<Slot, kSlots> table = MakeTable(std::make_integer_sequence<int, kSlots>());
    return table;
  }

  HRESULT OnCall(int slot, uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    switch (slot) {
      case 0: {  // QueryInterface(REFIID, void**)
        const IID& riid = *reinterpret_cast<const IID*>(a1);
        void** ppv = reinterpret_cast<void**>(a2);
        if (riid == IID_IUnknown || riid == iid_) {
          *ppv = this;
          ++refs_;
          return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      case 1: return ++refs_;  // AddRef
      case 2: return --refs_;  // Release
    }
    calls_.push_back({slot, a1, a2, a3});
    auto handOut = handOuts_.find(slot);
    if (handOut != handOuts_.end() && a1 != 0) {
      *reinterpret_cast<IUnknown**>(a1) = handOut->second->Unknown();
      ++handOut->second->refs_;
    }
    auto result = results_.find(slot);
    return result == results_.end() ? S_OK : result->second;
  }

  const Slot* vtbl_;  // first: the object's method table pointer
  IID iid_;
  LONG refs_ = 1;
  std::vector<SlotCall> calls_;
  std::map<int, HRESULT> results_;
  std::map<int, SlotRecorder*> handOuts_;
};

}  // namespace testing_support
