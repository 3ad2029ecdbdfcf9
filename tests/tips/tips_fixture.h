// The tips window test program's shared parts: the host it runs against (a fake host service
// provider with skin windows of the reference engine), reading the window and its content
// control, a key pressed through the input queue, and the fixture that gives each test the
// process-wide window hidden and a fresh host.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include <gtest/gtest.h>

#include "tips/upgrade_tips_wnd.h"

namespace tips_test {

// The link that ends a folded description, alone and after the separator of a cut line.
extern const std::wstring kLink;
extern const std::wstring kSeparatorAndLink;

// The host's main window, the tips window's owner (null in a run without a provider).
HWND HostMainWindow();

// Set for a child run of this program in which no host service provider exists.
inline constexpr wchar_t kNoProviderVariable[] = L"CADENZA_TIPS_TEST_NO_PROVIDER";
bool WithoutProvider();

// The host as the tips window expects it: skin windows of the reference engine, and a host-kept
// upgrade host that records ScheduledUpgrade.
void ResetTipsHost();

HWND Content(HWND tips);
std::wstring TextOf(HWND control);
RECT WindowRect(HWND hWnd);
RECT WorkArea();
// Whether the content control's character at `position` carries `effect` (CFE_LINK, say).
bool HasEffect(HWND control, long position, DWORD effect);
// The content control's length in characters, as it counts them.
long ControlLength(HWND control);

// A key pressed as a keyboard does, through the input queue, and the queue pumped after it.
void Press(WORD key, bool shift = false);

// The process-wide window, hidden, with a fresh host, for each test.
class TipsWindowTest : public testing::Test {
 protected:
  void SetUp() override;

  HWND content() const { return Content(hwnd_); }

  void Show(const std::wstring& description);

  LRESULT Event(WPARAM id, const VARIANT* argument);
  LRESULT Event(WPARAM id);
  // The check box's event, as the skin engine reports it: a reference to a VT_I4 state.
  LRESULT CheckBox(LONG ticked);
  // Runs the tear-down the window posted to itself.
  void FinishTearDown();

  CUpgradeTipsWnd* tips_ = nullptr;
  HWND hwnd_ = nullptr;
};

}  // namespace tips_test
