// Folding the upgrade description into the tips window's content control: the control
// itself measures the text; a description longer than four display lines is cut and ends in
// the show-more link, which shows the whole description when clicked.
#include <algorithm>

#include "tips/upgrade_tips_wnd.h"

namespace {

constexpr int kVisibleLines = 4;
const std::wstring kLineBreak = L"\r\n";
const std::wstring kLinkText = L"显示更多";
const std::wstring kSeparator = L"\u2026\u2026";
constexpr COLORREF kLinkColor = RGB(0x23, 0x65, 0x99);

// The first `count` characters of text; none when count is not positive.
void KeepFirst(std::wstring& text, long count) {
  text.resize(static_cast<size_t>(std::clamp<long>(count, 0, static_cast<long>(text.size()))));
}

}  // namespace

void CUpgradeTipsWnd::SetContent(const std::wstring& strContent) {
  if (strContent.empty()) return;
  m_strContent = strContent;

  // Each candidate is the description up to one of its line breaks; the walk stops at the
  // first candidate that needed folding.
  for (size_t i = strContent.find(kLineBreak); i != std::wstring::npos;
       i = strContent.find(kLineBreak, i + kLineBreak.size())) {
    if (ShowContent(strContent.substr(0, i), TRUE)) return;
  }
  ShowContent(strContent, FALSE);
}

BOOL CUpgradeTipsWnd::ShowContent(std::wstring strText, BOOL bMore) {
  m_ctrlContent.SetWindowText(strText);
  const int nLines = m_ctrlContent.GetLineCount();
  if (nLines < kVisibleLines || (nLines == kVisibleLines && !bMore)) return FALSE;

  const long nLength = static_cast<long>(strText.size());
  if (nLines > kVisibleLines) {
    // Too long: drop what the fifth and later display lines hold, then room for the link.
    long nHidden = 0;
    for (int k = kVisibleLines; k < nLines; ++k)
      nHidden += m_ctrlContent.LineLength(m_ctrlContent.LineIndex(k));
    KeepFirst(strText, nLength - nHidden);
    KeepFirst(strText, static_cast<long>(strText.size() - kSeparator.size() - kLinkText.size()));
    strText += kSeparator + kLinkText;
  } else {
    // Four lines full and more follows: the link goes at the end of the fourth line, which
    // may hold as many characters as the line that holds the caret (the first, right after
    // the text was set). That line is found by its index: not every rich edit control answers
    // EM_LINELENGTH for -1 (Wine's gives 0, which would always cut the whole fourth line).
    const long nWidth = m_ctrlContent.LineLength(m_ctrlContent.LineIndex(-1));
    const long nFourth = m_ctrlContent.LineLength(m_ctrlContent.LineIndex(kVisibleLines - 1));
    // The cut stays within the fourth line: a first line shorter than the link would
    // otherwise reach back into the third line and split its line break.
    const long nExcess =
        std::min(static_cast<long>(kLinkText.size()) + nFourth - nWidth, nFourth);
    if (nExcess > 0) {
      KeepFirst(strText, nLength - nExcess);
      strText += kSeparator + kLinkText;
    } else {
      strText += kLinkText;
    }
  }
  m_ctrlContent.SetWindowText(strText);

  // The link is the text's last four characters. Positions are the control's own, in which a
  // line break is one position, so the link is found from the control's text length rather
  // than from its index in strText.
  const long nEnd = m_ctrlContent.GetTextLength();
  const long nLink = static_cast<long>(kLinkText.size());
  if (nEnd >= nLink) {
    m_ctrlContent.SetSel(nEnd - nLink, nEnd);
    CHARFORMATW cf = {};
    m_ctrlContent.GetSelectionCharFormat(cf);
    cf.dwMask = CFM_COLOR | CFM_LINK;
    cf.dwEffects = (cf.dwEffects | CFE_LINK) & ~CFE_AUTOCOLOR;
    cf.crTextColor = kLinkColor;
    m_ctrlContent.SetSelectionCharFormat(cf);
    m_ctrlContent.SetSel(-1, -1);
  }
  return TRUE;
}

void CUpgradeTipsWnd::OnContentLink(NMHDR* pNotifyStruct, LRESULT* pResult) {
  *pResult = 0;
  const auto* pLink = reinterpret_cast<const ENLINK*>(pNotifyStruct);
  if (pLink->msg == WM_LBUTTONUP) m_ctrlContent.SetWindowText(m_strContent);
}
