// The main window without its window: the five tabs, the window title and the moves between
// pages that opening, changing and closing a comparison, the "About..." command and the help
// key make. The window shows what this decides and refreshes its screens when told.
#ifndef KELDRUN_SHELL_MAIN_WINDOW_H_
#define KELDRUN_SHELL_MAIN_WINDOW_H_

#include <string>

#include "platform/thread.h"
#include "views/comparison_context.h"
#include "workspace/message.h"
#include "workspace/settings.h"

namespace keldrun {

enum MainTab { kTabSnapshots, kTabRegistry, kTabFiles, kTabApplications, kTabHelp, kTabCount };

// Which page of the help screen a command asked for.
enum class HelpTopic { None, About, HowToUse };

// The system menu's "About..." command; the system keeps the low four bits of a command for
// itself, so every identifier from 16 to 31 means it.
constexpr int kAboutCommand = 16;
bool isAboutCommand(unsigned systemCommand);

// "Corvellan Software Keldrun v1.6", with " - " and the document title when there is one.
std::string mainWindowTitle(const std::string& documentTitle);
// The text of a tab ("Snapshots", "Registry", "Files", "Applications", "Help").
std::string mainTabText(int tab);

// The workspace as the program starts, read on a thread of its own so that the main window is
// made meanwhile: the settings file with every snapshot's info record (Settings::ensureLoaded),
// the report temp folder emptied, a damaged settings file set aside (setAsideDamagedSettings).
// Nothing else may touch the settings until wait() has returned. Where no thread can be made,
// the work is done on the calling thread before the constructor returns.
class StartupLoad {
 public:
  explicit StartupLoad(Settings* settings);
  ~StartupLoad();  // waits
  StartupLoad(const StartupLoad&) = delete;
  StartupLoad& operator=(const StartupLoad&) = delete;

  // Waits for the reading to end (at once after the first call); the message about a damaged
  // settings file, empty when there is none.
  const ShellMessage& wait();

 private:
  static void run(void* self);

  Settings* settings_;
  ShellMessage message_;  // written by the thread, read after it has ended
  NativeThread* thread_ = nullptr;
};

class MainWindowModel {
 public:
  // Neither is owned; both outlive the model.
  MainWindowModel(Settings* settings, ComparisonContext* context);

  int visibleTab() const { return tab_; }
  const std::string& title() const { return title_; }  // UTF-8
  // The help page asked for by the last About command or help key; None until then.
  HelpTopic helpTopic() const { return help_; }

  // Set-up: the snapshot list shows, the comparison context is closed, no document title.
  void setUp();
  // A click on a tab.
  void selectTab(int tab);
  // After the context opened one or two snapshots: the context's page title, the Registry tab,
  // and the full flag: full when one snapshot is viewed or ViewMode is 0.
  void showComparison();
  // After a screen changed ViewMode: the same without switching tabs.
  void viewModeChanged();
  // Before snapshots are deleted: closes the context and drops the document title; the tab
  // stays where it is.
  void closeComparison();
  // A system command; true when it was the About command (the help tab, "About" page).
  bool systemCommand(unsigned id);
  // F1: the help tab, "How to use" page.
  void helpKey();

 private:
  void applyViewMode();

  Settings* settings_;
  ComparisonContext* context_;
  int tab_ = kTabSnapshots;
  std::string title_;
  HelpTopic help_ = HelpTopic::None;
};

}  // namespace keldrun

#endif  // KELDRUN_SHELL_MAIN_WINDOW_H_
