#include "workspace/catalog_commands.h"

#include "base/files.h"
#include "engine/pack.h"
#include "platform/own_files.h"
#include "workspace/catalog_lock.h"

namespace keldrun {

bool deleteSnapshots(Settings* settings, const std::vector<int32_t>& numbers,
                     std::vector<std::string>* remaining, ShellMessage* refused) {
  CatalogLock lock(settings);
  ShellMessage busy = lock.tryTake();
  if (!busy.empty()) {
    if (refused) *refused = busy;
    return false;
  }
  for (int32_t number : numbers) {
    std::string path = settings->catalog().snapshotPath(number).path;
    if (!removeFile(path) && fileExists(path) && remaining) remaining->push_back(path);
    int at = settings->catalog().find(number);
    if (at >= 0) settings->catalog().removeAt(size_t(at));
  }
  return settings->save();
}

// ---- Properties ----

ShellMessage SnapshotProperties::open() {
  SnapshotFile file;
  if (!file.readInfo(settings_->catalog().snapshotPath(number_).path, &info_)) return ShellMessage::error("Cannot open snapshot");
  return {};
}

std::vector<std::pair<std::string, std::vector<std::u16string>>> SnapshotProperties::summary() const {
  const char* headings[kSectionCount] = {"Registry:", "Files:", "Applications:"};
  std::vector<std::pair<std::string, std::vector<std::u16string>>> out;
  for (int s = 0; s < kSectionCount; s++) {
    std::vector<std::u16string> lines = info_.filterList[s];
    if (lines.empty()) lines.push_back(u"-");
    out.emplace_back(headings[s], std::move(lines));
  }
  return out;
}

bool SnapshotProperties::ok(const std::string& newName) {
  if (newName.empty()) return false;
  CatalogLock lock(settings_);
  refusal_ = lock.tryTake();
  if (!refusal_.empty()) return false;
  info_.name = newName;
  std::string path = settings_->catalog().snapshotPath(number_).path;
  SnapshotFile file;
  SnapshotInfo scratch;
  if (!file.open(path, &scratch)) return true;
  bool written = scratch.infoOffset != 0 && file.rewriteInfo(&info_, scratch.infoOffset) != 0;
  written = file.close() && written;
  if (!written) return true;
  // The catalog takes the record as the file now holds it (the name cut to what fits). Only
  // this record is refreshed: reloading the whole settings file here would throw away every
  // option changed since the last save.
  SnapshotInfo stored;
  if (file.readInfo(path, &stored)) {
    info_ = stored;
    int at = settings_->catalog().find(number_);
    if (at >= 0 && stored.number == number_) settings_->catalog().record(size_t(at)) = stored;
  }
  renamed_ = true;
  return true;
}

// ---- Export and import ----

void SnapshotTransfer::begin(size_t files) {
  std::lock_guard<std::mutex> lock(mu_);
  total_ = int(files);
  done_ = 0;
  sink_.reset();
  aborted_ = false;
  problems_.clear();
  imported_.clear();
}

std::shared_ptr<ProgressSink> SnapshotTransfer::beginFile() {
  auto sink = std::make_shared<ProgressSink>();
  bool cancelled;
  {
    std::lock_guard<std::mutex> lock(mu_);
    sink_ = sink;
    cancelled = cancel_;
  }
  if (cancelled) sink->cancel();
  return sink;
}

void SnapshotTransfer::endFile() {
  std::lock_guard<std::mutex> lock(mu_);
  sink_.reset();
  done_++;
}

void SnapshotTransfer::cancel() {
  std::shared_ptr<ProgressSink> sink;
  {
    std::lock_guard<std::mutex> lock(mu_);
    cancel_ = true;
    sink = sink_;
  }
  if (sink) sink->cancel();
}

bool SnapshotTransfer::cancelRequested() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cancel_;
}

int SnapshotTransfer::range() const {
  std::lock_guard<std::mutex> lock(mu_);
  return 100 * total_;
}

int SnapshotTransfer::position() const {
  std::shared_ptr<ProgressSink> sink;
  int base;
  {
    std::lock_guard<std::mutex> lock(mu_);
    sink = sink_;
    base = 100 * done_;
  }
  return base + (sink ? sink->percent() : 0);
}

ShellMessage SnapshotTransfer::exportSnapshots(const Settings& settings,
                                               const std::vector<int32_t>& numbers,
                                               const std::string& folder) {
  begin(numbers.size());
  std::string targetFolder = withSeparator(folder);
  for (int32_t number : numbers) {
    SnapshotPath source = settings.catalog().snapshotPath(number);
    std::string target = targetFolder + source.fileName;
    std::shared_ptr<ProgressSink> sink = beginFile();
    if (source.path == target || sameFile(source.path, target)) {
      // Packing a file onto itself would truncate it before reading it.
      problems_.push_back(source.path + ": the export target is the snapshot file itself");
    } else if (!fileExists(source.path)) {
      problems_.push_back(source.path + ": no such snapshot file");
    } else if (!packFile(source.path, target, sink.get(), fs_)) {
      if (!sink->cancelRequested())
        problems_.push_back(source.path + ": cannot be exported to " + target);
    }
    endFile();
    if (cancelRequested()) {
      aborted_ = true;
      break;
    }
  }
  if (aborted_) return {};
  if (!problems_.empty()) return ShellMessage::error("Export error");
  return ShellMessage::information("Snapshots exported");
}

ShellMessage SnapshotTransfer::importSnapshots(Settings* settings,
                                               const std::vector<std::string>& files) {
  begin(files.size());
  CatalogLock lock(settings);
  ShellMessage refused = lock.tryTake();
  if (!refused.empty()) {
    problems_.push_back(refused.text);
    return refused;
  }
  Catalog& catalog = settings->catalog();
  const Catalog before = catalog;
  makeFolders(catalog.dataFolder());
  for (const std::string& file : files) {
    if (cancelRequested()) {
      aborted_ = true;
      break;
    }
    std::shared_ptr<ProgressSink> sink = beginFile();
    int32_t number = catalog.nextNumber();
    if (number == 0) {
      problems_.push_back(file + ": " + kNoNumberLeft);
      endFile();
      break;
    }
    std::string target = catalog.snapshotPath(number).path;
    // Unpacked under a temporary name, so that an interrupted import never leaves a partial
    // file under a snapshot's name.
    std::string partial = target + ".part";
    SnapshotInfo info;
    info.number = number;
    std::string why;
    bool ok = unpackFile(file, partial, &info, sink.get(), fs_, 0, &why);
    if (ok && (fileExists(target) || !fs_->renameFile(partial, target))) {
      fs_->removeFile(partial);
      why = "cannot be renamed to " + target;
      ok = false;
    }
    if (ok) {
      catalog.addSnapshot(info);
      imported_.push_back(number);
    } else if (!sink->cancelRequested()) {
      problems_.push_back(file + ": " + why);
    }
    endFile();
    if (cancelRequested()) {
      aborted_ = true;
      break;
    }
  }
  if (!settings->save("", fs_)) {
    // Snapshots the saved catalog does not list would be lost to the user.
    for (int32_t number : imported_) fs_->removeFile(catalog.snapshotPath(number).path);
    catalog = before;
    imported_.clear();
    problems_.push_back(settings->settingsPath() + ": the catalog cannot be saved");
    return ShellMessage::error("Import error");
  }
  if (aborted_) return {};
  if (!problems_.empty()) return ShellMessage::error("Import error");
  return {};
}

}  // namespace keldrun
