#include "engine/scan.h"

#include <cerrno>
#include <cstring>

#include "base/files.h"

namespace keldrun {

SnapshotScan::SnapshotScan(Env* env, FileSystem* fs)
    : env_(env ? env : defaultEnv()), fs_(fs), file_(fs), files_(env_), registry_(env_), apps_(env_) {}

SnapshotScan::~SnapshotScan() {
  if (started_) abort();
}

bool SnapshotScan::start(const std::string& path, const FilterList lists[kSectionCount]) {
  clock_.start();
  path_ = path;
  error_.clear();
  errorNumber_ = 0;
  completion_.clear();
  depthWarning_.clear();
  for (int i = 0; i < kSectionCount; i++) lists_[i].clear();
  lists_[kSectionRegistry] = normalizeRegistryFilter(lists[kSectionRegistry]);
  lists_[kSectionFiles] = normalizeFileFilter(lists[kSectionFiles]);
  // The applications scan records everything; any list selects it.
  lists_[kSectionApps] = lists[kSectionApps];
  if (lists_[kSectionRegistry].empty() && lists_[kSectionFiles].empty() &&
      lists_[kSectionApps].empty()) {
    error_ = "Select at least one item";
    return false;
  }
  // The number in the name was handed out from the catalog: another writer that took the same
  // number must not share the file.
  if (!file_.create(path, true)) {
    errorNumber_ = errno;
    error_ = std::string("Cannot create (") + path + "): " + std::strerror(errorNumber_);
    return false;
  }
  started_ = true;
  if (!lists_[kSectionRegistry].empty())
    registry_.startRegistryScan(&file_, lists_[kSectionRegistry]);
  // A full scan that finds no drive at all starts no worker and records an empty section.
  if (!lists_[kSectionFiles].empty()) files_.startFileScan(&file_, lists_[kSectionFiles]);
  if (!lists_[kSectionApps].empty()) apps_.startApplicationScan(&file_);
  return true;
}

ScanCounts SnapshotScan::counts() {
  ScanCounts c;
  c.regKeys = registry_.keys();
  c.values = registry_.values();
  c.folders = files_.folders().get();
  c.files = files_.files().get();
  c.applications = apps_.applications().get();
  c.cutFolders = files_.cut().get();
  c.cutKeys = registry_.cut();
  return c;
}

std::string SnapshotScan::progressText() { return keldrun::progressText(clock_.text(), counts()); }

bool SnapshotScan::finish(const std::string& name, int32_t number, SnapshotInfo* info) {
  if (!complete()) return false;
  files_.releaseWorkers();
  apps_.stopApplicationScan();
  started_ = false;
  FilterList stored[kSectionCount] = {lists_[kSectionRegistry], storedFileFilter(lists_[kSectionFiles]),
                                      lists_[kSectionApps]};
  info->fillNew(name, number, stored);
  bool ok = file_.finish(info);
  ok = file_.close() && ok;
  completion_ = keldrun::completionText(clock_.text(), counts());
  depthWarning_ = depthLimitText(counts());
  if (!ok) {
    error_ = "Cannot write (" + path_ + ")";
    fs_->removeFile(path_);
  }
  return ok;
}

void SnapshotScan::abort() {
  if (!started_) return;
  files_.stopFileScan();
  registry_.stopRegistryScan();
  apps_.stopApplicationScan();
  started_ = false;
  file_.close();
  fs_->removeFile(path_);
}

}  // namespace keldrun
