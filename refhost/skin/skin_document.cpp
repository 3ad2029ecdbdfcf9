// Reading a skin document with XmlLite and turning it into a layout.
#include "refhost/skin/skin_document.h"

#include <shlwapi.h>
#include <xmllite.h>
#include <wrl/client.h>

#include <cwchar>
#include <cwctype>

using Microsoft::WRL::ComPtr;

namespace skin {
namespace {

using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// xmllite.dll from the system folder only, loaded once and kept for the life of the process.
CreateXmlReaderFn XmlReaderFactory() {
  static CreateXmlReaderFn factory = []() -> CreateXmlReaderFn {
    wchar_t path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 13 >= MAX_PATH) return nullptr;
    wcscat_s(path, L"\\xmllite.dll");
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<CreateXmlReaderFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "CreateXmlReader")));
  }();
  return factory;
}

// The text without a leading XML declaration (and without a byte-order mark).
std::wstring WithoutDeclaration(const std::wstring& text) {
  size_t start = 0;
  if (!text.empty() && text[0] == 0xFEFF) start = 1;
  while (start < text.size() && iswspace(text[start])) ++start;
  if (text.compare(start, 5, L"<?xml") == 0) {
    size_t end = text.find(L"?>", start);
    if (end == std::wstring::npos) return std::wstring();
    return text.substr(end + 2);
  }
  return text.substr(start);
}

bool ToInt(const std::wstring* text, LONG& value) {
  if (text == nullptr || text->empty()) return false;
  wchar_t* end = nullptr;
  long v = wcstol(text->c_str(), &end, 10);
  if (end == text->c_str() || *end != L'\0') return false;
  value = v;
  return true;
}

LONG IntOr(const XmlElement& e, const wchar_t* name, LONG fallback) {
  LONG v = 0;
  return ToInt(e.Find(name), v) ? v : fallback;
}

bool BoolOr(const XmlElement& e, const wchar_t* name, bool fallback) {
  const std::wstring* v = e.Find(name);
  if (v == nullptr) return fallback;
  return _wcsicmp(v->c_str(), L"true") == 0 || *v == L"1";
}

bool ReadImage(const XmlElement& e, ImageRef& image) {
  const std::wstring* ref = e.Find(L"image");
  if (ref == nullptr || !ParseResourceReference(*ref, image.module, image.bitmapId)) return false;
  LONG x = IntOr(e, L"x", 0), y = IntOr(e, L"y", 0);
  LONG w = IntOr(e, L"w", IntOr(e, L"width", 0)), h = IntOr(e, L"h", IntOr(e, L"height", 0));
  if (w <= 0 || h <= 0) return false;
  image.source = {x, y, x + w, y + h};
  const std::wstring* key = e.Find(L"transparentColor");
  image.keyed = key != nullptr && ParseColor(*key, image.transparentColor);
  return true;
}

void ReadLabel(const XmlElement& e, Label& label) {
  if (const std::wstring* v = e.Find(L"value")) label.text = *v;
  LONG left = 0, top = 0;
  label.placed = ToInt(e.Find(L"left"), left) | ToInt(e.Find(L"top"), top);
  label.offset = {left, top};
  label.fontHeight = IntOr(e, L"fontHeight", 12);
  const std::wstring* style = e.Find(L"fontStyle");
  label.bold = style != nullptr && style->find_first_of(L"Bb") != std::wstring::npos;
  const std::wstring* normal = e.Find(L"normalColor");
  if (normal != nullptr) ParseColor(*normal, label.normalColor);
  label.overColor = label.normalColor;
  const std::wstring* over = e.Find(L"overColor");
  if (over != nullptr) ParseColor(*over, label.overColor);
}

void ReadEvent(const XmlElement& e, Element& element) {
  LONG id = 0;
  if (ToInt(e.Find(L"OnClick"), id)) element.clickEvent = id;
}

bool ReadElement(const XmlElement& e, Element& element) {
  static const struct { const wchar_t* name; ElementKind kind; } kinds[] = {
      {L"Picture", ElementKind::Picture}, {L"Text", ElementKind::Text},
      {L"Button", ElementKind::Button},   {L"CheckBox", ElementKind::CheckBox},
      {L"DlgItem", ElementKind::DlgItem}};
  bool known = false;
  for (const auto& k : kinds) {
    if (e.name == k.name) {
      element.kind = k.kind;
      known = true;
    }
  }
  if (!known) return false;

  if (const std::wstring* id = e.Find(L"id")) element.id = *id;
  LONG left = IntOr(e, L"left", 0), top = IntOr(e, L"top", 0);
  element.rect = {left, top, left + IntOr(e, L"width", 0), top + IntOr(e, L"height", 0)};
  element.zIndex = IntOr(e, L"zIndex", 0);
  element.visible = BoolOr(e, L"visible", true);
  element.disabled = BoolOr(e, L"disabled", false);
  element.itemId = IntOr(e, L"itemID", 0);
  if (const std::wstring* tip = e.Find(L"toolTip")) element.toolTip = *tip;

  static const wchar_t* const buttonSlots[] = {L"Normal", L"Over", L"Down"};
  static const wchar_t* const checkSlots[] = {L"UncheckNormal", L"UncheckOver", L"UncheckDown",
                                              L"CheckedNormal", L"CheckedOver", L"CheckedDown"};
  for (const XmlElement& child : e.children) {
    if (child.name == L"Label") {
      element.hasLabel = true;
      ReadLabel(child, element.label);
    } else if (child.name == L"Event") {
      ReadEvent(child, element);
    } else if (child.name == L"Img" && element.kind == ElementKind::Picture) {
      element.hasImage[kNormal] = ReadImage(child, element.images[kNormal]);
    } else if (element.kind == ElementKind::Button) {
      for (int i = 0; i < 3; ++i) {
        if (child.name == buttonSlots[i]) element.hasImage[i] = ReadImage(child, element.images[i]);
      }
    } else if (child.name == L"Icon" && element.kind == ElementKind::CheckBox) {
      for (const XmlElement& state : child.children) {
        for (int i = 0; i < kSlotCount; ++i) {
          if (state.name == checkSlots[i]) element.hasImage[i] = ReadImage(state, element.images[i]);
        }
      }
    }
  }
  return true;
}

}  // namespace

