// A fake COM object whose method table is a row of generic slots: every slot records its own
// position and its arguments (up to three), so a test sees where a declared method really lands.
// Slots 0 to 2 also act as QueryInterface, AddRef and Release (the count is only counted: the
// object belongs to the test). A slot may hand out another object through its first argument.
// COM methods are __stdcall: on 32-bit x86 the callee removes its arguments from the stack, so
// each slot must take exactly as many as the declared method. A slot takes one argument unless
// the test says otherwise with SetArgumentCount (0 to 3).
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

  explicit SlotRecorder(REFIID iid) : iid_(iid) {
    vtbl_ = table_.data();
    table_ = Table<1>();
    table_[0] = Table<2>()[0];  // QueryInterface(REFIID, void**)
    table_[1] = Table<0>()[1];  // AddRef()
    table_[2] = Table<0>()[2];  // Release()
  }
  SlotRecorder(const SlotRecorder&) = delete;
  SlotRecorder& operator=(const SlotRecorder&) = delete;

  // The method at `slot` takes `count` arguments (0 to 3) besides the object.
  void SetArgumentCount(int slot, int count) {
    switch (count) {
      case 0: table_[slot] = Table<0>()[slot]; break;
      case 1: table_[slot] = Table<1>()[slot]; break;
      case 2: table_[slot] = Table<2>()[slot]; break;
      default: table_[slot] = Table<3>()[slot]; break;
    }
  }

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
  // Stored in the method table; each entry is called through its real signature.
  using Slot = void (*)();

  template <int I>
  static HRESULT STDMETHODCALLTYPE Thunk0(SlotRecorder* self) {
    return self->OnCall(I, 0, 0, 0);
  }
  template <int I>
  static HRESULT STDMETHODCALLTYPE Thunk1(SlotRecorder* self, uintptr_t a1) {
    return self->OnCall(I, a1, 0, 0);
  }
  template <int I>
  static HRESULT STDMETHODCALLTYPE Thunk2(SlotRecorder* self, uintptr_t a1, uintptr_t a2) {
    return self->OnCall(I, a1, a2, 0);
  }
  template <int I>
  static HRESULT STDMETHODCALLTYPE Thunk3(SlotRecorder* self, uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    return self->OnCall(I, a1, a2, a3);
  }
  template <int I, int N>
  static Slot Thunk() {
    if constexpr (N == 0) return reinterpret_cast<Slot>(&Thunk0<I>);
    else if constexpr (N == 1) return reinterpret_cast<Slot>(&Thunk1<I>);
    else if constexpr (N == 2) return reinterpret_cast<Slot>(&Thunk2<I>);
    else return reinterpret_cast<Slot>(&Thunk3<I>);
  }
  template <int N, int... I>
  static std::array<Slot, sizeof...(I)> MakeTable(std::integer_sequence<int, I...>) {
    return {Thunk<I, N>()...};
  }
  // The slots that take N arguments.
  template <int N>
  static const std::array<Slot, kSlots>& Table() {
    static const std::array<Slot, kSlots> table = MakeTable<N>(std::make_integer_sequence<int, kSlots>());
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

  const Slot* vtbl_ = nullptr;  // first: the object's method table pointer
  std::array<Slot, kSlots> table_;
  IID iid_;
  LONG refs_ = 1;
  std::vector<SlotCall> calls_;
  std::map<int, HRESULT> results_;
  std::map<int, SlotRecorder*> handOuts_;
};

}  // namespace testing_support
