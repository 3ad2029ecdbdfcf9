// The tips window's skin: the skin document (a format string taking 16 image references), the
// skin script, and the module file whose bitmaps the document names.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

// The module whose bitmaps 201-204 the skin draws, looked up in the host's folder.
inline constexpr wchar_t kUpgradeModuleName[] = L"Cadenza_Upgrade.dll";

// Wide XML text; every image attribute is "res:\\%ls,%d": module path and bitmap ID.
#define TIPS_IMAGE L"image=\"res:\\\\%ls,%d\" "

inline constexpr wchar_t kTipsSkinDocument[] =
    L"<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
    L"<theme version=\"1.0\">\r\n"
    L"<Window width=\"258\" height=\"170\" minWidth=\"258\" maxWidth=\"258\" minHeight=\"170\" maxHeight=\"170\" clippingColor=\"#FF00FF\" alpha=\"false\" style=\"hard\">\r\n"
    L"  <Clipping style=\"all\"/>\r\n"
    L"  <Picture id=\"Picture_BG\" left=\"0\" top=\"0\" width=\"258\" height=\"170\" relative=\"ltrb\" zIndex=\"0\">\r\n"
    L"    <Img " TIPS_IMAGE L"x=\"0\" y=\"0\" w=\"258\" h=\"170\"/>\r\n"
    L"  </Picture>\r\n"
    L"  <Text id=\"Text_Title\" left=\"50\" top=\"12\" zIndex=\"0\" visible=\"true\">\r\n"
    L"    <Label value=\"Cadenza\" fontHeight=\"12\" fontStyle=\"B\" normalColor=\"#23619a\"/>\r\n"
    L"  </Text>\r\n"
    L"  <Text id=\"Text_1\" left=\"20\" top=\"40\" zIndex=\"0\" visible=\"true\">\r\n"
    L"    <Label value=\"已下载新版的Cadenza，是否现在安装？\" fontHeight=\"12\" normalColor=\"#2f4554\"/>\r\n"
    L"  </Text>\r\n"
    L"  <Button id=\"Button_Close\" left=\"237\" top=\"10\" width=\"15\" height=\"15\" relative=\"tr\" zIndex=\"2\" visible=\"true\" disabled=\"false\" toolTip=\"关闭\">\r\n"
    L"    <Normal " TIPS_IMAGE L"x=\"0\" y=\"0\" w=\"15\" h=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Over " TIPS_IMAGE L"x=\"15\" y=\"0\" w=\"15\" h=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Down " TIPS_IMAGE L"x=\"30\" y=\"0\" w=\"15\" h=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Event OnClick=\"1001\"/>\r\n"
    L"  </Button>\r\n"
    L"  <Button id=\"Button_OK\" left=\"142\" top=\"140\" width=\"50\" height=\"20\" relative=\"tr\" zIndex=\"2\" visible=\"true\" disabled=\"false\">\r\n"
    L"    <Normal " TIPS_IMAGE L"x=\"0\" y=\"0\" w=\"50\" h=\"20\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Over " TIPS_IMAGE L"x=\"50\" y=\"0\" w=\"50\" h=\"20\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Down " TIPS_IMAGE L"x=\"100\" y=\"0\" w=\"50\" h=\"20\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Label value=\"安装\" normalColor=\"#23619a\"/>\r\n"
    L"    <Event OnClick=\"1002\"/>\r\n"
    L"  </Button>\r\n"
    L"  <Button id=\"Button_Cancle\" left=\"200\" top=\"140\" width=\"50\" height=\"20\" relative=\"tr\" zIndex=\"2\" visible=\"true\" disabled=\"false\">\r\n"
    L"    <Normal " TIPS_IMAGE L"x=\"0\" y=\"0\" w=\"50\" h=\"20\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Over " TIPS_IMAGE L"x=\"50\" y=\"0\" w=\"50\" h=\"20\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Down " TIPS_IMAGE L"x=\"100\" y=\"0\" w=\"50\" h=\"20\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    <Label value=\"稍后\" normalColor=\"#23619a\"/>\r\n"
    L"    <Event OnClick=\"1003\"/>\r\n"
    L"  </Button>\r\n"
    L"  <CheckBox id=\"CheckBox_NotPrompt\" left=\"10\" top=\"142\" width=\"200\" height=\"20\" zIndex=\"1\" visible=\"true\" disabled=\"false\">\r\n"
    L"    <Icon>\r\n"
    L"      <UncheckNormal " TIPS_IMAGE L"x=\"0\" y=\"0\" w=\"15\" h=\"15\" width=\"15\" height=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"      <UncheckOver " TIPS_IMAGE L"x=\"15\" y=\"0\" w=\"15\" h=\"15\" width=\"15\" height=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"      <UncheckDown " TIPS_IMAGE L"x=\"30\" y=\"0\" w=\"15\" h=\"15\" width=\"15\" height=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"      <CheckedNormal " TIPS_IMAGE L"x=\"60\" y=\"0\" w=\"15\" h=\"15\" width=\"15\" height=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"      <CheckedOver " TIPS_IMAGE L"x=\"75\" y=\"0\" w=\"15\" h=\"15\" width=\"15\" height=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"      <CheckedDown " TIPS_IMAGE L"x=\"90\" y=\"0\" w=\"15\" h=\"15\" width=\"15\" height=\"15\" transparentColor=\"#FF00FF\"/>\r\n"
    L"    </Icon>\r\n"
    L"    <Label value=\"下次不再弹出\" left=\"18\" top=\"2\" normalColor=\"#23619a\" overColor=\"#23619a\"/>\r\n"
    L"    <Event OnClick=\"1004\"/>\r\n"
    L"  </CheckBox>\r\n"
    L"  <DlgItem id=\"DlgItem_Text\" left=\"25\" top=\"60\" width=\"225\" height=\"75\" relative=\"lt\" itemID=\"4097\" visible=\"true\"/>\r\n"
    L"</Window>\r\n"
    L"</theme>\r\n";

