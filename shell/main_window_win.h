// The main window (dialog 102): the tab row across the top and the five pages below it, one of
// them visible; the window title; the switch from the snapshot list to the comparison screens.
// What it decides is MainWindowModel's; this class shows it.
#ifndef KELDRUN_SHELL_MAIN_WINDOW_WIN_H_
#define KELDRUN_SHELL_MAIN_WINDOW_WIN_H_

#include <windows.h>

#include <memory>

#include "shell/main_window.h"
#include "toolkit/controls.h"
#include "toolkit/dialog.h"
#include "workspace/message.h"

namespace keldrun {

class MainWindow;

// A page of the main window: a child dialog that knows its main window. Its window id is its
// dialog number.
class MainPage : public CXDialogBase {
 public:
  MainPage(int templateId, MainWindow* main) : CXDialogBase(templateId), main_(main) {}
  MainWindow* mainWindow() const { return main_; }

 private:
  MainWindow* main_;
};

// The Registry, Files and Applications screens as the main window drives them.
class ComparisonScreen : public MainPage {
 public:
  using MainPage::MainPage;
  // Mode 0 and no content: nothing open is shown.
  virtual void empty() {}
  // Shows the comparison context's snapshots again.
  virtual void refresh() {}
  // Sets the view-mode radio pair (0 full, 1 only differences).
  virtual void setViewMode(int viewMode) {}
};

// The help screen as the main window drives it.
class HelpScreen : public MainPage {
 public:
  using MainPage::MainPage;
  // Loads the help pages the first time the tab is shown.
  virtual void loadPages() {}
  virtual void showTopic(HelpTopic topic) {}
};

class MainWindow : public CXDialogBase {
 public:
  MainWindow(Settings* settings, ComparisonContext* context);
  ~MainWindow() override;

  Settings* settings() const { return settings_; }
  ComparisonContext* context() const { return context_; }
  const MainWindowModel& model() const { return model_; }

  // The workspace being read as the program starts (set before the window opens); its message
  // about a damaged settings file is shown over the window, whose empty list it explains.
  void setStartupLoad(StartupLoad* load) { startupLoad_ = load; }
  // Waits for that reading: the Snapshots page calls it before it first reads the settings.
  void waitForWorkspace();

  // After the context opened one or two snapshots: title, Registry tab, screens refreshed.
  void showComparison();
  // After a screen changed ViewMode: every screen's radio pair, title, screens refreshed.
  void viewModeChanged();
  // Before snapshots are deleted: the screens empty, the context closed, the plain title.
  void closeComparison();

 protected:
  bool onInitDialog() override;
  void onSize(int width, int height) override;
  INT_PTR onMessage(UINT message, WPARAM wparam, LPARAM lparam, bool* handled) override;

 private:
  MainPage* page(int tab) const;
  // The pages' windows are made when first shown, the three comparison screens together (they
  // are refreshed together): a start-up makes only the Snapshots page.
  void createPage(int tab);
  void createScreens();
  void showTab(int tab);
  void applyModel();
  void refreshScreens();
  void paintIconic();

  Settings* settings_;
  ComparisonContext* context_;
  MainWindowModel model_;
  CXTabStrip tabs_;
  std::unique_ptr<MainPage> pages_[kTabCount];
  int shownTab_ = -1;
  bool helpLoaded_ = false;
  HICON icon_ = nullptr;
  StartupLoad* startupLoad_ = nullptr;
  ShellMessage startupMessage_;
};

}  // namespace keldrun

#endif  // KELDRUN_SHELL_MAIN_WINDOW_WIN_H_
