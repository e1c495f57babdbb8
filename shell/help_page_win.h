// The help screen (page 901 of the main window): the "About" and "How to use" pages of the
// program, each in a browser under a tab of its own.
#ifndef KELDRUN_SHELL_HELP_PAGE_WIN_H_
#define KELDRUN_SHELL_HELP_PAGE_WIN_H_

#include <windows.h>

#include "shell/main_window_win.h"
#include "toolkit/web_browser.h"

namespace keldrun {

class HelpPage : public HelpScreen {
 public:
  explicit HelpPage(MainWindow* main);

  // Writes both pages into their browsers; once.
  void loadPages() override;
  // Shows the page of the topic (About or How to use).
  void showTopic(HelpTopic topic) override;
  // The tab shown: 0 About, 1 How to use.
  int shownTab() const { return shown_; }

 protected:
  bool onInitDialog() override;
  void onSize(int width, int height) override;
  LRESULT onNotify(NMHDR* header, bool* handled) override;

 private:
  void showTab(int tab);

  HWND tabs_ = nullptr;
  CXWebBrowser pages_[2];
  int shown_ = 0;
  bool loaded_ = false;
};

}  // namespace keldrun

#endif  // KELDRUN_SHELL_HELP_PAGE_WIN_H_
