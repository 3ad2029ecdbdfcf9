// The reference skin engine's renderer: draws a loaded skin document's images, texts, buttons
// and check boxes in the states the skin window gives it, and cuts the window to the shape of
// its images.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "base/handles.h"
#include "refhost/skin/skin_bitmap.h"
#include "refhost/skin/skin_document.h"

namespace skin {

// No element (nothing hovered or pressed).
inline constexpr int kNoElement = -1;

// What one drawing is made from: the layout and the elements' current states.
struct Frame {
  const Layout& layout;
  const std::vector<size_t>& paintOrder;  // element indices, lowest zIndex first
  const std::vector<bool>& checked;       // per element; meaningful for check boxes
  int hover;                              // element index or kNoElement
  int pressed;                            // element index or kNoElement
};

// Keeps the decoded bitmaps and the fonts between drawings; used on the window's thread.
class Renderer {
 public:
  // Paints the whole skin into target (the window's client area).
  void Render(HDC target, const Frame& frame);
  // The window's shape: every pixel of the drawn images in the clipping colour is cut away;
  // an unclipped document gives the window back its whole rectangle.
  void ApplyClipping(HWND window, const Frame& frame);

 private:
  void RenderImages(uint32_t* bits, const Frame& frame);
  void DrawImage(uint32_t* bits, const Frame& frame, const ImageRef& image, const RECT& place);
  HFONT Font(int height, bool bold);

  BitmapCache bitmaps_;
  std::map<std::pair<int, bool>, UniqueGdiObject> fonts_;
};

}  // namespace skin
