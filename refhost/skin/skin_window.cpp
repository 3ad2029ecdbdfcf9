// The reference skin engine's skin window object. BindWindow subclasses the window;
// LoadSkin reads the document, sizes and clips the window and places its dialog item; from
// then on the subclass paints the elements and turns mouse input into hover, pressed and
// click states, reporting each click as WM_SKINEVENT.
#include "refhost/skin/skin_window.h"

#include <commctrl.h>
#include <oleauto.h>

#include <algorithm>
#include <new>

#include "base/com_object.h"
#include "player_api/host_services.h"
#include "refhost/host_call.h"
#include "refhost/skin/skin_accessible.h"
#include "refhost/skin/skin_document.h"
#include "refhost/skin/skin_renderer.h"

namespace {

const wchar_t kBoundProperty[] = L"CadenzaSkinWindow";  // the object bound to a window
constexpr UINT_PTR kSubclassId = 0x5C1A;
constexpr int kNone = skin::kNoElement;

class SkinWindow final : public ComObject<IHostSkinWindow>, public skin::AccessibleElements {
 public:
  SkinWindow() = default;
  ~SkinWindow() override { Unbind(); }

  // IHostSkinWindow
  HRESULT STDMETHODCALLTYPE BindWindow(HWND hWnd) override;
  HRESULT STDMETHODCALLTYPE PrepareWindow(HWND hWnd) override;
  HRESULT STDMETHODCALLTYPE LoadSkin(HWND hWnd, BSTR bstrSkin, BSTR bstrScript) override;

  // skin::AccessibleElements: the texts, buttons and check boxes that are shown.
  size_t ElementCount() const override { return exposed_.size(); }
  std::wstring ElementName(size_t index) const override;
  LONG ElementRole(size_t index) const override;
  LONG ElementState(size_t index) const override;
  RECT ElementRect(size_t index) const override;
  bool DoElementDefault(size_t index) override;
  static skin::AccessibleElements* Lookup(HWND hWnd);

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  HRESULT Load(BSTR bstrSkin);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

  void Unbind();
  skin::Frame CurrentFrame() const { return {layout_, paintOrder_, checked_, hover_, pressed_}; }
  void Render(HDC dc) { renderer_.Render(dc, CurrentFrame()); }
  void ExcludeChildren(HDC dc) const;
  int HitTest(POINT pt) const;
  void InvalidateElement(int index);
  void Click(int index);

