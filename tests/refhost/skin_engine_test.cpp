// The reference skin engine: reading skin documents and bitmaps, and a bound window's size,
// shape, child placement, drawing states and element events.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "base/folders.h"
#include "player_api/host_services.h"
#include "refhost/skin/skin_bitmap.h"
#include "refhost/skin/skin_document.h"
#include "refhost/skin/skin_window.h"
#include "tests/common/window_kit.h"
#include "tips/tips_skin.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring ModulePath() { return GetModuleFolder() + L"Cadenza_Upgrade.dll"; }

// ---- documents and references ----

TEST(SkinDocument, TipsDocumentWithItsGb2312DeclarationGivesTheLayout) {
  skin::Layout layout;
  ASSERT_TRUE(skin::LoadLayout(BuildTipsSkinDocument(L"C:\\Host\\Cadenza_Upgrade.dll"), layout));
  EXPECT_EQ(258, layout.size.cx);
  EXPECT_EQ(170, layout.size.cy);
  EXPECT_TRUE(layout.clipped);
  EXPECT_EQ(RGB(255, 0, 255), layout.clippingColor);

  ASSERT_EQ(8u, layout.elements.size());
  const wchar_t* ids[] = {L"Picture_BG", L"Text_Title", L"Text_1", L"Button_Close", L"Button_OK",
                          L"Button_Cancle", L"CheckBox_NotPrompt", L"DlgItem_Text"};
  const int events[] = {0, 0, 0, 1001, 1002, 1003, 1004, 0};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(ids[i], layout.elements[i].id);
    EXPECT_EQ(events[i], layout.elements[i].clickEvent) << i;
  }
  EXPECT_TRUE(layout.elements[1].label.bold);
  EXPECT_EQ(L"已下载新版的Cadenza，是否现在安装？", layout.elements[2].label.text);

  // Every image names the module; bitmaps in document order 201; 203 x3; 202 x6; 204 x6.
  std::vector<int> bitmaps;
  for (const skin::Element& e : layout.elements) {
    for (int s = 0; s < skin::kSlotCount; ++s) {
      if (!e.hasImage[s]) continue;
      EXPECT_EQ(L"C:\\Host\\Cadenza_Upgrade.dll", e.images[s].module);
      bitmaps.push_back(e.images[s].bitmapId);
    }
  }
  EXPECT_EQ((std::vector<int>{201, 203, 203, 203, 202, 202, 202, 202, 202, 202, 204, 204, 204, 204,
                              204, 204}),
            bitmaps);
  EXPECT_EQ(60, layout.elements[6].images[skin::kCheckedOffset].source.left);
  EXPECT_EQ(4097, layout.elements[7].itemId);
}

// '&' is allowed in a folder name and must not break the document.
TEST(SkinDocument, ModulePathWithAnAmpersandSurvivesTheDocument) {
  const std::wstring path = L"C:\\Tom & Jerry's Music\\Cadenza_Upgrade.dll";
  skin::Layout layout;
  ASSERT_TRUE(skin::LoadLayout(BuildTipsSkinDocument(path), layout));
  EXPECT_EQ(path, layout.elements[0].images[skin::kNormal].module);
  EXPECT_EQ(path, layout.elements[6].images[5].module);
}

// A deep installation folder makes the document longer than the XML reader's first buffer.
TEST(SkinDocument, LongModulePathsGiveTheWholeLayout) {
  for (size_t length : {40u, 120u, 400u}) {
    const std::wstring path = L"C:\\" + std::wstring(length, L'd') + L"\\Cadenza_Upgrade.dll";
    skin::Layout layout;
    ASSERT_TRUE(skin::LoadLayout(BuildTipsSkinDocument(path), layout)) << length;
    EXPECT_EQ(258, layout.size.cx);
    EXPECT_EQ(path, layout.elements[6].images[5].module);
  }
}

TEST(SkinDocument, BadDocumentsAreRefused) {
  skin::Layout layout;
  EXPECT_FALSE(skin::LoadLayout(L"", layout));
  EXPECT_FALSE(skin::LoadLayout(L"<theme><Window width=\"10\" height=\"10\"></theme>", layout));
  EXPECT_FALSE(skin::LoadLayout(L"<theme><Window width=\"0\" height=\"10\"/></theme>", layout));
  EXPECT_FALSE(skin::LoadLayout(L"<theme/>", layout));
  EXPECT_FALSE(skin::LoadLayout(L"<?xml version=\"1.0\" encoding=\"gb2312\"", layout));
  EXPECT_TRUE(skin::LoadLayout(L"<theme><Window width=\"10\" height=\"20\"/></theme>", layout));
  EXPECT_EQ(20, layout.size.cy);
}

