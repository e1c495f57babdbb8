// The files section's scan, which records the folders and files of the chosen drives into a
// snapshot file, one worker thread per drive letter; the file entry is in file_entry.h.
// Folders are TreeEntry records: childTable points at the subfolder table, contentTable at the
// file table. Tables are written post-order, so a folder's digests are known before its
// parent's table is written.
#ifndef KELDRUN_ENGINE_FILE_SCAN_H_
#define KELDRUN_ENGINE_FILE_SCAN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_entry.h"
#include "engine/snapshot.h"
#include "engine/worker.h"
#include "platform/env.h"

namespace keldrun {

// The walk keeps tables for depths 0 to kMaxFolderDepth - 1 and a path buffer of
// kMaxPathChars characters (the long-path limit of Windows). A folder that would need more is
// recorded by name, empty, with zero digests; it is counted as cut, not as a folder.
constexpr size_t kMaxFolderDepth = 1024;
constexpr size_t kMaxPathChars = 32767;

// The files filter list as the scan uses it: the drive letter lower case, one '\' between
// components and one at the end, beginning with a drive "x:\"; items that do not name a drive
// dropped; sorted component by component in table order; and every item that lies inside an
// earlier one (or repeats it) dropped, so that no folder is recorded twice. The case of the
// folder names is kept: on a file system where "Dir" and "dir" are two folders, the item
// reaches the one it names (the seam matches a name case-insensitively only when it exists in
// no other case and the match is unique), and the folders on the way and the folder itself
// are recorded by the names the file system holds them under. A full-scan list (first item beginning with '*')
// comes back as the single item "*".
FilterList normalizeFileFilter(const FilterList& list);
// The list as a snapshot stores it: the items of normalizeFileFilter in lower case, in name
// order, without repeats.
FilterList storedFileFilter(const FilterList& items);

struct FileScanWorker;

// The files store: one scan's drive workers and its folders and files counters.
class FileStore {
 public:
  // env: where drives and folders are read (null: defaultEnv()).
  explicit FileStore(Env* env = nullptr);
  // Stops and frees any workers still running.
  ~FileStore();
  FileStore(const FileStore&) = delete;
  FileStore& operator=(const FileStore&) = delete;

  // Starts one worker per drive letter of the list (normalized as above; "*" scans every fixed
  // drive) and returns at once. Each worker counts itself into file's running-scan count
  // before it starts and out of it when it has written its last block and root. False only
  // when a full scan finds no drive at all. file must outlive the workers (until
  // stopFileScan or releaseWorkers returns).
  bool startFileScan(SnapshotFile* file, const FilterList& list);
  // Asks every worker to stop, polls every 100 ms until all have ended, and frees them.
  void stopFileScan();
  // Frees the workers of a scan whose running-scan count has come back to 0, waiting for the
  // few instructions each still runs after counting itself out.
  void releaseWorkers();

  // Threads per drive for the scans started from now on: the walk itself plus helpers that
  // list folders ahead of it. 0 (the default) = the machine's processors, at most
  // kMaxParallelThreads; 1 = the walk alone. The snapshot's bytes do not depend on it.
  void setThreads(int threads) { threads_ = threads; }
  // Content digests for the scans started from now on. With record, the extension holds every
  // file's SHA-256, or kDigestUnreadable for a file that cannot be read whole; a digest is
  // copied from the snapshot files at `earlier` (UTF-8 paths, newest first, taken on this
  // computer) when DigestReuse finds it there, and read otherwise, on as many threads as the
  // walk lists with.
  void setDigests(bool record, std::vector<std::string> earlier) {
    digests_ = record;
    earlier_ = std::move(earlier);
  }

  Counter& folders() { return folders_; }
  Counter& files() { return files_; }
  Counter& cut() { return cut_; }
  size_t workerCount() const { return workers_.size(); }

 private:
  Env* env_;
  int threads_ = 0;
  bool digests_ = false;
  std::vector<std::string> earlier_;
  std::vector<std::unique_ptr<FileScanWorker>> workers_;
  Counter folders_;  // folders listed (junctions and unlistable folders not included)
  Counter files_;    // files recorded
  Counter cut_;      // folders left unwalked by the depth or path limit
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_FILE_SCAN_H_
