// The files section: the file table entry, its reader, and the scan that records the folders
// and files of the chosen drives into a snapshot file, one worker thread per drive letter.
//
// File entry (one per file in a folder's content table; 18 bytes plus the name)
//   OFFSET  SIZE  CONTENT
//        0     2  name length in characters; bit 15 set = wide
//        2     8  last-write time, FILETIME (UTC), low word first
//       10     8  size in bytes, low word first
//       18   len  name: len bytes (narrow) or 2*len (UTF-16LE)
// A folder's file table holds its files in name order; its digest (the folder's contentHash)
// is the CRC-32 over every byte of every entry. Folders are TreeEntry records: childTable
// points at the subfolder table, contentTable at the file table. Tables are written post-order,
// so a folder's digests are known before its parent's table is written.
#ifndef KELDRUN_ENGINE_FILE_SCAN_H_
#define KELDRUN_ENGINE_FILE_SCAN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/snapshot.h"
#include "engine/worker.h"
#include "platform/env.h"

namespace keldrun {

constexpr size_t kFileEntryFixed = 18;
constexpr size_t kFileEntryDataOffset = 2;  // the 16 bytes of time and size start here
constexpr size_t kFileEntryDataSize = 16;
// Longest file or folder name stored; longer names are cut.
constexpr size_t kMaxFileNameChars = 0x7FF0;
// The walk keeps tables for depths 0 to kMaxFolderDepth - 1 and a path buffer of
// kMaxPathChars characters (the long-path limit of Windows). A folder that would need more is
// recorded empty, with zero digests, and is not counted.
constexpr size_t kMaxFolderDepth = 1024;
constexpr size_t kMaxPathChars = 32767;

// Appends one file entry to out.
void appendFileEntry(std::vector<uint8_t>* out, const char16_t* name, size_t nameChars,
                     uint64_t lastWrite, uint64_t size);

// A file entry read from a table block.
struct FileEntry {
  StoredText name;
  uint64_t lastWrite = 0;
  uint64_t size = 0;
  size_t entrySize = 0;

  // Parses the entry at p, of which `remaining` bytes are readable. False when it does not fit.
  static bool parse(const uint8_t* p, size_t remaining, FileEntry* out);
};

// The stored name of the file entry at p (which must hold at least its fixed part and name).
StoredText fileEntryName(const uint8_t* entry);

// The reader of a folder's file table.
class FileItemReader : public ItemListReader {
 public:
  // Name order.
  int order(const Item& a, const Item& b) const override;
  // The 16 bytes of time and size differ.
  bool differs(const Item& a, const Item& b) const override;

 protected:
  size_t extraBytes() const override { return 16; }
  size_t stepSize(const uint8_t* p, size_t remaining) const override;
};

// The files filter list as the scan uses it: every item lower case (A-Z), with one '\' between
// components and one at the end, beginning with a drive "x:\"; items that do not name a drive
// dropped; sorted in name order; and every item that lies inside an earlier one (or repeats
// it) dropped, so that no folder is recorded twice. A full-scan list (first item beginning
// with '*') comes back as the single item "*".
FilterList normalizeFileFilter(const FilterList& list);

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

  Counter& folders() { return folders_; }
  Counter& files() { return files_; }
  size_t workerCount() const { return workers_.size(); }

 private:
  Env* env_;
  std::vector<std::unique_ptr<FileScanWorker>> workers_;
  Counter folders_;  // folders listed (junctions and unlistable folders not included)
  Counter files_;    // files recorded
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_FILE_SCAN_H_
