// The tips window's skin document and script.
#include "tips/tips_skin.h"

#include "base/text.h"

#define TIPS_IMAGE L"image=\"res:\\\\%ls,%d\" "

const wchar_t kTipsSkinDocument[] =
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

const wchar_t kTipsSkinScript[] =
    L"Sub Window_OnInit()\r\n"
    L"End Sub\r\n"
    L"Sub Window_OnSize(cx,cy)\r\n"
    L"End Sub\r\n"
    L"Sub Window_OnNotify(code,var)\r\n"
    L"End Sub\r\n";

namespace {

// A file path may hold '&' (and, in principle, the other markup characters); unescaped they
// would make the document unreadable and the window blank.
std::wstring AsAttributeText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::wstring BuildTipsSkinDocument(const std::wstring& modulePath) {
  const std::wstring p = AsAttributeText(modulePath);
  const wchar_t* m = p.c_str();
  return FormatText(kTipsSkinDocument, m, 201, m, 203, m, 203, m, 203, m, 202, m, 202, m, 202, m,
                    202, m, 202, m, 202, m, 204, m, 204, m, 204, m, 204, m, 204, m, 204);
}
