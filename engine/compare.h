// Comparison of two snapshots, and viewing of one, straight from the snapshot files.
//
// A comparison never loads a snapshot whole. walkTree merges two tables of TreeEntry records
// (one level of keys, folders or application groups) in name order and hands each name to a
// visitor, which decides whether to descend; compareContent merges two content tables (the
// values of a key, the files of a folder, the records of an application group). A matched pair
// whose digests are equal is never read below: its whole subtree is known to be unchanged.
#ifndef KELDRUN_ENGINE_COMPARE_H_
#define KELDRUN_ENGINE_COMPARE_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/section_filter.h"
#include "engine/snapshot.h"

namespace keldrun {

// The difference state of a node or a row; also the index of every per-state table of the
// views and reports.
enum DiffState : int {
  kUnchanged = 0,
  kModified = 1,
  kAdded = 2,     // only in the second (newer) snapshot
  kDeleted = 3,   // only in the first (older) snapshot
  kExcluded = 4,  // on the way to recorded paths, not itself fully recorded
};
constexpr int kDiffStateCount = 5;

// Comparison modes.
constexpr int kModeNone = 0;
constexpr int kModeCompare = 1;  // snapshot A (older) against snapshot B (newer)
constexpr int kModeView = 2;     // snapshot A alone

struct NodeState {
  int state = kUnchanged;
  // The node's own content (values, files, records) differs, or the node exists on one side
  // only while comparing. Views show such nodes in bold.
  bool ownChanged = false;
  // Something below the node is worth showing.
  bool expandable = false;
};

// The state of a node from its entries in A and B (either may be null, not both) and the
// filter result of its path. In kModeView a lone entry is unchanged. `full` makes every node
// with a child table expandable, not only those whose children changed.
NodeState nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult, int mode, bool full);

// Receives the nodes of a walk.
class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // Called once per name of the merged level with the node's full path, its name (A's spelling
  // when both sides hold it), its entries (null on the side that lacks it; they point into the
  // walk's buffers and are valid during the call only) and its filter result (1 or 2). Returns
  // whether the walk shall descend into the node's children now.
  virtual bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
                     const TreeEntry* b, int filterResult) = 0;
};

// Merges the tree tables of two snapshot files (the second may be null when viewing one).
//
// Hostile files cannot make a walk run away: below kMaxWalkDepth levels nothing is read, and
// within one top-level walkTree call a child table is read at most once per side, so a table
// that points back at an ancestor, or many entries that share one table, end as nodes without
// children. A table block that cannot be read makes its level empty on both sides.
class TreeWalker {
 public:
  static constexpr int kMaxWalkDepth = 1024;

  TreeWalker(SnapshotFile* fileA, SnapshotFile* fileB, const SectionFilter* filter);

  // Walks the level of the two tables at offsetA and offsetB (0 = empty) below parentPath (the
  // empty path at a section's root), descending depth-first wherever the visitor asks for it.
  // Nodes whose path lies outside the filter are skipped with everything below them.
  void walkTree(uint32_t offsetA, uint32_t offsetB, const std::u16string& parentPath,
                TreeVisitor* visitor);

 private:
  struct Level {
    std::vector<uint8_t> a, b;
  };
  void walkLevel(uint32_t offsetA, uint32_t offsetB, const std::u16string& parentPath,
                 int parentFilter, TreeVisitor* visitor);
  bool readLevel(SnapshotFile* file, uint32_t offset, std::vector<uint8_t>* buffer, size_t* length);

  SnapshotFile* fileA_;
  SnapshotFile* fileB_;
  const SectionFilter* filter_;
  std::deque<Level> levels_;  // one pair of buffers per depth, reused by siblings
  int depth_ = 0;
  std::unordered_set<uint32_t> seenA_, seenB_;
};

// One row of a content comparison: the item (from A's table or B's), its state and its label
// ("-", "add", "del", "old", "new").
struct ContentRow {
  Item item;
  int state = kUnchanged;
  const char* label = "-";
  bool fromB = false;
};

// The reader of one section's content tables.
std::unique_ptr<ItemListReader> makeItemReader(int section);

// The merged rows of two content tables. The rows point into the tables it read and stay valid
// until the next run or the object's end.
class ContentComparison {
 public:
  // Reads the table at offsetA of fileA and, in kModeCompare, the one at offsetB of fileB
  // (offset 0 = empty), and merges them with the section's name order and data comparison:
  // "del" rows (state 3) for items only in A, "add" (2) for items only in B, "old" then "new"
  // (1) for items whose data differs, "-" (0) for equal items when `full` is set. In kModeView
  // every item of A is a "-" row. False, with no rows, when a table cannot be read: showing the
  // other side's items as added or deleted would be a false result.
  bool run(int section, SnapshotFile* fileA, uint32_t offsetA, SnapshotFile* fileB,
           uint32_t offsetB, int mode, bool full);

  const std::vector<ContentRow>& rows() const { return rows_; }
  // True when some row has a state other than unchanged.
  bool hasDifferences() const;

 private:
  std::unique_ptr<ItemListReader> a_, b_;
  int section_ = -1;
  std::vector<ContentRow> rows_;
};

// The label of a content row: "-", "add", "del", "old" (from A) or "new" (from B).
const char* rowLabel(int state, bool fromB);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_COMPARE_H_
