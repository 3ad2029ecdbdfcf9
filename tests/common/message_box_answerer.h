// Answers the message boxes this thread opens: a WH_CBT hook sees each box as it is activated,
// records its caption, text and whether it shows an icon, and presses the wanted button.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct SeenMessageBox {
  std::wstring caption;
  std::wstring text;
  bool hasIcon = false;
  bool hasYes = false;
  bool hasNo = false;
};

class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(int answer);  // IDYES or IDNO
  ~MessageBoxAnswerer();
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

  void SetAnswer(int answer) { answer_ = answer; }
  const std::vector<SeenMessageBox>& seen() const { return seen_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  HHOOK hook_ = nullptr;
  int answer_;
  std::vector<SeenMessageBox> seen_;
};

}  // namespace testing_support
