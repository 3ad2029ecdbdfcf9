// The upgrade tips window: the skinned, modeless prompt that offers to install a downloaded
// upgrade, with its description folded into a read-only rich edit control.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "adapters/host_provider_cache.h"
#include "tips/rich_edit_control.h"
#include "tips/window_base.h"

inline constexpr UINT IDC_UPGRADE_CONTENT = 4097;

// The show-more link that ends a folded description, and the colour of the description's text
// (the link's too).
inline const std::wstring kLinkText = L"显示更多";
inline constexpr COLORREF kContentColor = RGB(0x23, 0x65, 0x99);

// Skin event ids of the tips window's elements.
inline constexpr WPARAM kEventClose = 1001;
inline constexpr WPARAM kEventInstall = 1002;
inline constexpr WPARAM kEventLater = 1003;
inline constexpr WPARAM kEventNotPrompt = 1004;

class CUpgradeTipsWnd : public WindowBase {
 public:
  CUpgradeTipsWnd();
  ~CUpgradeTipsWnd() override;

  // Lays the description into the content control, folded to the display lines the content
  // area shows (four) with the show-more link when it is longer; an empty description changes
  // nothing. The cost is bounded whatever the description's length.
  void SetContent(const std::wstring& strContent);

  // Shows or hides the window. Shown again after Close, Later or Install tore its skin down,
  // it sets the skin up first and stays hidden (FALSE) when that fails, so that it never
  // appears without its buttons; the next show tries again.
  BOOL ShowWindow(int nCmdShow) override;
  // SetContent, then show: one upgrade prompt on this window's own thread.
  BOOL Prompt(const std::wstring& strContent);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  int OnCreate(CREATESTRUCTW* pCreate);
  void OnDestroy();
  void OnShowWindow(BOOL bShow, UINT nStatus);
  void OnContentLink(NMHDR* pNotifyStruct, LRESULT* pResult);
  // Keyboard answers (tips_keyboard.cpp): the content control's keys are set up with the
  // window, the focus frame when the focus is first shown; OnKeyDown is TRUE for a key the
  // window answers.
  void SetUpKeyboard();
  void MakeFocusFrame();
  void OnActivate(bool bActive);
  BOOL OnKeyDown(UINT nChar);
  void ShowKeyFocus(bool bShow);
  bool HasLink() const;
  // The fold's steps (upgrade_content.cpp).
  std::wstring MeasurePrefix(const std::wstring& strContent, int& nCount) const;
  int VisibleLines(int nCount) const;
  bool FindFirstHiddenLine(const std::wstring& strContent, const std::wstring& strMeasured, int nCount,
                           int nLines, size_t& nHidden, size_t& nLastLine) const;
  void FoldAt(const std::wstring& strContent, size_t nHidden, size_t nLastLine, int nLines) const;
  bool FitsWithLink(const std::wstring& strText, int nLines) const;
  void MarkLink() const;
  LRESULT OnSkinEvent(WPARAM wParam, LPARAM lParam);

  // Obtains the settings and skin window objects, binds and prepares this window and loads
  // the skin. FALSE when an object cannot be obtained, binding or preparing fails, or the skin's
  // texts cannot be allocated, and nothing kept then; what LoadSkin answers is not looked at.
  BOOL SetUpSkin();
  // After an answer: hides the window and posts the skin's tear-down (the skin engine's
  // event that brought the answer is still running).
  void HideAndTearDown();

  friend CUpgradeTipsWnd* GetUpgradeTipsWnd();
  friend BOOL UpgradeTipsWndInUse();
  friend void DestroyUpgradeTipsWnd();
  // TRUE while this object's window exists (it may belong to another thread).
  BOOL HasLiveWindow() const;
  // For an object whose window is gone: forgets the window handles and lets go of the host
  // objects without calling them when the window vanished without its WM_DESTROY (its thread
  // ended), since their apartment may be gone with it.
  void Abandon();

  Microsoft::WRL::ComPtr<IHostSkinWindow> m_spSkinWnd;
  Microsoft::WRL::ComPtr<IHostSettings> m_spSettings;
  RichEditControl m_ctrlContent;
  std::wstring m_strContent;
  BOOL m_bPrompt;
  HWND m_hFocusFrame = nullptr;  // the keyboard focus's frame (its first side), NULL until made
  HWND m_hFocusSides[4] = {};    // child windows: the frame's top, bottom, left and right
  int m_nKeyFocus = 0;           // which element has the keyboard focus
  UINT m_nSkinGeneration = 0;    // counts the skin's set-ups and the shows that keep it
  bool m_bTearDownPending = false;  // an answer posted the tear-down of this generation
};

// The window's title: the host's caption of the upgrade prompts. Not drawn (the skin draws its
// own); it names the window for screen readers and window lists.
std::wstring UpgradeTipsTitle();

// What the log line carries of a description: the whole when short, else its start and the
// separator (a description from the record may be megabytes long).
std::wstring UpgradeContentForLog(const std::wstring& strContent);

// The process-wide tips window, created (hidden) on the first call. The object is returned
// even when its window could not be created. When its window is gone (never created, its
// owner destroyed, its thread ended), the next call makes a new object and window. While a
// window exists the library holds a reference to itself, so that a host that frees it
// anyway never leaves a window whose procedure is unmapped.
CUpgradeTipsWnd* GetUpgradeTipsWnd();

// One upgrade prompt: the description into the tips window, then shown. On another thread
// than the window's, the prompt is posted to the window's thread instead of calling across
// (that thread may not be pumping now). FALSE when nothing could be shown or posted.
BOOL PromptUpgradeTips(const std::wstring& strContent);

// TRUE while the tips window exists. A window that has gone is cleaned up here, and the
// library's reference to itself is dropped.
BOOL UpgradeTipsWndInUse();
// After UpgradeTipsWndInUse said FALSE: the tips window's provider of the calling apartment is
// released; TRUE while another apartment still keeps one.
BOOL UpgradeTipsProvidersKept();

// Destroys the tips window (on its own thread), deletes the object, unregisters the window
// class and drops the library's reference to itself. A later GetUpgradeTipsWnd starts over.
void DestroyUpgradeTipsWnd();
