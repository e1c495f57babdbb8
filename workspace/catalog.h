// The snapshot catalog: the records of a workspace's snapshots in the order they were added, and
// the numbering of their files in the data folder. Settings owns one and keeps it in the
// settings file beside the options; the catalog gives the text of its list of numbers.
//
// Like the Settings that owns it, a catalog has no lock: one thread uses it at a time.
#ifndef KELDRUN_WORKSPACE_CATALOG_H_
#define KELDRUN_WORKSPACE_CATALOG_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/snapshot.h"

namespace keldrun {

struct SnapshotPath {
  std::string path;      // data folder + fileName
  std::string fileName;  // "snap%03d.snp"
};

// Why no new snapshot can be taken or imported once every number is given.
constexpr const char* kNoNumberLeft = "no snapshot number is left: the highest number is in use";

// The bare file name of snapshot `number`: "snap007.snp", "snap1000.snp".
std::string snapshotFileName(int32_t number);

class Catalog {
 public:
  // dataFolder: the folder of the snapshot files, ending in a separator. The catalog starts
  // empty with no number given.
  explicit Catalog(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

  // The highest snapshot number given so far. Removing a record leaves it, so that the number
  // of a deleted snapshot is never given again.
  int32_t lastNo = 0;

  size_t count() const { return records_.size(); }
  const SnapshotInfo& record(size_t i) const { return records_[i]; }
  SnapshotInfo& record(size_t i) { return records_[i]; }
  // Position of the first record with that number; -1 when there is none.
  int find(int32_t number) const;
  // No effect when i is out of range.
  void removeAt(size_t i);
  // Removes every record; lastNo stays.
  void clear() { records_.clear(); }
  // Appends a copy of info and raises lastNo to info.number (by one in the usual case, where
  // info.number came from nextNumber).
  void addSnapshot(const SnapshotInfo& info);
  // The number for a new snapshot: lastNo + 1, moved past any number the catalog holds or whose
  // snapshot file already exists, so that a lost settings file never makes a new snapshot
  // overwrite an old one. 0 when no number is left (the highest one is taken).
  int32_t nextNumber() const;

  const std::string& dataFolder() const { return dataFolder_; }
  SnapshotPath snapshotPath(int32_t number) const;

  // The numbers of the records in order, joined by ",": "3,1,7".
  std::string numberList() const;
  // Appends, in the order listed, each snapshot of a number list whose file opens and holds
  // that number, skipping empty pieces and numbers already held; lastNo stays.
  void addListed(const std::string& numberList);

 private:
  void append(const SnapshotInfo& info);

  std::string dataFolder_;
  std::vector<SnapshotInfo> records_;
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_CATALOG_H_