TEST(SkinDocument, ResourceReferences) {
  std::wstring module;
  int id = 0;
  EXPECT_TRUE(skin::ParseResourceReference(L"res:\\\\C:\\a,b\\x.dll,204", module, id));
  EXPECT_EQ(L"C:\\a,b\\x.dll", module);
  EXPECT_EQ(204, id);
  for (const wchar_t* bad : {L"res:\\C:\\x.dll,1", L"file:\\\\C:\\x.dll,1", L"res:\\\\C:\\x.dll",
                             L"res:\\\\C:\\x.dll,", L"res:\\\\C:\\x.dll,12a", L"res:\\\\C:\\x.dll,0",
                             L"res:\\\\,5", L"res:\\\\C:\\x.dll,70000"}) {
    EXPECT_FALSE(skin::ParseResourceReference(bad, module, id));
  }
}

// ---- bitmaps ----

std::vector<BYTE> Dib(int width, int height, int bits, const std::vector<RGBQUAD>& table,
                      const std::vector<BYTE>& rows) {
  BITMAPINFOHEADER h = {};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = BI_RGB;
  h.biClrUsed = static_cast<DWORD>(table.size());
  std::vector<BYTE> out(sizeof h + table.size() * sizeof(RGBQUAD) + rows.size());
  memcpy(out.data(), &h, sizeof h);
  if (!table.empty()) memcpy(out.data() + sizeof h, table.data(), table.size() * sizeof(RGBQUAD));
  memcpy(out.data() + sizeof h + table.size() * sizeof(RGBQUAD), rows.data(), rows.size());
  return out;
}

TEST(SkinBitmap, DecodesPalettedAndTrueColourRowsBottomUp) {
  // 8-bit, 2 x 2: bottom row indices 0 1, top row 1 0; rows padded to four bytes.
  std::vector<BYTE> d8 = Dib(2, 2, 8, {{0x00, 0x00, 0xFF, 0}, {0xFF, 0x00, 0xFF, 0}},
                             {0, 1, 0, 0, 1, 0, 0, 0});
  skin::Pixels p;
  ASSERT_TRUE(skin::DecodePackedDib(d8.data(), d8.size(), p));
  EXPECT_EQ(0xFF00FFu, p.At(0, 0));  // top-left: index 1, magenta
  EXPECT_EQ(0xFF0000u, p.At(0, 1));  // bottom-left: index 0, red

  // 24-bit, 1 x 2: bottom pixel blue, top pixel green (bytes are B, G, R).
  std::vector<BYTE> d24 = Dib(1, 2, 24, {}, {0xFF, 0, 0, 0, 0, 0xFF, 0, 0});
  ASSERT_TRUE(skin::DecodePackedDib(d24.data(), d24.size(), p));
  EXPECT_EQ(0x00FF00u, p.At(0, 0));
  EXPECT_EQ(0x0000FFu, p.At(0, 1));
}

TEST(SkinBitmap, RefusesShortOrInconsistentData) {
  skin::Pixels p;
  std::vector<BYTE> d24 = Dib(4, 4, 24, {}, std::vector<BYTE>(48, 0));
  ASSERT_TRUE(skin::DecodePackedDib(d24.data(), d24.size(), p));
  EXPECT_FALSE(skin::DecodePackedDib(d24.data(), d24.size() - 1, p));       // rows cut short
  EXPECT_FALSE(skin::DecodePackedDib(d24.data(), 20, p));                   // header cut short
  std::vector<BYTE> badIndex = Dib(1, 1, 8, {{0, 0, 0, 0}}, {3, 0, 0, 0});  // beyond the table
  EXPECT_FALSE(skin::DecodePackedDib(badIndex.data(), badIndex.size(), p));
  std::vector<BYTE> huge = Dib(100000, 100000, 24, {}, {});
  EXPECT_FALSE(skin::DecodePackedDib(huge.data(), huge.size(), p));
  std::vector<BYTE> rle = d24;
  reinterpret_cast<BITMAPINFOHEADER*>(rle.data())->biCompression = BI_RLE8;
  EXPECT_FALSE(skin::DecodePackedDib(rle.data(), rle.size(), p));
}

