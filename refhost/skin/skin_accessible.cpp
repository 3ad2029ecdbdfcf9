// The accessible object of a skinned window's client area. Child ids 1..n are the drawn
// elements (simple children, no object of their own); ids above n are the standard client
// object's children (the child windows) shifted by n.
#include "refhost/skin/skin_accessible.h"

#include <wrl/client.h>

#include "base/com_object.h"
#include "refhost/host_call.h"

#include <new>

using Microsoft::WRL::ComPtr;

namespace skin {

namespace {

// The interface's id is taken from its declaration: liboleacc.a hands out IID_IAccessible
// as an import thunk, not as the GUID.

class SkinAccessible final : public ComObject<IAccessible, IDispatch> {
 public:
  SkinAccessible(HWND hWnd, ElementsLookup lookup, ComPtr<IAccessible> standard)
      : hwnd_(hWnd), lookup_(lookup), standard_(std::move(standard)) {}

  // IDispatch: clients use the IAccessible methods directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** ppdispParent) override {
    return standard_->get_accParent(ppdispParent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* pcountChildren) override {
    if (pcountChildren == nullptr) return E_POINTER;
    LONG standardCount = 0;
    if (FAILED(standard_->get_accChildCount(&standardCount))) standardCount = 0;
    *pcountChildren = static_cast<LONG>(Count()) + standardCount;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT varChild, IDispatch** ppdispChild) override {
    if (ppdispChild == nullptr) return E_POINTER;
    *ppdispChild = nullptr;
    size_t index = 0;
    if (Element(varChild, index)) return S_FALSE;  // a simple element
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->get_accChild(shifted, ppdispChild);
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT varChild, BSTR* pszName) override {
    if (pszName == nullptr) return E_POINTER;
    *pszName = nullptr;
    size_t index = 0;
    if (Element(varChild, index))
      return refhost::HostCall([&] { return Text(Elements()->ElementName(index), pszName); });
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->get_accName(shifted, pszName);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT varChild, BSTR* pszValue) override {
    return Delegate(varChild, pszValue, &IAccessible::get_accValue);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT varChild, BSTR* psz) override {
    return Delegate(varChild, psz, &IAccessible::get_accDescription);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT varChild, VARIANT* pvarRole) override {
    if (pvarRole == nullptr) return E_POINTER;
    VariantInit(pvarRole);
    size_t index = 0;
    if (Element(varChild, index)) {
      pvarRole->vt = VT_I4;
      pvarRole->lVal = Elements()->ElementRole(index);
      return S_OK;
    }
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->get_accRole(shifted, pvarRole);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT varChild, VARIANT* pvarState) override {
    if (pvarState == nullptr) return E_POINTER;
    VariantInit(pvarState);
    size_t index = 0;
    if (Element(varChild, index)) {
      pvarState->vt = VT_I4;
      pvarState->lVal = Elements()->ElementState(index);
      return S_OK;
    }
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->get_accState(shifted, pvarState);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT varChild, BSTR* psz) override {
    return Delegate(varChild, psz, &IAccessible::get_accHelp);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* pszHelpFile, VARIANT /*varChild*/,
                                             long* pidTopic) override {
    if (pszHelpFile != nullptr) *pszHelpFile = nullptr;
    if (pidTopic != nullptr) *pidTopic = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT varChild, BSTR* psz) override {
    return Delegate(varChild, psz, &IAccessible::get_accKeyboardShortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* pvarChild) override {
    return standard_->get_accFocus(pvarChild);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* pvarChildren) override {
    return standard_->get_accSelection(pvarChildren);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT varChild, BSTR* psz) override {
    if (psz == nullptr) return E_POINTER;
    *psz = nullptr;
    size_t index = 0;
    if (Element(varChild, index)) {
      const LONG role = Elements()->ElementRole(index);
      if (role == ROLE_SYSTEM_CHECKBUTTON) {
        return Text((Elements()->ElementState(index) & STATE_SYSTEM_CHECKED) ? L"Uncheck" : L"Check",
                    psz);
      }
      return role == ROLE_SYSTEM_PUSHBUTTON ? Text(L"Press", psz) : S_FALSE;
    }
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->get_accDefaultAction(shifted, psz);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT varChild) override {
    size_t index = 0;
    if (Element(varChild, index)) return S_FALSE;
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->accSelect(flags, shifted);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* pxLeft, long* pyTop, long* pcxWidth,
                                        long* pcyHeight, VARIANT varChild) override {
    if (pxLeft == nullptr || pyTop == nullptr || pcxWidth == nullptr || pcyHeight == nullptr)
      return E_POINTER;
    size_t index = 0;
    if (Element(varChild, index)) {
      RECT rc = Elements()->ElementRect(index);
      MapWindowPoints(hwnd_, nullptr, reinterpret_cast<POINT*>(&rc), 2);
      *pxLeft = rc.left;
      *pyTop = rc.top;
      *pcxWidth = rc.right - rc.left;
      *pcyHeight = rc.bottom - rc.top;
      return S_OK;
    }
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->accLocation(pxLeft, pyTop, pcxWidth, pcyHeight, shifted);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long navDir, VARIANT varStart,
                                        VARIANT* pvarEndUpAt) override {
    size_t index = 0;
    if (Element(varStart, index)) return E_NOTIMPL;
    VARIANT shifted;
    if (!Standard(varStart, shifted)) return E_INVALIDARG;
    return standard_->accNavigate(navDir, shifted, pvarEndUpAt);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long xLeft, long yTop, VARIANT* pvarChild) override {
    if (pvarChild == nullptr) return E_POINTER;
    VariantInit(pvarChild);
    if (AccessibleElements* elements = Elements()) {
      POINT pt = {xLeft, yTop};
      ScreenToClient(hwnd_, &pt);
      for (size_t i = elements->ElementCount(); i-- > 0;) {  // later elements lie above
        const RECT rc = elements->ElementRect(i);
        if (PtInRect(&rc, pt)) {
          pvarChild->vt = VT_I4;
          pvarChild->lVal = static_cast<LONG>(i + 1);
          return S_OK;
        }
      }
    }
    return standard_->accHitTest(xLeft, yTop, pvarChild);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT varChild) override {
    size_t index = 0;
    if (Element(varChild, index)) return Elements()->DoElementDefault(index) ? S_OK : DISP_E_MEMBERNOTFOUND;
    VARIANT shifted;
    if (!Standard(varChild, shifted)) return E_INVALIDARG;
    return standard_->accDoDefaultAction(shifted);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  ~SkinAccessible() override = default;

  AccessibleElements* Elements() const { return IsWindow(hwnd_) ? lookup_(hwnd_) : nullptr; }
  size_t Count() const {
    AccessibleElements* elements = Elements();
    return elements != nullptr ? elements->ElementCount() : 0;
  }
  // True when the child id names a drawn element; index is then its number.
  bool Element(const VARIANT& child, size_t& index) const {
    if (child.vt != VT_I4 || child.lVal <= CHILDID_SELF) return false;
    if (static_cast<size_t>(child.lVal) > Count()) return false;
    index = static_cast<size_t>(child.lVal) - 1;
    return true;
  }
  // The standard object's id for a child id that is not an element.
  bool Standard(const VARIANT& child, VARIANT& shifted) const {
    if (child.vt != VT_I4) return false;
    VariantInit(&shifted);
    shifted.vt = VT_I4;
    shifted.lVal = child.lVal == CHILDID_SELF ? CHILDID_SELF
                                              : child.lVal - static_cast<LONG>(Count());
    return shifted.lVal >= 0;
  }
  static HRESULT Text(const std::wstring& text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Delegate(const VARIANT& child, BSTR* out,
                   HRESULT (STDMETHODCALLTYPE IAccessible::*method)(VARIANT, BSTR*)) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    size_t index = 0;
    if (Element(child, index)) return S_FALSE;
    VARIANT shifted;
    if (!Standard(child, shifted)) return E_INVALIDARG;
    return (standard_.Get()->*method)(shifted, out);
  }

  HWND hwnd_;
  ElementsLookup lookup_;
  ComPtr<IAccessible> standard_;
};

}  // namespace

LRESULT AnswerGetObject(HWND hWnd, WPARAM wParam, ElementsLookup lookup) {
  ComPtr<IAccessible> standard;
  if (FAILED(CreateStdAccessibleObject(hWnd, OBJID_CLIENT, __uuidof(IAccessible),
                                       reinterpret_cast<void**>(standard.GetAddressOf()))) ||
      !standard)
    return 0;
  auto* object = new (std::nothrow) SkinAccessible(hWnd, lookup, std::move(standard));
  if (object == nullptr) return 0;
  const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, object);
  object->Release();
  return result > 0 ? result : 0;
}

}  // namespace skin
