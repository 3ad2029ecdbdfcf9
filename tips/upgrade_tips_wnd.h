// The upgrade tips window: the skinned, modeless prompt that offers to install a downloaded
// upgrade, with its description folded into a read-only rich edit control.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "host/host_services.h"
#include "tips/rich_edit_control.h"
#include "tips/window_base.h"

inline constexpr UINT IDC_UPGRADE_CONTENT = 4097;

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

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  int OnCreate(CREATESTRUCTW* pCreate);
  void OnDestroy();
  void OnShowWindow(BOOL bShow, UINT nStatus);
  void OnContentLink(NMHDR* pNotifyStruct, LRESULT* pResult);
  // Keyboard answers (tips_keyboard.cpp): the focus frame and the content control's keys are
  // set up with the window; OnKeyDown is TRUE for a key the window answers.
  void SetUpKeyboard();
  void OnActivate(bool bActive);
  BOOL OnKeyDown(UINT nChar);
  void ShowKeyFocus(bool bShow);
  bool HasLink() const;
  // The fold's steps (upgrade_content.cpp).
  int VisibleLines() const;
  bool FitsWithLink(const std::wstring& strText, int nLines) const;
  void MarkLink() const;
  LRESULT OnSkinEvent(WPARAM wParam, LPARAM lParam);

  // Obtains the settings and skin window objects, binds and prepares this window and loads
  // the skin. FALSE at the first step that fails.
  BOOL SetUpSkin();

  Microsoft::WRL::ComPtr<IHostSkinWindow> m_spSkinWnd;
  Microsoft::WRL::ComPtr<IHostSettings> m_spSettings;
  RichEditControl m_ctrlContent;
  std::wstring m_strContent;
  BOOL m_bPrompt;
  HWND m_hFocusFrame = nullptr;  // the keyboard focus's frame (its first side), NULL until made
  HWND m_hFocusSides[4] = {};    // child windows: the frame's top, bottom, left and right
  int m_nKeyFocus = 0;           // which element has the keyboard focus
};

// What the log line carries of a description: the whole when short, else its start and the
// separator (a description from the record may be megabytes long).
std::wstring UpgradeContentForLog(const std::wstring& strContent);

// The process-wide tips window, created (hidden) on the first call. The object is returned
// even when its window could not be created.
CUpgradeTipsWnd* GetUpgradeTipsWnd();

// For the module's unload: deletes the tips window object (destroying its window) and
// unregisters the window class. A later GetUpgradeTipsWnd creates a new object.
void DestroyUpgradeTipsWnd();
