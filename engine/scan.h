// Taking a snapshot, engine side: the snapshot file being written, the stores whose threads
// fill it, their counters and texts, and the end of the scan (finish, or abort and delete).
// The take-snapshot dialog and the snapshot command drive it from their own thread and poll it.
#ifndef KELDRUN_ENGINE_SCAN_H_
#define KELDRUN_ENGINE_SCAN_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/app_scan.h"
#include "engine/file_scan.h"
#include "engine/progress.h"
#include "engine/registry_scan.h"
#include "engine/snapshot.h"
#include "platform/env.h"

namespace keldrun {

class SnapshotScan {
 public:
  // env: the machine to record (null: defaultEnv()); the snapshot file is written through fs.
  explicit SnapshotScan(Env* env = nullptr, FileSystem* fs = defaultFileSystem());
  // Aborts a scan that is still running (its file is deleted).
  ~SnapshotScan();
  SnapshotScan(const SnapshotScan&) = delete;
  SnapshotScan& operator=(const SnapshotScan&) = delete;

  // Starts the elapsed clock, creates the snapshot file at path (UTF-8) and starts the scans of
  // the sections whose list is not empty, in the order registry, drives, applications. False, with
  // nothing running and no file left behind, when no section can be scanned or the file cannot
  // be created; error() then says why.
  bool start(const std::string& path, const FilterList lists[kSectionCount]);

  // Threads per drive for the files scan (FileStore::setThreads); call before start.
  void setFileThreads(int threads) { files_.setThreads(threads); }
  // Content digests for the files scan (FileStore::setDigests); call before start.
  void setDigests(bool record, std::vector<std::string> earlier) { files_.setDigests(record, std::move(earlier)); }

  // Scan threads still running. The scan is complete when this is 0 after a successful start.
  int running() const { return file_.runningScans(); }
  bool complete() const { return started_ && running() == 0; }

  // The five counters now, and the progress text with the elapsed time.
  ScanCounts counts();
  std::string progressText();

  // Once complete: frees the workers, fills info (name, number, computer, date and the lists
  // actually scanned), writes the root tables, lists, info record and header, and closes the
  // file. False when a write failed (a full disk); the file is then deleted and error() says
  // so. The completion text is fixed at this moment.
  bool finish(const std::string& name, int32_t number, SnapshotInfo* info);
  // "Snapshot done in ..." with the time and counts of the finished scan.
  const std::string& completionText() const { return completion_; }
  // What the depth limits left out (depthLimitText), fixed with the completion text; empty
  // when nothing was.
  const std::string& depthWarning() const { return depthWarning_; }

  // Stops every scan thread (returning once all have ended), closes the file and deletes it.
  void abort();

  const std::string& error() const { return error_; }
  // errno of a file that could not be created; 0 for other failures.
  int errorNumber() const { return errorNumber_; }
  const std::string& path() const { return path_; }
  // The lists the scan runs with, as normalized for the scans.
  const FilterList& list(int section) const { return lists_[section]; }

 private:
  Env* env_;
  FileSystem* fs_;
  SnapshotFile file_;
  ElapsedClock clock_;
  FileStore files_;
  RegistryStore registry_;
  ApplicationStore apps_;
  FilterList lists_[kSectionCount];
  std::string path_;
  std::string error_;
  int errorNumber_ = 0;
  std::string completion_;
  std::string depthWarning_;
  bool started_ = false;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_SCAN_H_