const std::wstring* XmlElement::Find(const wchar_t* attribute) const {
  for (const auto& a : attributes) {
    if (a.first == attribute) return &a.second;
  }
  return nullptr;
}

bool ParseXml(const std::wstring& text, XmlElement& root) {
  CreateXmlReaderFn create = XmlReaderFactory();
  if (create == nullptr) return false;

  // UTF-8 with a byte-order mark, so the reader needs no declaration to know the encoding.
  // (Wine's reader loses its place in UTF-16 input longer than its 8 KiB read buffer.)
  std::wstring body = WithoutDeclaration(text);
  int size = WideCharToMultiByte(CP_UTF8, 0, body.data(), static_cast<int>(body.size()), nullptr, 0,
                                 nullptr, nullptr);
  if (size <= 0) return false;  // nothing to read (the reader does not cope with empty input)
  std::string bytes = "\xEF\xBB\xBF";
  bytes.resize(3 + static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, body.data(), static_cast<int>(body.size()), bytes.data() + 3, size,
                      nullptr, nullptr);
  ComPtr<IStream> stream;
  stream.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                                  static_cast<UINT>(bytes.size())));
  if (!stream) return false;
  ComPtr<IXmlReader> reader;
  if (FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.GetAddressOf()), nullptr)))
    return false;
  reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
  if (FAILED(reader->SetInput(stream.Get()))) return false;

  std::vector<XmlElement*> open;  // the path from the root to the element being filled
  bool haveRoot = false;
  XmlNodeType type;
  HRESULT hr;
  while ((hr = reader->Read(&type)) == S_OK) {
    if (type == XmlNodeType_Element) {
      XmlElement element;
      const wchar_t* name = nullptr;
      if (FAILED(reader->GetLocalName(&name, nullptr))) return false;
      element.name = name;
      for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
           more = reader->MoveToNextAttribute()) {
        const wchar_t* attrName = nullptr;
        const wchar_t* attrValue = nullptr;
        if (FAILED(reader->GetLocalName(&attrName, nullptr)) ||
            FAILED(reader->GetValue(&attrValue, nullptr)))
          return false;
        element.attributes.emplace_back(attrName, attrValue);
      }
      reader->MoveToElement();
      bool empty = reader->IsEmptyElement();
      XmlElement* placed;
      if (open.empty()) {
        if (haveRoot) return false;
        root = std::move(element);
        haveRoot = true;
        placed = &root;
      } else {
        open.back()->children.push_back(std::move(element));
        placed = &open.back()->children.back();
      }
      if (!empty) open.push_back(placed);
    } else if (type == XmlNodeType_EndElement) {
      if (open.empty()) return false;
      open.pop_back();
    }
  }
  return hr == S_FALSE && haveRoot && open.empty();
}

bool ParseResourceReference(const std::wstring& text, std::wstring& module, int& bitmapId) {
  static const wchar_t kPrefix[] = L"res:\\\\";
  const size_t prefixLength = wcslen(kPrefix);
  if (text.compare(0, prefixLength, kPrefix) != 0) return false;
  size_t comma = text.rfind(L',');
  if (comma == std::wstring::npos || comma <= prefixLength) return false;
  LONG id = 0;
  std::wstring idText = text.substr(comma + 1);
  if (!ToInt(&idText, id) || id <= 0 || id > 0xFFFF) return false;
  module = text.substr(prefixLength, comma - prefixLength);
  bitmapId = id;
  return true;
}

bool ParseColor(const std::wstring& text, COLORREF& color) {
  if (text.size() != 7 || text[0] != L'#') return false;
  for (size_t i = 1; i < 7; ++i) {
    if (!iswxdigit(text[i])) return false;
  }
  unsigned long v = wcstoul(text.c_str() + 1, nullptr, 16);
  color = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  return true;
}

bool LoadLayout(const std::wstring& document, Layout& layout) {
  XmlElement root;
  if (!ParseXml(document, root)) return false;
  const XmlElement* window = nullptr;
  for (const XmlElement& child : root.children) {
    if (child.name == L"Window") window = &child;
  }
  if (window == nullptr) return false;

  Layout result;
  result.size = {IntOr(*window, L"width", 0), IntOr(*window, L"height", 0)};
  if (result.size.cx <= 0 || result.size.cy <= 0) return false;
  const std::wstring* clip = window->Find(L"clippingColor");
  result.clipped = clip != nullptr && ParseColor(*clip, result.clippingColor);
  for (const XmlElement& child : window->children) {
    if (child.name == L"Clipping") {
      const std::wstring* style = child.Find(L"style");
      if (style != nullptr && *style == L"none") result.clipped = false;
      continue;
    }
    Element element;
    if (ReadElement(child, element)) result.elements.push_back(std::move(element));
  }
  layout = std::move(result);
  return true;
}

}  // namespace skin
