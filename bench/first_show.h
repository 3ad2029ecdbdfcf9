// The first show of the tips window, measured in a fresh process per run (a first show happens
// once per process): CheckUpgrade with a pending package and prompting on creates the window,
// loads its skin, folds the description and places the window. Beside it, in processes of the
// same shape, its floor: the calls that a first show cannot avoid, made directly.
#pragma once
#include <windows.h>

#include <string>

#include "bench/bench_support.h"
#include "refhost/provider/host_provider.h"

namespace bench {

// What both kinds of child have before their timed part, as a player has it before it asks:
// the host's provider registered, the host's common libraries loaded and its main window up
// and painted (the provider names it as the main window).
class FirstShowHost {
 public:
  explicit FirstShowHost(const std::wstring& profilePath);
  ~FirstShowHost();
  FirstShowHost(const FirstShowHost&) = delete;
  FirstShowHost& operator=(const FirstShowHost&) = delete;

  // Empty when everything is up, else what failed.
  std::string SetUp();
  HWND MainWindow() const { return main_; }

 private:
  refhost::HostServices services_;
  HMODULE common_ = nullptr;
  HMODULE widget_ = nullptr;
  HWND main_ = nullptr;
};

// What times the first show's phases, installed for the timed part of both kinds of child
// alike: a creation hook that subclasses the first top-level window, other than the excluded
// one, whose class classModule registered.
void StartShowHooks(HMODULE classModule, HWND excluded);
void StopShowHooks();

// Where the first show's tips window has been painted: shown, in its corner, and nothing of
// it or its children waiting to be painted.
bool Painted(HWND window);

// In the child: runs one first show with the host provider over profilePath, then shownCalls
// more CheckUpgrade calls with the window up, and writes the figures to resultPath and the
// folded text the content control shows to foldedPath (UTF-16). Returns the exit code.
int RunFirstShowChild(const std::wstring& resultPath, const std::wstring& profilePath,
                      const std::wstring& foldedPath, int shownCalls);

// In the child: the floor of a first show, with the folded text read from foldedPath.
int RunFirstShowFloorChild(const std::wstring& resultPath, const std::wstring& profilePath,
                           const std::wstring& foldedPath);

// In the parent: starts this program as such a child and reads its figures. The pending
// record must be in place; a floor run needs a first show run before it (for the folded
// text). False with an error text when the child failed.
bool MeasureFirstShow(const std::wstring& workFolder, int run, int shownCalls, Values& figures,
                      std::string& error);
bool MeasureFirstShowFloor(const std::wstring& workFolder, int run, Values& figures,
                           std::string& error);

}  // namespace bench
