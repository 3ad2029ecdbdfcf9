// Folding the upgrade description into the tips window's content control. The control itself
// is the measuring device: the kept text with the separator and the show-more link appended is
// put into it, and the cut moves (from a guess where the last visible line ends, in growing
// steps, then halving) until the control reports no more lines than the content area shows,
// with the link whole on the last of them. Only a bounded prefix of the description is ever put
// into the control to measure, so the cost does not depend on how much text lies beyond the fold.
#include <algorithm>

#include "base/largest_fitting.h"
#include "tips/upgrade_tips_wnd.h"

namespace {

constexpr int kVisibleLines = 4;
const std::wstring kLineBreak = L"\r\n";
const std::wstring kSeparator = L"\u2026\u2026";

// The first measurement takes this many characters; when they fit in the visible lines and
// the description goes on, it is repeated with four times as many, up to the most. Four lines
// of the 225-pixel area hold a few hundred characters even in the narrowest glyphs; what lies
// beyond the most measured is treated as more text that follows.
constexpr size_t kFirstMeasuredChars = 512;
constexpr size_t kMostMeasuredChars = 8192;

// What "show more" shows and what the log line carries of a description, at most; a longer
// one is cut there and ends in the separator.
constexpr size_t kMostShownChars = 65536;
constexpr size_t kMostLoggedChars = 2048;

// p, moved back so that it splits neither a CR LF nor a surrogate pair.
size_t SnapDown(const std::wstring& text, size_t p) {
  p = std::min(p, text.size());
  if (p > 0 && p < text.size() &&
      ((text[p - 1] == L'\r' && text[p] == L'\n') ||
       (IS_HIGH_SURROGATE(text[p - 1]) && IS_LOW_SURROGATE(text[p]))))
    --p;
  return p;
}

// The index in text of the control's character position nPosition: the control counts a
// CR LF as one position.
size_t IndexOfPosition(const std::wstring& text, long nPosition) {
  size_t i = 0;
  for (long n = 0; n < nPosition && i < text.size(); ++n) {
    i += (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ? 2 : 1;
  }
  return i;
}

bool EndsWithLineBreak(const std::wstring& text, size_t end) {
  return end >= 2 && text[end - 2] == L'\r' && text[end - 1] == L'\n';
}

// text cut to at most nMost characters, ending in the separator when it was cut.
std::wstring Bounded(const std::wstring& text, size_t nMost) {
  if (text.size() <= nMost) return text;
  return text.substr(0, SnapDown(text, nMost)) + kSeparator;
}

}  // namespace

std::wstring UpgradeContentForLog(const std::wstring& strContent) {
  return Bounded(strContent, kMostLoggedChars);
}

// The whole lines the content area shows, at most four: a line counts when the next one starts
// no lower than the area's bottom. The host's font grows with the screen's DPI while the
// skin's area does not, so fewer lines may fit. Measured on the text the control holds when it
// has more lines than the area can show; otherwise with five short lines put in for it (the
// control then holds those).
int CUpgradeTipsWnd::VisibleLines(int nCount) const {
  RECT rc = {};
  const HWND content = m_ctrlContent.GetSafeHwnd();
  if (content == nullptr || !GetClientRect(content, &rc) || rc.bottom <= 0) return kVisibleLines;
  if (nCount <= kVisibleLines) m_ctrlContent.SetWindowText(L"x\r\nx\r\nx\r\nx\r\nx");
  // Lines start lower and lower: the last line that starts in the area is found from the
  // fourth backwards, which is one look when all four show.
  for (int k = kVisibleLines; k > 1; --k) {
    POINTL at = {};
    m_ctrlContent.Send(EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), m_ctrlContent.LineIndex(k));
    if (at.y <= rc.bottom) return k;
  }
  return 1;
}

bool CUpgradeTipsWnd::FitsWithLink(const std::wstring& strText, int nLines) const {
  m_ctrlContent.SetWindowText(strText);
  const int nCount = m_ctrlContent.GetLineCount();
  const long nEnd = m_ctrlContent.GetTextLength();
  const long nLink = static_cast<long>(kLinkText.size());
  return nCount > 0 && nCount <= nLines && nEnd >= nLink &&
         m_ctrlContent.LineFromChar(nEnd - nLink) == m_ctrlContent.LineFromChar(nEnd - 1);
}

namespace {

// The control shows its scroll bar only while its text is taller than the area, and wraps
// narrower then; every measurement is made without it, at the width that the folded text,
// which is never taller than the area, is shown at.
class ScrollBarOff {
 public:
  explicit ScrollBarOff(const RichEditControl& control) : control_(control) {
    control_.Send(EM_SHOWSCROLLBAR, SB_VERT, FALSE);
  }
  ~ScrollBarOff() { control_.Send(EM_SHOWSCROLLBAR, SB_VERT, TRUE); }
  ScrollBarOff(const ScrollBarOff&) = delete;
  ScrollBarOff& operator=(const ScrollBarOff&) = delete;

 private:
  const RichEditControl& control_;
};

}  // namespace