  HWND hwnd_ = nullptr;
  bool prepared_ = false;
  bool loaded_ = false;
  skin::Layout layout_;
  skin::Renderer renderer_;
  std::vector<size_t> paintOrder_;  // element indices, lowest zIndex first, then document order
  std::vector<bool> checked_;       // per element; meaningful for check boxes
  std::vector<size_t> exposed_;     // element indices shown to accessibility clients
  int hover_ = kNone;
  int pressed_ = kNone;
  bool tracking_ = false;
};

HRESULT SkinWindow::BindWindow(HWND hWnd) {
  if (!IsWindow(hWnd)) return E_INVALIDARG;
  if (hwnd_ == hWnd) return S_OK;
  if (hwnd_ != nullptr) return E_UNEXPECTED;  // one window per object
  // One object per window: a window still drawn by another live object is refused.
  if (GetPropW(hWnd, kBoundProperty) != nullptr) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  if (!SetWindowSubclass(hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return E_FAIL;
  SetPropW(hWnd, kBoundProperty, this);
  hwnd_ = hWnd;
  prepared_ = false;
  loaded_ = false;
  return S_OK;
}

HRESULT SkinWindow::PrepareWindow(HWND hWnd) {
  if (hWnd == nullptr || hWnd != hwnd_) return E_UNEXPECTED;
  // The skin paints the client area around the children, which draw themselves: the clip style
  // keeps its paint off ordinary children, WM_PAINT leaves out transparent ones too.
  LONG_PTR style = GetWindowLongPtrW(hWnd, GWL_STYLE);
  SetWindowLongPtrW(hWnd, GWL_STYLE, style | WS_CLIPCHILDREN);
  prepared_ = true;
  return S_OK;
}

HRESULT SkinWindow::LoadSkin(HWND hWnd, BSTR bstrSkin, BSTR bstrScript) {
  (void)bstrScript;  // the reference engine runs no script
  if (hWnd == nullptr || hWnd != hwnd_ || !prepared_) return E_UNEXPECTED;
  if (bstrSkin == nullptr) return E_INVALIDARG;
  return refhost::HostCall([&] { return Load(bstrSkin); });
}

// The document read and applied; what is drawn changes only once the whole layout is read.
HRESULT SkinWindow::Load(BSTR bstrSkin) {
  skin::Layout layout;
  if (!skin::LoadLayout(std::wstring(bstrSkin, SysStringLen(bstrSkin)), layout)) return E_FAIL;

  layout_ = std::move(layout);
  loaded_ = true;
  hover_ = pressed_ = kNone;
  checked_.assign(layout_.elements.size(), false);
  exposed_.clear();
  for (size_t i = 0; i < layout_.elements.size(); ++i) {
    const skin::Element& e = layout_.elements[i];
    const bool namedText = e.kind == skin::ElementKind::Text && e.hasLabel && !e.label.text.empty();
    if (e.visible && (namedText || e.kind == skin::ElementKind::Button ||
                      e.kind == skin::ElementKind::CheckBox))
      exposed_.push_back(i);
  }
  paintOrder_.resize(layout_.elements.size());
  for (size_t i = 0; i < paintOrder_.size(); ++i) paintOrder_[i] = i;
  std::stable_sort(paintOrder_.begin(), paintOrder_.end(), [this](size_t a, size_t b) {
    return layout_.elements[a].zIndex < layout_.elements[b].zIndex;
  });

  SetWindowPos(hwnd_, nullptr, 0, 0, layout_.size.cx, layout_.size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (const skin::Element& e : layout_.elements) {
    if (e.kind != skin::ElementKind::DlgItem) continue;
    HWND item = GetDlgItem(hwnd_, e.itemId);
    if (item == nullptr) continue;
    SetWindowPos(item, nullptr, e.rect.left, e.rect.top, e.rect.right - e.rect.left,
                 e.rect.bottom - e.rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(item, e.visible ? SW_SHOWNA : SW_HIDE);
  }
  renderer_.ApplyClipping(hwnd_, CurrentFrame());
  InvalidateRect(hwnd_, nullptr, FALSE);
  return S_OK;
}

void SkinWindow::Unbind() {
  if (hwnd_ == nullptr) return;
  RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
  if (GetPropW(hwnd_, kBoundProperty) == this) RemovePropW(hwnd_, kBoundProperty);
  if (GetCapture() == hwnd_ && pressed_ != kNone) ReleaseCapture();
  hwnd_ = nullptr;
  prepared_ = loaded_ = false;
  hover_ = pressed_ = kNone;
}

// Leaves every visible child window out of what the skin paints on the screen. WS_CLIPCHILDREN
// does not clip a WS_EX_TRANSPARENT child (the component's content control is one), and a repaint
// of this window alone does not repaint its children: painting over such a child would blank it
// until it happened to draw itself again.
void SkinWindow::ExcludeChildren(HDC dc) const {
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    RECT rc;
    if (!GetWindowRect(child, &rc)) continue;
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rc), 2);
    ExcludeClipRect(dc, rc.left, rc.top, rc.right, rc.bottom);
  }
}

// The element drawn last wins where rectangles overlap: the highest zIndex, and among equal
// zIndex values the later element of the document (the CheckBox's wide rectangle lies under
// Install and Later).
int SkinWindow::HitTest(POINT pt) const {
  int hit = kNone;
  int hitZ = 0;
  for (size_t i = 0; i < layout_.elements.size(); ++i) {
    const skin::Element& e = layout_.elements[i];
    if (!e.Interactive() || !PtInRect(&e.rect, pt)) continue;
    if (hit == kNone || e.zIndex >= hitZ) {
      hit = static_cast<int>(i);
      hitZ = e.zIndex;
    }
  }
  return hit;
}

void SkinWindow::InvalidateElement(int index) {
  if (index == kNone || hwnd_ == nullptr) return;
  InvalidateRect(hwnd_, &layout_.elements[index].rect, FALSE);
}

void SkinWindow::Click(int index) {
  skin::Element& e = layout_.elements[index];
  VARIANT argument;
  VariantInit(&argument);
  VARIANT state;
  VariantInit(&state);
  if (e.kind == skin::ElementKind::CheckBox) {
    checked_[index] = !checked_[index];
    InvalidateElement(index);
    state.vt = VT_I4;
    state.lVal = checked_[index] ? 1 : 0;
    argument.vt = VT_BYREF | VT_VARIANT;
    argument.pvarVal = &state;
  }
  if (e.clickEvent != 0) {
    SendMessageW(hwnd_, WM_SKINEVENT, static_cast<WPARAM>(e.clickEvent),
                 reinterpret_cast<LPARAM>(&argument));
  }
}

std::wstring SkinWindow::ElementName(size_t index) const {
  const skin::Element& e = layout_.elements[exposed_[index]];
  if (e.hasLabel && !e.label.text.empty()) return e.label.text;
  return !e.toolTip.empty() ? e.toolTip : e.id;
}

LONG SkinWindow::ElementRole(size_t index) const {
  switch (layout_.elements[exposed_[index]].kind) {
    case skin::ElementKind::Button: return ROLE_SYSTEM_PUSHBUTTON;
    case skin::ElementKind::CheckBox: return ROLE_SYSTEM_CHECKBUTTON;
    default: return ROLE_SYSTEM_STATICTEXT;
  }
}

LONG SkinWindow::ElementState(size_t index) const {
  const size_t i = exposed_[index];
  const skin::Element& e = layout_.elements[i];
  if (e.kind == skin::ElementKind::Text) return STATE_SYSTEM_READONLY;
  LONG state = e.disabled ? STATE_SYSTEM_UNAVAILABLE : STATE_SYSTEM_FOCUSABLE;
  if (e.kind == skin::ElementKind::CheckBox && checked_[i]) state |= STATE_SYSTEM_CHECKED;
  if (hover_ == static_cast<int>(i)) state |= STATE_SYSTEM_HOTTRACKED;
  if (pressed_ == static_cast<int>(i) && hover_ == pressed_) state |= STATE_SYSTEM_PRESSED;
  return state;
}

RECT SkinWindow::ElementRect(size_t index) const {
  const skin::Element& e = layout_.elements[exposed_[index]];
  RECT rc = e.rect;
  if (e.kind == skin::ElementKind::Text) {  // only the origin is given: one line to the right edge
    rc.right = layout_.size.cx;
    rc.bottom = rc.top + e.label.fontHeight + 4;
  }
  return rc;
}

bool SkinWindow::DoElementDefault(size_t index) {
  const size_t i = exposed_[index];
  if (!layout_.elements[i].Interactive()) return false;
  Click(static_cast<int>(i));
  return true;
}

skin::AccessibleElements* SkinWindow::Lookup(HWND hWnd) {
  auto* self = static_cast<SkinWindow*>(GetPropW(hWnd, kBoundProperty));
  return self != nullptr && self->loaded_ ? self : nullptr;
}

LRESULT SkinWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = false;
  if (message == WM_NCDESTROY) {
    Unbind();
    return 0;
  }
  if (!loaded_) return 0;
  const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case WM_ERASEBKGND:  // nothing erased: WM_PAINT covers all but the children
      handled = true;
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      if (dc != nullptr) {
        ExcludeChildren(dc);
        Render(dc);
      }
      EndPaint(hwnd_, &ps);
      handled = true;
      return 0;
    }
    case WM_PRINTCLIENT:
      Render(reinterpret_cast<HDC>(wParam));
      handled = true;
      return 0;
    case WM_GETOBJECT: {
      if (static_cast<LONG>(lParam) != OBJID_CLIENT) return 0;
      const LRESULT object = skin::AnswerGetObject(hwnd_, wParam, &SkinWindow::Lookup);
      handled = object != 0;  // otherwise the system's own answer
      return object;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == hwnd_ && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        handled = true;
        return TRUE;
      }
      return 0;
    case WM_MOUSEMOVE: {
      const int hit = HitTest(pt);
      if (hit != hover_) {
        InvalidateElement(hover_);
        hover_ = hit;
        InvalidateElement(hover_);
      }
      if (!tracking_) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, hwnd_, 0};
        tracking_ = TrackMouseEvent(&track) != FALSE;
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      tracking_ = false;
      if (pressed_ == kNone) {
        InvalidateElement(hover_);
        hover_ = kNone;
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      const int hit = HitTest(pt);
      hover_ = hit;
      if (hit != kNone) {
        pressed_ = hit;
        SetCapture(hwnd_);
        InvalidateElement(hit);
        handled = true;
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      if (pressed_ == kNone) return 0;
      const int was = pressed_;
      const int hit = HitTest(pt);
      pressed_ = kNone;
      hover_ = hit;
      if (GetCapture() == hwnd_) ReleaseCapture();
      InvalidateElement(was);
      if (hit == was) Click(was);
      handled = true;
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (pressed_ != kNone && reinterpret_cast<HWND>(lParam) != hwnd_) {
        InvalidateElement(pressed_);
        pressed_ = kNone;
      }
      return 0;
    default:
      return 0;
  }
}

LRESULT CALLBACK SkinWindow::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR refData) {
  auto* self = reinterpret_cast<SkinWindow*>(refData);
  // The window may release this object while a message is handled (an event that tears the
  // skin down); the object stays alive until the message is done.
  self->AddRef();
  bool handled = false;
  LRESULT result = 0;
  // Called by the window's procedure: nothing may unwind out of it. A message whose
  // handling failed is left to the window.
  try {
    result = self->OnMessage(message, wParam, lParam, handled);
  } catch (const std::bad_alloc&) {
    handled = false;
  }
  self->Release();
  if (handled) return result;
  return DefSubclassProc(hWnd, message, wParam, lParam);
}

}  // namespace

HRESULT CreateSkinWindowObject(IUnknown** ppSkinWindow) {
  if (ppSkinWindow == nullptr) return E_POINTER;
  *ppSkinWindow = nullptr;
  auto* object = new (std::nothrow) SkinWindow();
  if (object == nullptr) return E_OUTOFMEMORY;
  *ppSkinWindow = static_cast<IHostSkinWindow*>(object);
  return S_OK;
}
