#include "workspace/take_snapshot.h"

#include <cstdio>

#include "base/files.h"
#include "base/text_table.h"
#include "engine/log.h"
#include "platform/digest.h"
#include "platform/env.h"
#include "workspace/rights.h"

namespace keldrun {

std::string scanFilterPath(const Settings& settings) { return settings.folder() + "scan_filter.txt"; }

std::string logPath(const Settings& settings) { return settings.folder() + kLogFileName; }

TakeSnapshot::TakeSnapshot(Settings* settings, Env* env, FileSystem* fs)
    : settings_(settings), fs_(fs), lock_(settings), source_(env ? env : defaultEnv()), scan_(env, fs) {
  // The stored choice is read only once the settings file has been, or a first dialog would
  // show the default instead of what the user chose last time.
  settings_->ensureLoaded();
  group = settings_->fullScan == 0 ? kSelectedItems : kFullScan;
  fileThreads = settings_->scanThreads;
  recordDigests = settings_->recordDigests != 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, text(kTextDefaultSnapshotName),
                int(settings_->catalog().nextNumber()));
  name = buf;
  FilterList stored[kSectionCount];
  loadFilter(scanFilterPath(*settings_), stored);
  tree_ = std::make_unique<SelectionTree>(&source_, stored);
}

std::vector<std::string> TakeSnapshot::digestSources() const {
  // Change times and identities mean something only on the computer that recorded them.
  SnapshotInfo here;
  here.fillNew("", 0, here.filterList);
  std::vector<std::string> paths;
  const Catalog& catalog = settings_->catalog();
  for (size_t i = catalog.count(); i-- > 0 && paths.size() < kDigestSources;) {
    const SnapshotInfo& r = catalog.record(i);
    if (r.computer == here.computer && r.sectionState[kSectionFiles] != SectionState::NotScanned)
      paths.push_back(catalog.snapshotPath(r.number).path);
  }
  return paths;
}

const char* TakeSnapshot::buttonText() const {
  return state_ == State::Scanning ? text(kTextStop) : "Start";
}

void TakeSnapshot::scanLists(FilterList lists[kSectionCount]) {
  for (int s = 0; s < kSectionCount; s++)
    lists[s] = group == kFullScan ? FilterList{u"*"} : tree_->collect(s);
}

ShellMessage TakeSnapshot::start(const FilterList* lists) {
  if (state_ != State::Idle) return {};
  if (started_ && scan_.complete()) return finish();
  if (name.empty()) return ShellMessage::warning(text(kTextInvalidName));
  FilterList chosen[kSectionCount];
  if (lists) {
    for (int s = 0; s < kSectionCount; s++) chosen[s] = lists[s];
  } else {
    scanLists(chosen);
  }
  if (chosen[0].empty() && chosen[1].empty() && chosen[2].empty())
    return ShellMessage::warning("Select at least one item");
  std::string noDigests;
  if (recordDigests && !sha256Available(&noDigests)) return ShellMessage::error(noDigests);
  ownLists_ = lists != nullptr;
  if (!ownLists_ && group == kSelectedItems) tree_->saveFilter(scanFilterPath(*settings_), fs_);

  ShellMessage busy = lock_.tryTake();
  if (!busy.empty()) return busy;
  number_ = settings_->catalog().nextNumber();
  if (number_ == 0) {
    lock_.release();
    return ShellMessage::error(kNoNumberLeft);
  }
  std::string path = settings_->catalog().snapshotPath(number_).path;
  makeFolders(settings_->catalog().dataFolder());
  scan_.setFileThreads(fileThreads);
  scan_.setDigests(recordDigests, recordDigests ? digestSources() : std::vector<std::string>());
  if (!scan_.start(path, chosen)) {
    lock_.release();
    std::string why = scan_.error();
    if (why.empty()) why = "Cannot create (" + path + ")";
    return ShellMessage::error(withRightsAdvice(why, scan_.errorNumber(), RightsTask::UseWorkspace));
  }
  started_ = true;
  state_ = State::Scanning;
  progress_ = scan_.progressText();
  return {};
}

ShellMessage TakeSnapshot::tick() {
  if (state_ != State::Scanning) return {};
  if (!scan_.complete()) {
    progress_ = scan_.progressText();
    return {};
  }
  return finish();
}

ShellMessage TakeSnapshot::finish() {
  ShellMessage message = finishLocked();
  lock_.release();
  return message;
}

ShellMessage TakeSnapshot::finishLocked() {
  started_ = false;
  if (!scan_.finish(name, number_, &info_)) {
    // The file could not be written whole; the scan has deleted it and nothing is entered.
    state_ = State::Stopped;
    progress_.clear();
    return ShellMessage::error(scan_.error());
  }
  // A snapshot the saved catalog does not list would be lost to the user: it is kept only
  // when the catalog is saved with it.
  const int32_t fullScan = settings_->fullScan;
  const int32_t digests = settings_->recordDigests;
  const Catalog before = settings_->catalog();
  settings_->fullScan = group == kFullScan ? 1 : 0;
  if (keepDigestsChoice) settings_->recordDigests = recordDigests ? 1 : 0;
  settings_->catalog().addSnapshot(info_);
  if (!settings_->save("", fs_)) {
    settings_->catalog() = before;
    settings_->fullScan = fullScan;
    settings_->recordDigests = digests;
    fs_->removeFile(scan_.path());
    state_ = State::Stopped;
    progress_.clear();
    return ShellMessage::error("Cannot save the catalog (" + settings_->settingsPath() + ")");
  }
  progress_ = text(kTextDone);
  // What the depth limits left out goes with the completion text, into the log and the message.
  std::string done = scan_.completionText();
  if (!scan_.depthWarning().empty()) done += "\n" + scan_.depthWarning();
  appendLog(done, logPath(*settings_));
  state_ = State::Finished;
  return ShellMessage::information(done);
}

ShellMessage TakeSnapshot::pressStop() {
  if (state_ == State::Scanning && scan_.complete()) return finish();
  return stop();
}

ShellMessage TakeSnapshot::stop() {
  if (state_ != State::Scanning) return {};
  std::string path = scan_.path();
  scan_.abort();
  lock_.release();
  started_ = false;
  state_ = State::Stopped;
  return ShellMessage::information("Snapshot stopped; " + path + " deleted");
}

}  // namespace keldrun