void CUpgradeTipsWnd::SetContent(const std::wstring& strContent) {
  if (strContent.empty()) return;
  m_strContent = Bounded(strContent, kMostShownChars);
  ScrollBarOff scrollBarOff(m_ctrlContent);
  int nCount = 0;
  const std::wstring strMeasured = MeasurePrefix(strContent, nCount);
  if (nCount == 0) return;  // no control
  const int nLines = VisibleLines(nCount);
  if (nCount <= kVisibleLines) m_ctrlContent.SetWindowText(strMeasured);
  size_t nHidden = 0, nLastLine = 0;
  if (!FindFirstHiddenLine(strContent, strMeasured, nCount, nLines, nHidden, nLastLine))
    return;  // shown whole
  FoldAt(strContent, nHidden, nLastLine, nLines);
  MarkLink();
}

// A prefix of the description, longer only while it fits and more follows; nCount is the
// number of lines the control makes of it (0: no control).
std::wstring CUpgradeTipsWnd::MeasurePrefix(const std::wstring& strContent, int& nCount) const {
  size_t nMeasured = SnapDown(strContent, std::min(strContent.size(), kFirstMeasuredChars));
  for (;;) {
    m_ctrlContent.SetWindowText(strContent.substr(0, nMeasured));
    nCount = m_ctrlContent.GetLineCount();
    if (nCount == 0 || nCount > kVisibleLines || nMeasured == strContent.size() ||
        nMeasured >= kMostMeasuredChars)
      return strContent.substr(0, nMeasured);
    nMeasured = SnapDown(strContent, std::min({strContent.size(), nMeasured * 4, kMostMeasuredChars}));
  }
}

// With the measured prefix in the control: where the first hidden line starts (nHidden) and
// where the last visible one does (nLastLine). False when the description is shown whole: it
// fits, and no line break follows its last visible line (an empty line after it is more text).
bool CUpgradeTipsWnd::FindFirstHiddenLine(const std::wstring& strContent, const std::wstring& strMeasured,
                                          int nCount, int nLines, size_t& nHidden, size_t& nLastLine) const {
  nHidden = strMeasured.size();
  if (nCount > nLines) {
    nHidden = IndexOfPosition(strMeasured, m_ctrlContent.LineIndex(nLines));
  } else if (strMeasured.size() == strContent.size()) {
    const size_t nLast = IndexOfPosition(strMeasured, m_ctrlContent.LineIndex(nCount - 1));
    if (nCount < nLines || strContent.find(kLineBreak, nLast) == std::wstring::npos) return false;
  }
  nLastLine = IndexOfPosition(strMeasured, m_ctrlContent.LineIndex(nLines - 1));
  return true;
}

// Leaves the folded text in the control: the visible lines whole with the link after them when
// the last one ends in a line break and the link fits there; otherwise the longest cut after
// which the separator and the link fit. The first guess gives the tail as many characters as
// it has at the end of the last visible line.
void CUpgradeTipsWnd::FoldAt(const std::wstring& strContent, size_t nHidden, size_t nLastLine, int nLines) const {
  const bool bLineBreak = EndsWithLineBreak(strContent, nHidden);
  if (bLineBreak && FitsWithLink(strContent.substr(0, nHidden - 2) + kLinkText, nLines)) return;

  const std::wstring strTail = kSeparator + kLinkText;
  size_t nTried = std::wstring::npos;  // the cut whose text the control holds
  auto fits = [&](size_t nCut) {
    nTried = SnapDown(strContent, nCut);
    return FitsWithLink(strContent.substr(0, nTried) + strTail, nLines);
  };
  const size_t nHigh = bLineBreak ? nHidden - 2 : nHidden;
  const size_t nGuess = std::min(nHigh, std::max(nLastLine, nHidden > strTail.size() ? nHidden - strTail.size() : 0));
  // The last resort, 0: the separator and the link alone.
  const size_t nCut = SnapDown(strContent, LargestFitting(0, nHigh, nGuess, fits));
  if (nTried != nCut) m_ctrlContent.SetWindowText(strContent.substr(0, nCut) + strTail);
}

// The link is the text's last four characters. Positions are the control's own, in which a
// line break is one position, so the link is found from the control's text length.
void CUpgradeTipsWnd::MarkLink() const {
  const long nEnd = m_ctrlContent.GetTextLength();
  const long nLink = static_cast<long>(kLinkText.size());
  if (nEnd < nLink) return;
  m_ctrlContent.SetSel(nEnd - nLink, nEnd);
  CHARFORMATW cf = {};
  m_ctrlContent.GetSelectionCharFormat(cf);
  cf.dwMask = CFM_COLOR | CFM_LINK;
  cf.dwEffects = (cf.dwEffects | CFE_LINK) & ~CFE_AUTOCOLOR;
  cf.crTextColor = kContentColor;
  m_ctrlContent.SetSelectionCharFormat(cf);
  m_ctrlContent.SetSel(-1, -1);
}

void CUpgradeTipsWnd::OnContentLink(NMHDR* pNotifyStruct, LRESULT* pResult) {
  *pResult = 0;
  const auto* pLink = reinterpret_cast<const ENLINK*>(pNotifyStruct);
  if (pLink->msg == WM_LBUTTONUP) m_ctrlContent.SetWindowText(m_strContent);
}
