#include "shell/main_window.h"

#include "base/text_table.h"
#include "shell/snapshot_commands.h"

namespace keldrun {

bool isAboutCommand(unsigned systemCommand) { return (systemCommand & 0xFFF0u) == kAboutCommand; }

std::string mainWindowTitle(const std::string& documentTitle) {
  std::string title = std::string(text(kTextProgramTitle)) + " " + text(kTextVersion);
  if (!documentTitle.empty()) title += text(kTextTitleSeparator) + documentTitle;
  return title;
}

std::string mainTabText(int tab) {
  static const int kEntries[kTabCount] = {kTextTabSnapshots, kTextTabRegistry, kTextTabFiles,
                                          kTextTabApplications, kTextTabHelp};
  return tab >= 0 && tab < kTabCount ? text(kEntries[tab]) : "";
}

StartupLoad::StartupLoad(Settings* settings) : settings_(settings) {
  thread_ = createThread(run, this);
  if (!thread_) run(this);
}

StartupLoad::~StartupLoad() { wait(); }

void StartupLoad::run(void* self) {
  auto* load = static_cast<StartupLoad*>(self);
  load->settings_->ensureLoaded();
  // Reports viewed in a run that ended without closing its viewer.
  load->settings_->clearReportTempFolder();
  load->message_ = setAsideDamagedSettings(load->settings_);
}

const ShellMessage& StartupLoad::wait() {
  if (thread_) {
    waitThread(thread_);
    closeThread(thread_);
    thread_ = nullptr;
  }
  return message_;
}

MainWindowModel::MainWindowModel(Settings* settings, ComparisonContext* context)
    : settings_(settings), context_(context), title_(mainWindowTitle(text(kTextEmpty))) {}

void MainWindowModel::setUp() {
  tab_ = kTabSnapshots;
  context_->close();
  title_ = mainWindowTitle(text(kTextEmpty));
}

void MainWindowModel::selectTab(int tab) {
  if (tab >= 0 && tab < kTabCount) tab_ = tab;
}

void MainWindowModel::showComparison() {
  title_ = mainWindowTitle(context_->expandPlaceholders("$pg_title$"));
  tab_ = kTabRegistry;
  applyViewMode();
}

void MainWindowModel::viewModeChanged() {
  title_ = mainWindowTitle(context_->expandPlaceholders("$pg_title$"));
  applyViewMode();
}

void MainWindowModel::applyViewMode() {
  settings_->ensureLoaded();
  context_->setFull(context_->mode() == kModeView || settings_->viewMode == 0);
}

void MainWindowModel::closeComparison() {
  context_->close();
  title_ = mainWindowTitle(text(kTextEmpty));
}

bool MainWindowModel::systemCommand(unsigned id) {
  if (!isAboutCommand(id)) return false;
  tab_ = kTabHelp;
  help_ = HelpTopic::About;
  return true;
}

void MainWindowModel::helpKey() {
  tab_ = kTabHelp;
  help_ = HelpTopic::HowToUse;
}

}  // namespace keldrun