TEST(SkinBitmap, ComponentCarriesTheFourTipsBitmaps) {
  skin::BitmapCache cache;
  struct { int id, width, height; } expected[] = {{201, 258, 170}, {202, 150, 20}, {203, 45, 15},
                                                 {204, 120, 15}};
  for (const auto& e : expected) {
    const skin::Pixels* p = cache.Get(ModulePath(), e.id);
    ASSERT_NE(nullptr, p) << e.id;
    EXPECT_EQ(e.width, p->width);
    EXPECT_EQ(e.height, p->height);
  }
  // Transparent where the skin cuts: the background's corner and the button faces' corners.
  EXPECT_EQ(0xFF00FFu, cache.Get(ModulePath(), 201)->At(0, 0));
  EXPECT_EQ(0xFF00FFu, cache.Get(ModulePath(), 202)->At(50, 0));
  EXPECT_EQ(nullptr, cache.Get(ModulePath(), 205));
  EXPECT_EQ(nullptr, cache.Get(GetModuleFolder() + L"missing.dll", 201));
}

// ---- a bound window ----

struct SkinEvent {
  WPARAM id;
  VARTYPE vt;
  VARTYPE innerVt;
  LONG innerValue;
};
std::vector<SkinEvent> g_events;
std::function<void()> g_onEvent;  // runs inside the event, while the skin reports it

LRESULT CALLBACK HostWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SKINEVENT) {
    const auto* v = reinterpret_cast<const VARIANT*>(lParam);
    SkinEvent e = {wParam, v->vt, VT_EMPTY, -1};
    if (v->vt == (VT_BYREF | VT_VARIANT)) {
      e.innerVt = v->pvarVal->vt;
      e.innerValue = v->pvarVal->lVal;
    }
    g_events.push_back(e);
    if (g_onEvent) g_onEvent();
    return 0;
  }
  return DefWindowProcW(hWnd, message, wParam, lParam);
}

class SkinWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    g_onEvent = nullptr;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SkinEngineTestWindow";
    RegisterClassExW(&wc);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, nullptr, WS_POPUP, 40, 40, 10, 10, nullptr,
                            nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, hwnd_);
    child_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd_,
                             reinterpret_cast<HMENU>(4097), wc.hInstance, nullptr);
    ASSERT_NE(nullptr, child_);
  }
  void TearDown() override {
    g_onEvent = nullptr;
    skin_.Reset();
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  }

  ComPtr<IHostSkinWindow> NewSkin() {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, CreateSkinWindowObject(&unknown));
    ComPtr<IHostSkinWindow> skinWindow;
    EXPECT_EQ(S_OK, unknown.As(&skinWindow));
    return skinWindow;
  }

  HRESULT Load(IHostSkinWindow* skinWindow, const std::wstring& document) {
    BSTR doc = SysAllocStringLen(document.data(), static_cast<UINT>(document.size()));
    BSTR script = SysAllocString(kTipsSkinScript);
    HRESULT hr = skinWindow->LoadSkin(hwnd_, doc, script);
    SysFreeString(doc);
    SysFreeString(script);
    return hr;
  }

  void BindTipsSkin() {
    skin_ = NewSkin();
    ASSERT_EQ(S_OK, skin_->BindWindow(hwnd_));
    ASSERT_EQ(S_OK, skin_->PrepareWindow(hwnd_));
    ASSERT_EQ(S_OK, Load(skin_.Get(), BuildTipsSkinDocument(ModulePath())));
  }

  void Click(int x, int y) {
    SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(hwnd_, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }

  HWND hwnd_ = nullptr;
  HWND child_ = nullptr;
  ComPtr<IHostSkinWindow> skin_;
};

TEST_F(SkinWindowTest, LoadSkinSizesClipsAndPlacesTheDialogItem) {
  BindTipsSkin();
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  EXPECT_EQ(258, rc.right - rc.left);
  EXPECT_EQ(170, rc.bottom - rc.top);

  GetWindowRect(child_, &rc);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(25, rc.left);
  EXPECT_EQ(60, rc.top);
  EXPECT_EQ(250, rc.right);
  EXPECT_EQ(135, rc.bottom);

  // Shaped by the clipping colour: the background's magenta corner is cut away.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, GetWindowRgn(hwnd_, region));
  EXPECT_FALSE(PtInRegion(region, 0, 0));
  EXPECT_FALSE(PtInRegion(region, 257, 169));
  EXPECT_TRUE(PtInRegion(region, 129, 85));
  EXPECT_TRUE(PtInRegion(region, 0, 85));
  DeleteObject(region);
}

