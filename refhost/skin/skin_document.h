// The skin document of the reference skin engine: the XML text read into a tree, and the
// layout a skin window is drawn from (window size, clipping colour, elements with images,
// labels and events, and the place of a dialog item).
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

namespace skin {

struct XmlElement {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> attributes;
  std::vector<XmlElement> children;

  const std::wstring* Find(const wchar_t* attribute) const;  // NULL when absent
};

// Reads an XML text. An XML declaration at the start is dropped before parsing: the text is
// already wide, whatever encoding the declaration names. False when the text is not well formed.
bool ParseXml(const std::wstring& text, XmlElement& root);

// A bitmap reference "res:\\<module path>,<bitmap id>" with the part of the bitmap to draw.
struct ImageRef {
  std::wstring module;
  int bitmapId = 0;
  RECT source = {};  // x, y, x + w, y + h in the bitmap
  bool keyed = false;
  COLORREF transparentColor = 0;
};

// Splits "res:\\<path>,<id>"; false for any other form.
bool ParseResourceReference(const std::wstring& text, std::wstring& module, int& bitmapId);

struct Label {
  std::wstring text;
  POINT offset = {};
  bool placed = false;  // left/top given: drawn at the offset, else centred in the element
  int fontHeight = 12;
  bool bold = false;
  COLORREF normalColor = RGB(0, 0, 0);
  COLORREF overColor = RGB(0, 0, 0);
};

enum class ElementKind { Picture, Text, Button, CheckBox, DlgItem };

// Image slots: a picture uses [0]; a button Normal, Over, Down; a check box the unticked
// Normal, Over, Down and then the ticked ones.
enum ImageSlot { kNormal = 0, kOver = 1, kDown = 2, kCheckedOffset = 3, kSlotCount = 6 };

struct Element {
  ElementKind kind = ElementKind::Picture;
  std::wstring id;
  RECT rect = {};  // in window coordinates; a text element's rect is only its origin
  int zIndex = 0;
  bool visible = true;
  bool disabled = false;
  int clickEvent = 0;  // 0: no OnClick event
  bool hasImage[kSlotCount] = {};
  ImageRef images[kSlotCount];
  bool hasLabel = false;
  Label label;
  int itemId = 0;  // DlgItem: the child control's ID
  std::wstring toolTip;

  bool Interactive() const {
    return visible && !disabled && (kind == ElementKind::Button || kind == ElementKind::CheckBox);
  }
};

struct Layout {
  SIZE size = {};
  bool clipped = false;  // "Clipping style=all" or a clipping colour: cut the colour's pixels away
  COLORREF clippingColor = RGB(255, 0, 255);
  std::vector<Element> elements;  // in document order
};

// Builds the layout from a skin document; false when it is not XML or has no sized Window.
bool LoadLayout(const std::wstring& document, Layout& layout);

bool ParseColor(const std::wstring& text, COLORREF& color);  // "#RRGGBB"

}  // namespace skin
