// The skin window object: the player's skin engine for the component's tips window. BindWindow
// subclasses the window, PrepareWindow lets its children draw themselves, LoadSkin reads the
// skin document (sizes the window, cuts its shape, places the description control, loads the
// images) and from then on the subclass paints the elements and turns the mouse into hover,
// pressed and click states, reporting each click as WM_SKINEVENT.
#include "sample.h"

#include <commctrl.h>
#include <oleauto.h>

namespace {

const UINT_PTR kSubclassId = 1;
const int kMaxElements = 16;
const int kMaxBitmaps = 8;
const int kNone = -1;

enum Kind { kPicture, kText, kButton, kCheckBox, kDlgItem };
// An element's images: a picture has kNormal, a button the first three, a check box all six.
enum Face { kNormal, kOver, kDown, kCheckedNormal, kCheckedOver, kCheckedDown, kFaceCount };

struct Image {
  int bitmap;       // index into the skin's bitmaps; kNone: no image
  RECT source;      // the part of the bitmap to draw (x, y, w, h)
  bool keyed;       // transparentColor given: its pixels are not drawn
  COLORREF key;
};

struct Label {
  bool present;
  wchar_t text[64];
  POINT offset;     // from the element's corner (a check box's label)
  HFONT font;       // fontHeight pixels high, bold for fontStyle "B"; the object's own
  COLORREF color, overColor;
};

struct Element {
  Kind kind;
  RECT rect;        // a text has only its corner
  int zIndex;
  bool visible, disabled;
  Image faces[kFaceCount];
  Label label;
  int eventId;      // OnClick; 0: none
  int itemId;       // a DlgItem's child control
  bool Interactive() const { return (kind == kButton || kind == kCheckBox) && visible && !disabled; }
};

struct Bitmap {
  wchar_t module[MAX_PATH];
  int id;
  HBITMAP handle;
};

// ---- Reading the document ----------------------------------------------------------------
// The document is small and regular: start tags with quoted attributes, end tags, one
// declaration. A scanner of its tags reads it as the wide text it arrives in, whatever its
// declaration says about the encoding.

struct Attribute {
  const wchar_t* name;
  int nameLength;
  const wchar_t* value;
  int valueLength;
};

struct Tag {
  const wchar_t* name;
  int nameLength;
  Attribute attributes[16];
  int count;
  bool closing;      // </name>
};

bool Same(const wchar_t* text, int length, const wchar_t* literal) {
  return length == lstrlenW(literal) && CompareStringOrdinal(text, length, literal, length, FALSE) == CSTR_EQUAL;
}
bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsNameEnd(wchar_t c) { return IsSpace(c) || c == L'/' || c == L'>' || c == L'='; }

// The next tag from p on; false at the end of the text or on a malformed tag.
bool NextTag(const wchar_t*& p, const wchar_t* end, Tag& tag) {
  for (;;) {
    while (p < end && *p != L'<') ++p;
    if (p + 1 >= end) return false;
    if (p[1] != L'?' && p[1] != L'!') break;
    while (p < end && *p != L'>') ++p;  // the declaration or a comment
  }
  ++p;
  tag.closing = *p == L'/';
  if (tag.closing) ++p;
  tag.name = p;
  while (p < end && !IsNameEnd(*p)) ++p;
  tag.nameLength = static_cast<int>(p - tag.name);
  tag.count = 0;
  while (p < end) {
    while (p < end && IsSpace(*p)) ++p;
    if (p < end && *p == L'/') ++p;  // <name ... />
    if (p < end && *p == L'>') {
      ++p;
      return true;
    }
    Attribute a;
    a.name = p;
    while (p < end && !IsNameEnd(*p)) ++p;
    a.nameLength = static_cast<int>(p - a.name);
    while (p < end && IsSpace(*p)) ++p;
    if (p + 1 >= end || *p != L'=') return false;
    ++p;
    while (p < end && IsSpace(*p)) ++p;
    if (p >= end || (*p != L'"' && *p != L'\'')) return false;
    const wchar_t quote = *p++;
    a.value = p;
    while (p < end && *p != quote) ++p;
    if (p >= end) return false;
    a.valueLength = static_cast<int>(p++ - a.value);
    if (tag.count < 16) tag.attributes[tag.count++] = a;
  }
  return false;
}

const Attribute* Find(const Tag& tag, const wchar_t* name) {
  for (int i = 0; i < tag.count; ++i)
    if (Same(tag.attributes[i].name, tag.attributes[i].nameLength, name)) return &tag.attributes[i];
  return nullptr;
}

// An attribute's text with the XML entities replaced (&amp; in a path, say); "" when absent.
void TextOf(const Tag& tag, const wchar_t* name, wchar_t* out, int capacity) {
  int n = 0;
  const Attribute* a = Find(tag, name);
  for (int i = 0; a != nullptr && i < a->valueLength && n + 1 < capacity; ++i) {
    wchar_t c = a->value[i];
    if (c == L'&') {
      static const struct { const wchar_t* name; wchar_t c; } entities[] = {
          {L"amp;", L'&'}, {L"lt;", L'<'}, {L"gt;", L'>'}, {L"quot;", L'"'}, {L"apos;", L'\''}};
      for (const auto& e : entities) {
        const int length = lstrlenW(e.name);
        if (i + length < a->valueLength && Same(a->value + i + 1, length, e.name)) {
          c = e.c;
          i += length;
          break;
        }
      }
    }
    out[n++] = c;
  }
  out[n] = L'\0';
}

int NumberOf(const Tag& tag, const wchar_t* name, int fallback) {
  const Attribute* a = Find(tag, name);
  if (a == nullptr || a->valueLength == 0) return fallback;
  int value = 0, i = 0;
  const bool negative = a->value[0] == L'-';
  for (i = negative ? 1 : 0; i < a->valueLength && a->value[i] >= L'0' && a->value[i] <= L'9'; ++i)
    value = value * 10 + (a->value[i] - L'0');
  return negative ? -value : value;
}

bool FlagOf(const Tag& tag, const wchar_t* name, bool fallback) {
  const Attribute* a = Find(tag, name);
  return a == nullptr ? fallback : Same(a->value, a->valueLength, L"true");
}

// "#RRGGBB"; false when absent or malformed.
bool ColourOf(const Tag& tag, const wchar_t* name, COLORREF& colour) {
  const Attribute* a = Find(tag, name);
  if (a == nullptr || a->valueLength != 7 || a->value[0] != L'#') return false;
  DWORD rgb = 0;
  for (int i = 1; i < 7; ++i) {
    const wchar_t c = a->value[i];
    const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10
                      : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
    if (digit < 0) return false;
    rgb = rgb * 16 + static_cast<DWORD>(digit);
  }
  colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
  return true;
}

// The skin's texts are Chinese: a face that has CJK characters, the first installed of these.
int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

HFONT LabelFont(int height, bool bold) {
  const wchar_t* const faces[] = {L"Microsoft YaHei", L"WenQuanYi Micro Hei", L"SimSun"};
  LOGFONTW lf = {};
  lf.lfHeight = -height;  // the characters' height, without the cell's internal leading
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  HDC screen = GetDC(nullptr);
  for (const wchar_t* face : faces) {
    bool found = false;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    if (screen != nullptr) EnumFontFamiliesExW(screen, &lf, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
    if (found) break;
    lf.lfFaceName[0] = L'\0';  // none of them: the system's choice for the character set
  }
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return CreateFontIndirectW(&lf);
}

// ---- The skin window object ----------------------------------------------------------------

class SkinWindow final : public ComObject<IHostSkinWindow> {
 public:
  SkinWindow() : ComObject(IID_IHostSkinWindow) {}
  ~SkinWindow() override;

  HRESULT STDMETHODCALLTYPE BindWindow(HWND hWnd) override;
  HRESULT STDMETHODCALLTYPE PrepareWindow(HWND hWnd) override;
  HRESULT STDMETHODCALLTYPE LoadSkin(HWND hWnd, BSTR bstrSkin, BSTR bstrScript) override;

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void OnTag(const Tag& tag);
  void ReadImage(const Tag& tag, Image& image);
  void Render(HDC dc, bool imagesOnly);
  void DrawImage(HDC dc, HDC source, const Image& image, int x, int y);
  void DrawLabel(HDC dc, const Element& e, bool hover);
  void CutShape();
  int HitTest(POINT pt) const;
  void Invalidate(int index) const;
  void Click(int index);
  void FreeFonts();

  HWND m_hwnd = nullptr;
  bool m_prepared = false;
  bool m_loaded = false;
  SIZE m_size = {0, 0};
  bool m_clipped = false;
  COLORREF m_clippingColor = 0;
  Element m_elements[kMaxElements];
  int m_count = 0;
  int m_order[kMaxElements];        // paint order: lower zIndex first, then document order
  bool m_checked[kMaxElements];
  Bitmap m_bitmaps[kMaxBitmaps];
  int m_bitmapCount = 0;
  int m_hover = kNone;
  int m_pressed = kNone;
  bool m_tracking = false;
};

SkinWindow::~SkinWindow() {
  // Undo what BindWindow did, so that the next object starts from a clean window.
  if (m_hwnd != nullptr) {
    RemoveWindowSubclass(m_hwnd, SubclassProc, kSubclassId);
    if (GetCapture() == m_hwnd && m_pressed != kNone) ReleaseCapture();
  }
  for (int i = 0; i < m_bitmapCount; ++i) DeleteObject(m_bitmaps[i].handle);
  FreeFonts();
}

void SkinWindow::FreeFonts() {
  for (int i = 0; i < m_count; ++i)
    if (m_elements[i].label.font != nullptr) DeleteObject(m_elements[i].label.font);
  m_count = 0;
}

// Called once the component has created the tips window: from now on this object sees the
// window's messages first and passes on what it does not handle.
HRESULT SkinWindow::BindWindow(HWND hWnd) {
  if (!IsWindow(hWnd)) return E_INVALIDARG;
  if (m_hwnd != nullptr) return m_hwnd == hWnd ? S_OK : E_UNEXPECTED;
  if (!SetWindowSubclass(hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return E_FAIL;
  m_hwnd = hWnd;
  return S_OK;
}

// The description control draws itself; the skin draws around it.
HRESULT SkinWindow::PrepareWindow(HWND hWnd) {
  if (hWnd == nullptr || hWnd != m_hwnd) return E_UNEXPECTED;
  SetWindowLongPtrW(hWnd, GWL_STYLE, GetWindowLongPtrW(hWnd, GWL_STYLE) | WS_CLIPCHILDREN);
  m_prepared = true;
  return S_OK;
}

// The script's handlers are empty; the sample runs no script.
HRESULT SkinWindow::LoadSkin(HWND hWnd, BSTR bstrSkin, BSTR) {
  if (hWnd == nullptr || hWnd != m_hwnd || !m_prepared) return E_UNEXPECTED;
  if (bstrSkin == nullptr) return E_INVALIDARG;
  FreeFonts();  // of an earlier document
  const wchar_t* p = bstrSkin;
  const wchar_t* end = bstrSkin + SysStringLen(bstrSkin);
  Tag tag;
  while (NextTag(p, end, tag))
    if (!tag.closing) OnTag(tag);
  if (m_size.cx <= 0 || m_size.cy <= 0) return E_FAIL;

  // Paint order: a stable insertion sort by zIndex. A click goes to the element drawn last.
  for (int i = 0; i < m_count; ++i) {
    int j = i;
    while (j > 0 && m_elements[m_order[j - 1]].zIndex > m_elements[i].zIndex) {
      m_order[j] = m_order[j - 1];
      --j;
    }
    m_order[j] = i;
    m_checked[i] = false;  // the check box starts unticked at every load
  }
  m_loaded = true;
  m_hover = m_pressed = kNone;

  SetWindowPos(m_hwnd, nullptr, 0, 0, m_size.cx, m_size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (int i = 0; i < m_count; ++i) {
    const Element& e = m_elements[i];
    HWND item = e.kind == kDlgItem ? GetDlgItem(m_hwnd, e.itemId) : nullptr;
    if (item == nullptr) continue;
    SetWindowPos(item, nullptr, e.rect.left, e.rect.top, e.rect.right - e.rect.left,
                 e.rect.bottom - e.rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(item, e.visible ? SW_SHOWNA : SW_HIDE);
  }
  if (m_clipped) CutShape();
  InvalidateRect(m_hwnd, nullptr, FALSE);
  return S_OK;
}

// Window, the five kinds of element, and their children (images, Label, Event), which belong to
// the element opened last. Clipping needs nothing: the clipping colour applies to the whole window.
void SkinWindow::OnTag(const Tag& tag) {
  const wchar_t* name = tag.name;
  const int length = tag.nameLength;
  if (Same(name, length, L"Window")) {
    m_size.cx = NumberOf(tag, L"width", 0);
    m_size.cy = NumberOf(tag, L"height", 0);
    m_clipped = ColourOf(tag, L"clippingColor", m_clippingColor);
    return;
  }
  const wchar_t* const kindNames[] = {L"Picture", L"Text", L"Button", L"CheckBox", L"DlgItem"};  // as Kind
  for (int k = 0; k < 5; ++k) {
    if (!Same(name, length, kindNames[k]) || m_count == kMaxElements) continue;
    Element& e = m_elements[m_count++];
    e = Element();
    e.kind = static_cast<Kind>(k);
    const int left = NumberOf(tag, L"left", 0), top = NumberOf(tag, L"top", 0);
    e.rect = {left, top, left + NumberOf(tag, L"width", 0), top + NumberOf(tag, L"height", 0)};
    e.zIndex = NumberOf(tag, L"zIndex", 0);
    e.visible = FlagOf(tag, L"visible", true);
    e.disabled = FlagOf(tag, L"disabled", false);
    e.itemId = NumberOf(tag, L"itemID", 0);
    for (Image& image : e.faces) image.bitmap = kNone;
    return;
  }
  if (m_count == 0) return;
  Element& e = m_elements[m_count - 1];
  if (Same(name, length, L"Label")) {
    e.label.present = true;
    TextOf(tag, L"value", e.label.text, 64);
    e.label.offset = {NumberOf(tag, L"left", 0), NumberOf(tag, L"top", 0)};
    wchar_t style[8];
    TextOf(tag, L"fontStyle", style, 8);
    if (e.label.font == nullptr) e.label.font = LabelFont(NumberOf(tag, L"fontHeight", 12), style[0] == L'B');
    if (!ColourOf(tag, L"normalColor", e.label.color)) e.label.color = RGB(0, 0, 0);
    if (!ColourOf(tag, L"overColor", e.label.overColor)) e.label.overColor = e.label.color;
  } else if (Same(name, length, L"Event")) {
    e.eventId = NumberOf(tag, L"OnClick", 0);
  } else {
    const wchar_t* const faceNames[] = {L"Normal", L"Over", L"Down", nullptr, nullptr, nullptr};
    const wchar_t* const iconNames[] = {L"UncheckNormal", L"UncheckOver", L"UncheckDown",
                                        L"CheckedNormal", L"CheckedOver", L"CheckedDown"};
    if (Same(name, length, L"Img")) ReadImage(tag, e.faces[kNormal]);
    for (int f = 0; f < kFaceCount; ++f) {
      if ((faceNames[f] != nullptr && Same(name, length, faceNames[f])) || Same(name, length, iconNames[f]))
        ReadImage(tag, e.faces[f]);
    }
  }
}

// image="res:\\PATH,ID": the bitmap resource ID of the module at PATH. The module is loaded as a
// data file and freed at once: kept loaded, it would keep the component's file in use.
void SkinWindow::ReadImage(const Tag& tag, Image& image) {
  wchar_t text[MAX_PATH + 16];
  TextOf(tag, L"image", text, MAX_PATH + 16);
  wchar_t* comma = nullptr;
  for (wchar_t* c = text; *c != L'\0'; ++c)
    if (*c == L',') comma = c;
  if (CompareStringOrdinal(text, 6, L"res:\\\\", 6, TRUE) != CSTR_EQUAL || comma == nullptr) return;
  *comma = L'\0';
  const wchar_t* module = text + 6;
  int id = 0;
  for (const wchar_t* d = comma + 1; *d >= L'0' && *d <= L'9'; ++d) id = id * 10 + (*d - L'0');
  const int x = NumberOf(tag, L"x", 0), y = NumberOf(tag, L"y", 0);
  image.source = {x, y, x + NumberOf(tag, L"w", 0), y + NumberOf(tag, L"h", 0)};
  image.keyed = ColourOf(tag, L"transparentColor", image.key);
  for (int i = 0; i < m_bitmapCount; ++i) {
    if (m_bitmaps[i].id == id && lstrcmpiW(m_bitmaps[i].module, module) == 0) {
      image.bitmap = i;
      return;
    }
  }
  if (m_bitmapCount == kMaxBitmaps) return;
  HMODULE data = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (data == nullptr) return;
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(data, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  FreeLibrary(data);
  if (bitmap == nullptr) return;
  Bitmap& b = m_bitmaps[m_bitmapCount];
  lstrcpynW(b.module, module, MAX_PATH);
  b.id = id;
  b.handle = bitmap;
  image.bitmap = m_bitmapCount++;
}

// ---- Drawing -------------------------------------------------------------------------------

void SkinWindow::DrawImage(HDC dc, HDC source, const Image& image, int x, int y) {
  if (image.bitmap == kNone) return;
  HGDIOBJ old = SelectObject(source, m_bitmaps[image.bitmap].handle);
  const int w = image.source.right - image.source.left, h = image.source.bottom - image.source.top;
  if (image.keyed)
    GdiTransparentBlt(dc, x, y, w, h, source, image.source.left, image.source.top, w, h, image.key);
  else
    BitBlt(dc, x, y, w, h, source, image.source.left, image.source.top, SRCCOPY);
  SelectObject(source, old);
}

void SkinWindow::DrawLabel(HDC dc, const Element& e, bool hover) {
  if (!e.label.present || e.label.text[0] == L'\0') return;
  HGDIOBJ old = SelectObject(dc, e.label.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, hover ? e.label.overColor : e.label.color);
  RECT r = e.rect;
  if (e.kind == kButton) {  // the caption, centred on the button
    DrawTextW(dc, e.label.text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  } else {                  // a text at its corner; a check box's label at its offset
    const POINT at = {r.left + e.label.offset.x, r.top + e.label.offset.y};
    TextOutW(dc, at.x, at.y, e.label.text, lstrlenW(e.label.text));
  }
  SelectObject(dc, old);
}

// Every element in paint order; with imagesOnly the images alone (for the window's shape).
void SkinWindow::Render(HDC dc, bool imagesOnly) {
  HDC source = CreateCompatibleDC(dc);
  if (source == nullptr) return;
  for (int n = 0; n < m_count; ++n) {
    const int i = m_order[n];
    const Element& e = m_elements[i];
    if (!e.visible || e.kind == kDlgItem) continue;
    const bool hover = m_hover == i && (m_pressed == kNone || m_pressed == i);
    int face = kNormal;
    if (e.Interactive()) face = m_pressed == i && hover ? kDown : hover ? kOver : kNormal;
    if (e.kind == kCheckBox && m_checked[i]) face += kCheckedNormal;
    if (e.faces[face].bitmap == kNone) face = e.kind == kCheckBox && m_checked[i] ? kCheckedNormal : kNormal;
    const Image& image = e.faces[face];
    int y = e.rect.top;
    if (e.kind == kCheckBox)  // the box at the left edge, centred in the element's height
      y += (e.rect.bottom - e.rect.top - (image.source.bottom - image.source.top)) / 2;
    DrawImage(dc, source, image, e.rect.left, y);
    if (!imagesOnly) DrawLabel(dc, e, hover && e.Interactive());
  }
  DeleteDC(source);
}

// The window's shape: every pixel of the drawn images in the clipping colour is cut away.
void SkinWindow::CutShape() {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = m_size.cx;
  info.bmiHeader.biHeight = -m_size.cy;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  if (canvas != nullptr && dc != nullptr && shape != nullptr) {
    HGDIOBJ old = SelectObject(dc, canvas);
    const DWORD clip = (GetRValue(m_clippingColor) << 16) | (GetGValue(m_clippingColor) << 8) | GetBValue(m_clippingColor);
    RECT all = {0, 0, m_size.cx, m_size.cy};
    HBRUSH brush = CreateSolidBrush(m_clippingColor);  // where no image lies, the window is cut too
    if (brush != nullptr) FillRect(dc, &all, brush), DeleteObject(brush);
    Render(dc, true);
    GdiFlush();
    const DWORD* pixel = static_cast<const DWORD*>(bits);
    for (int y = 0; y < m_size.cy; ++y) {
      for (int x = 0; x < m_size.cx;) {
        while (x < m_size.cx && (pixel[y * m_size.cx + x] & 0xFFFFFF) == clip) ++x;
        const int start = x;
        while (x < m_size.cx && (pixel[y * m_size.cx + x] & 0xFFFFFF) != clip) ++x;
        if (x == start) continue;
        HRGN run = CreateRectRgn(start, y, x, y + 1);
        if (run != nullptr) CombineRgn(shape, shape, run, RGN_OR), DeleteObject(run);
      }
    }
    SelectObject(dc, old);
    if (SetWindowRgn(m_hwnd, shape, TRUE)) shape = nullptr;  // the window owns it now
  }
  if (shape != nullptr) DeleteObject(shape);
  if (dc != nullptr) DeleteDC(dc);
  if (canvas != nullptr) DeleteObject(canvas);
}

// ---- The mouse -----------------------------------------------------------------------------

// Where rectangles overlap, the element drawn last takes the click: the highest zIndex, and
// among equal ones the later in the document (the check box's rectangle runs under Install
// and Later, which lie above it).
int SkinWindow::HitTest(POINT pt) const {
  for (int n = m_count - 1; n >= 0; --n) {
    const Element& e = m_elements[m_order[n]];
    if (e.Interactive() && PtInRect(&e.rect, pt)) return m_order[n];
  }
  return kNone;
}

void SkinWindow::Invalidate(int index) const {
  if (index != kNone) InvalidateRect(m_hwnd, &m_elements[index].rect, FALSE);
}

// A click sends the element's event; a check box's carries its new state as VT_BYREF|VT_VARIANT
// over a VT_I4, valid while the message is handled.
void SkinWindow::Click(int index) {
  Element& e = m_elements[index];
  VARIANT state, argument;
  VariantInit(&state);
  VariantInit(&argument);
  if (e.kind == kCheckBox) {
    m_checked[index] = !m_checked[index];
    Invalidate(index);
    state.vt = VT_I4;
    state.lVal = m_checked[index] ? 1 : 0;
    argument.vt = VT_BYREF | VT_VARIANT;
    argument.pvarVal = &state;
  }
  if (e.eventId == 0) return;
  if (e.kind == kCheckBox)
    Say(L"skin: WM_SKINEVENT %d (ticked %d)\n", e.eventId, m_checked[index] ? 1 : 0);
  else
    Say(L"skin: WM_SKINEVENT %d\n", e.eventId);
  SendMessageW(m_hwnd, WM_SKINEVENT, static_cast<WPARAM>(e.eventId), reinterpret_cast<LPARAM>(&argument));
}

// Leaves the window's visible children out of the skin's painting. The description control is
// WS_EX_TRANSPARENT, which WS_CLIPCHILDREN does not clip: painted over, it would stay blank.
void ExcludeVisibleChildren(HWND hwnd, HDC dc) {
  for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    if (!IsWindowVisible(child) || !GetWindowRect(child, &r)) continue;
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
  }
}

bool SkinWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  if (!m_loaded) return false;
  const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case WM_ERASEBKGND:  // WM_PAINT draws every pixel the children leave free
      result = 1;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(m_hwnd, &ps);
      if (dc == nullptr) return true;
      ExcludeVisibleChildren(m_hwnd, dc);
      // Composed off screen and copied in one blit, so that a hover change does not flicker.
      HDC buffer = CreateCompatibleDC(dc);
      HBITMAP canvas = CreateCompatibleBitmap(dc, m_size.cx, m_size.cy);
      if (buffer != nullptr && canvas != nullptr) {
        HGDIOBJ old = SelectObject(buffer, canvas);
        Render(buffer, false);
        BitBlt(dc, 0, 0, m_size.cx, m_size.cy, buffer, 0, 0, SRCCOPY);
        SelectObject(buffer, old);
      }
      if (canvas != nullptr) DeleteObject(canvas);
      if (buffer != nullptr) DeleteDC(buffer);
      EndPaint(m_hwnd, &ps);
      return true;
    }
    case WM_PRINTCLIENT:
      Render(reinterpret_cast<HDC>(wParam), false);
      return true;
    case WM_MOUSEMOVE: {
      const int hit = HitTest(pt);
      if (hit != m_hover) {
        Invalidate(m_hover);
        m_hover = hit;
        Invalidate(m_hover);
      }
      if (!m_tracking) {  // to hear when the mouse leaves the window
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, m_hwnd, 0};
        m_tracking = TrackMouseEvent(&track) != FALSE;
      }
      return false;
    }
    case WM_MOUSELEAVE:
      m_tracking = false;
      if (m_pressed == kNone) Invalidate(m_hover), m_hover = kNone;
      return false;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      const int hit = HitTest(pt);
      m_hover = hit;
      if (hit == kNone) return false;
      m_pressed = hit;
      SetCapture(m_hwnd);  // the release counts only over the element pressed
      Invalidate(hit);
      return true;
    }
    case WM_LBUTTONUP: {
      if (m_pressed == kNone) return false;
      const int pressed = m_pressed;
      m_pressed = kNone;
      m_hover = HitTest(pt);
      if (GetCapture() == m_hwnd) ReleaseCapture();
      Invalidate(pressed);
      if (m_hover == pressed) Click(pressed);
      return true;
    }
    case WM_CAPTURECHANGED:
      if (m_pressed != kNone && reinterpret_cast<HWND>(lParam) != m_hwnd) Invalidate(m_pressed), m_pressed = kNone;
      return false;
    default:
      return false;
  }
}

LRESULT CALLBACK SkinWindow::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR refData) {
  SkinWindow* self = reinterpret_cast<SkinWindow*>(refData);
  if (message == WM_NCDESTROY) {  // the window goes first: nothing of it is left to undo
    RemoveWindowSubclass(hWnd, SubclassProc, kSubclassId);
    self->m_hwnd = nullptr;
    self->m_loaded = false;
    return DefSubclassProc(hWnd, message, wParam, lParam);
  }
  // An event may make the component release this object; it lives until the message is done.
  self->AddRef();
  LRESULT result = 0;
  const bool handled = self->OnMessage(message, wParam, lParam, result);
  self->Release();
  return handled ? result : DefSubclassProc(hWnd, message, wParam, lParam);
}

}  // namespace

HRESULT CreateSkinWindowObject(IUnknown** ppSkinWindow) {
  return HandOut<IHostSkinWindow>(new SkinWindow(), ppSkinWindow);
}