TEST_F(SkinWindowTest, DrawsBackgroundTextsAndButtonStatesFromTheBitmaps) {
  BindTipsSkin();
  skin::BitmapCache cache;
  const skin::Pixels* background = cache.Get(ModulePath(), 201);
  const skin::Pixels* faces = cache.Get(ModulePath(), 202);
  ASSERT_TRUE(background && faces);

  testing_support::Capture normal = testing_support::PrintClient(hwnd_);
  ASSERT_EQ(258, normal.width);
  EXPECT_EQ(background->At(129, 100), normal.At(129, 100));  // inside the description panel
  EXPECT_EQ(background->At(5, 80), normal.At(5, 80));
  // The title is drawn over the background at (50, 12).
  int titlePixels = 0;
  for (int y = 12; y < 26; ++y)
    for (int x = 50; x < 100; ++x) titlePixels += normal.At(x, y) != background->At(x, y);
  EXPECT_GT(titlePixels, 20);

  // Install's face at (142, 140): normal, hover and pressed frames of bitmap 202.
  const int fx = 2, fy = 10;  // a point on the face's edge, outside its label
  ASSERT_NE(faces->At(fx, fy), faces->At(50 + fx, fy));
  ASSERT_NE(faces->At(50 + fx, fy), faces->At(100 + fx, fy));
  EXPECT_EQ(faces->At(fx, fy), normal.At(142 + fx, 140 + fy));
  SendMessageW(hwnd_, WM_MOUSEMOVE, 0, MAKELPARAM(167, 150));
  EXPECT_EQ(faces->At(50 + fx, fy), testing_support::PrintClient(hwnd_).At(142 + fx, 140 + fy));
  SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(167, 150));
  EXPECT_EQ(faces->At(100 + fx, fy), testing_support::PrintClient(hwnd_).At(142 + fx, 140 + fy));
  SendMessageW(hwnd_, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));  // released elsewhere: no click
  SendMessageW(hwnd_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(faces->At(fx, fy), testing_support::PrintClient(hwnd_).At(142 + fx, 140 + fy));
  EXPECT_TRUE(g_events.empty());
}