#undef TIPS_IMAGE

// A whole-number attribute of the first element whose start holds `element` (`id="Button_OK"`,
// `<Window `), read from the document at compile time: a name the document lacks stops the
// build, so the places below cannot drift from what the skin draws.
consteval int SkinNumber(std::wstring_view element, std::wstring_view attribute) {
  const std::wstring_view document = kTipsSkinDocument;
  const size_t start = document.find(element);
  if (start == std::wstring_view::npos) throw "no such element in the skin document";
  const size_t end = document.find(L'>', start);
  for (size_t at = document.find(attribute, start); at != std::wstring_view::npos && at < end;
       at = document.find(attribute, at + 1)) {
    const size_t value = at + attribute.size();
    if (document[at - 1] != L' ' || document.substr(value, 2) != L"=\"") continue;
    int number = 0;
    for (size_t k = value + 2; document[k] != L'"'; ++k) {
      if (document[k] < L'0' || document[k] > L'9') throw "not a whole number";
      number = number * 10 + (document[k] - L'0');
    }
    return number;
  }
  throw "no such attribute on the element";
}
// An element's rectangle in the window's client area, from its left, top, width and height.
consteval RECT SkinRect(std::wstring_view element) {
  const int left = SkinNumber(element, L"left");
  const int top = SkinNumber(element, L"top");
  return {left, top, left + SkinNumber(element, L"width"), top + SkinNumber(element, L"height")};
}

// The window's size and the content control's place in it, as the skin document lays them
// out: the window is made at its final size, so the skin's layout moves nothing.
inline constexpr SIZE kTipsWindowSize = {SkinNumber(L"<Window ", L"width"), SkinNumber(L"<Window ", L"height")};
inline constexpr RECT kTipsContentRect = SkinRect(L"id=\"DlgItem_Text\"");
// Six lines, each ended by CR LF; its three handlers are empty.
extern const wchar_t kTipsSkinScript[];

// The skin document with every image referring to `modulePath`, bitmaps in document order
// 201; 203 x3; 202 x6; 204 x6. The path is written as XML attribute text (&, <, >, " escaped).
std::wstring BuildTipsSkinDocument(const std::wstring& modulePath);
