// The reference skin engine's accessibility: the drawn elements of a skinned window, exposed to
// accessibility clients (MSAA) as simple children of the window's client object.
#pragma once
#include <windows.h>
#include <oleacc.h>

#include <string>

namespace skin {

// What the accessible object asks of the skin window that draws hWnd; elements are numbered
// from 0 and keep their numbers while the skin is loaded.
class AccessibleElements {
 public:
  virtual size_t ElementCount() const = 0;
  virtual std::wstring ElementName(size_t index) const = 0;
  virtual LONG ElementRole(size_t index) const = 0;
  virtual LONG ElementState(size_t index) const = 0;
  virtual RECT ElementRect(size_t index) const = 0;  // client coordinates
  virtual bool DoElementDefault(size_t index) = 0;    // as a click; false when it has none

 protected:
  ~AccessibleElements() = default;
};

// The skin window drawing hWnd, or NULL once it is unbound.
using ElementsLookup = AccessibleElements* (*)(HWND hWnd);

// The answer to WM_GETOBJECT for OBJID_CLIENT: an object that asks lookup(hWnd) on every call
// (so that it outlives the skin safely) and hands everything else, the window's own child
// windows among it, to the system's standard client object.
LRESULT AnswerGetObject(HWND hWnd, WPARAM wParam, ElementsLookup lookup);

}  // namespace skin