TEST_F(SkinWindowTest, ClicksReportEventsAndTheCheckBoxTogglesItsState) {
  BindTipsSkin();
  Click(244, 17);   // Close
  Click(167, 150);  // Install, which lies above the check box's wide rectangle
  Click(205, 150);  // Later, where it too overlaps the check box
  Click(17, 150);   // check box: ticked
  Click(60, 152);   // its label: unticked
  Click(100, 100);  // the description panel: no element
  ASSERT_EQ(5u, g_events.size());
  EXPECT_EQ(1001u, g_events[0].id);
  EXPECT_EQ(1002u, g_events[1].id);
  EXPECT_EQ(1003u, g_events[2].id);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(VT_EMPTY, g_events[i].vt);
  for (int i = 3; i < 5; ++i) {
    EXPECT_EQ(1004u, g_events[i].id);
    EXPECT_EQ(VT_BYREF | VT_VARIANT, g_events[i].vt);
    EXPECT_EQ(VT_I4, g_events[i].innerVt);
  }
  EXPECT_EQ(1, g_events[3].innerValue);
  EXPECT_EQ(0, g_events[4].innerValue);

  // Ticked frames come from x 60 on in bitmap 204.
  skin::BitmapCache cache;
  const skin::Pixels* box = cache.Get(ModulePath(), 204);
  ASSERT_NE(nullptr, box);
  Click(17, 150);
  SendMessageW(hwnd_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(box->At(60 + 7, 7), testing_support::PrintClient(hwnd_).At(10 + 7, 144 + 7));
}

// Where rectangles overlap, the element drawn last takes the click: the higher zIndex, and among
// equal ones the later element of the document.
TEST_F(SkinWindowTest, OverlappingElementsGiveTheClickToTheOneDrawnLast) {
  skin_ = NewSkin();
  ASSERT_EQ(S_OK, skin_->BindWindow(hwnd_));
  ASSERT_EQ(S_OK, skin_->PrepareWindow(hwnd_));
  ASSERT_EQ(S_OK, Load(skin_.Get(),
                       L"<theme><Window width=\"100\" height=\"50\">"
                       L"<Button id=\"A\" left=\"0\" top=\"0\" width=\"60\" height=\"50\" zIndex=\"1\"><Event OnClick=\"11\"/></Button>"
                       L"<Button id=\"B\" left=\"40\" top=\"0\" width=\"60\" height=\"50\" zIndex=\"1\"><Event OnClick=\"12\"/></Button>"
                       L"<CheckBox id=\"C\" left=\"0\" top=\"0\" width=\"100\" height=\"50\" zIndex=\"0\"><Event OnClick=\"13\"/></CheckBox>"
                       L"</Window></theme>"));
  Click(50, 25);  // A and B, equal zIndex: B comes later
  Click(10, 25);  // A over the later but lower C
  Click(90, 25);  // B over C
  ASSERT_EQ(3u, g_events.size());
  EXPECT_EQ(12u, g_events[0].id);
  EXPECT_EQ(11u, g_events[1].id);
  EXPECT_EQ(12u, g_events[2].id);
}

// The component's content control is WS_EX_TRANSPARENT, which WS_CLIPCHILDREN does not clip: a
// repaint of the skin alone must not paint over it (it would not draw itself again).
TEST_F(SkinWindowTest, RepaintLeavesATransparentChildAsItDrewItself) {
  DestroyWindow(child_);
  child_ = CreateWindowExW(WS_EX_TRANSPARENT, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BLACKRECT,
                           0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(4097),
                           GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, child_);
  BindTipsSkin();
  ShowWindow(hwnd_, SW_SHOWNA);
  RECT rc;
  GetWindowRect(child_, &rc);
  // The child's own colour, which the skin does not have there.
  const uint32_t own = testing_support::PrintClient(child_).At(1, 1);
  ASSERT_NE(own, testing_support::PrintClient(hwnd_).At(25 + 1, 60 + 1));
  const auto childShows = [&rc, own] {
    const testing_support::Capture shown = testing_support::CaptureScreen(rc);
    return shown.width > 0 && shown.At(1, 1) == own && shown.At(shown.width / 2, shown.height / 2) == own;
  };
  ASSERT_TRUE(testing_support::PumpUntil(childShows, 3000));
  // The skin alone repaints, as after a click that redraws the whole window.
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
  testing_support::PumpPending(200);
  EXPECT_TRUE(childShows());
}

TEST_F(SkinWindowTest, ReleasedDuringItsOwnEventAndBoundAgain) {
  BindTipsSkin();
  // The window lets its skin go while the click is reported, as a tear-down does.
  g_onEvent = [this] { skin_.Reset(); };
  Click(225, 150);
  ASSERT_EQ(1u, g_events.size());
  EXPECT_FALSE(skin_);
  g_onEvent = nullptr;
  Click(225, 150);
  EXPECT_EQ(1u, g_events.size());  // no skin, no events

  // A new object binds to the same window and answers clicks again.
  BindTipsSkin();
  Click(167, 150);
  ASSERT_EQ(2u, g_events.size());
  EXPECT_EQ(1002u, g_events[1].id);
}

TEST_F(SkinWindowTest, BindingRules) {
  ComPtr<IHostSkinWindow> first = NewSkin();
  EXPECT_EQ(E_INVALIDARG, first->BindWindow(nullptr));
  EXPECT_TRUE(FAILED(first->PrepareWindow(hwnd_)));  // not bound yet
  EXPECT_TRUE(FAILED(Load(first.Get(), BuildTipsSkinDocument(ModulePath()))));
  ASSERT_EQ(S_OK, first->BindWindow(hwnd_));
  EXPECT_TRUE(FAILED(Load(first.Get(), BuildTipsSkinDocument(ModulePath()))));  // not prepared

  ComPtr<IHostSkinWindow> second = NewSkin();
  EXPECT_TRUE(FAILED(second->BindWindow(hwnd_)));  // one object draws a window
  first.Reset();
  EXPECT_EQ(S_OK, second->BindWindow(hwnd_));

  // A document that is not XML leaves the window as it was.
  ASSERT_EQ(S_OK, second->PrepareWindow(hwnd_));
  EXPECT_TRUE(FAILED(Load(second.Get(), L"<theme><Window")));
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  EXPECT_EQ(10, rc.right - rc.left);
}

TEST_F(SkinWindowTest, MissingImagesStillGiveAWorkingWindow) {
  skin_ = NewSkin();
  ASSERT_EQ(S_OK, skin_->BindWindow(hwnd_));
  ASSERT_EQ(S_OK, skin_->PrepareWindow(hwnd_));
  ASSERT_EQ(S_OK, Load(skin_.Get(), BuildTipsSkinDocument(L"C:\\nowhere\\Cadenza_Upgrade.dll")));
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  EXPECT_EQ(258, rc.right - rc.left);
  testing_support::PrintClient(hwnd_);
  Click(225, 150);
  ASSERT_EQ(1u, g_events.size());
  EXPECT_EQ(1003u, g_events[0].id);
}

TEST_F(SkinWindowTest, DestroyingTheWindowUnbinds) {
  BindTipsSkin();
  DestroyWindow(hwnd_);
  // The object outlives its window and can bind a new one.
  hwnd_ = CreateWindowExW(0, L"SkinEngineTestWindow", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr,
                          nullptr, GetModuleHandleW(nullptr), nullptr);
  EXPECT_EQ(S_OK, skin_->BindWindow(hwnd_));
}

}  // namespace
