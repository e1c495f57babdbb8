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
#include <unordered_map>
#include <vector>

#include "engine/normalise.h"
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
// filter result of its path. A pair whose names differ (in case) is modified. In kModeView a
// lone entry is unchanged. `full` makes every node with a child table expandable, not only
// those whose children changed.
NodeState nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult, int mode, bool full);

// Receives the nodes of a walk.
class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // Called once per name of the merged level with the node's full path, its name (when both
  // sides hold it, B's spelling, or A's when only A's entry has tables: the two differ in case
  // only when the name changed case), its entries (null on the side that lacks it; they point
  // into the walk's buffers and are valid during the call only) and its filter result (1 or 2).
  // Returns whether the walk shall descend into the node's children now.
  virtual bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
                     const TreeEntry* b, int filterResult) = 0;
};

// Whether the subtrees below two matched entries differ: the walker's verdict when it judged
// the pair, else their childHash digests.
bool childrenDiffer(const TreeEntry& a, const TreeEntry& b);

// Whether the extension hashes (file_extension.h) of two matched entries differ: those of
// their folder tables when `children`, else those of their file tables. False unless both
// entries' files have an extension, so that a snapshot without one compares as it always did.
bool extensionDiffers(const TreeEntry& a, const TreeEntry& b, bool children);

// Whether the change times and file ids of two snapshots may be compared: both record them and
// both were taken on one computer. Between two machines every file has another id and change
// time, so they would mark every file.
bool extensionsComparable(const SnapshotFile* a, const SnapshotFile* b);

// Merges the tree tables of two snapshot files (the second may be null when viewing one).
//
// Names pair when they are identical. Names equal but for case pair only where neither side
// holds the other's identical twin, so that "Dir" and "dir" of a case-sensitive file system
// stay apart while a key recorded as "software" by an older scan meets "Software"; such a pair
// is modified (nodeState).
//
// Digests decide alone only when both files' digests cover the children's names. Otherwise a
// pair whose digests are equal (or, for a pair of an older and a newer file, any pair) is
// judged by reading both subtrees far enough to compare names, structure and content digests:
// more reads, for older snapshots only, so that a renamed key or folder is never missed.
//
// Hostile files cannot make a walk run away: below kMaxWalkDepth levels nothing is read, and a
// table belongs to the one entry that first points at it (SnapshotFile::claimTable), so a table
// that points back at an ancestor, or many entries that share one table, end as nodes without
// that table. Such tables, and table blocks that cannot be read, count as damage in their file;
// a level whose table cannot be read is empty on both sides.
class TreeWalker {
 public:
  static constexpr int kMaxWalkDepth = 1024;

  TreeWalker(SnapshotFile* fileA, SnapshotFile* fileB, const SectionFilter* filter);

  // Walks the level of the two tables at offsetA and offsetB (0 = empty) below parentPath (the
  // empty path at a section's root), descending depth-first wherever the visitor asks for it.
  // Nodes whose path lies outside the filter are skipped with everything below them.
  void walkTree(uint32_t offsetA, uint32_t offsetB, const std::u16string& parentPath,
                TreeVisitor* visitor);
  // Pairs the names of each level as the normaliser maps them (null: as recorded) and judges
  // pairs whose digests differ by reading below them with the mapping: the visitor gets the
  // mapped names and paths, and each pair's verdicts (TreeEntry::contentDiffers,
  // childrenDiffer). section names the content tables below the walk.
  void setNormaliser(const Normaliser* normaliser, int section) {
    normaliser_ = normaliser;
    section_ = section;
  }

 private:
  using MappedLevel = std::vector<std::pair<std::u16string, TreeEntry>>;
  // The entries of a table read into `block`, under the side's mapped names, in name order.
  MappedLevel mappedLevel(SnapshotFile* file, uint32_t offset, const std::vector<uint8_t>& block,
                          Slice s, int side, const std::u16string& parentPath);
  // Calls pair(a, b, name) for each mapped name of the two levels, a or b null on the side
  // that lacks it.
  template <typename Pair>
  static void mergeMapped(MappedLevel& a, MappedLevel& b, Pair pair);
  // Whether the own content of two matched entries differs once mapped.
  bool contentDiffersMapped(const TreeEntry& a, const TreeEntry& b);

  struct Level {
    std::vector<uint8_t> a, b;
  };
  // digestA and digestB: the childHash of the entries that point at the two tables, checked
  // against what the tables hold (a mismatch is damage); unused at the top of a walk.
  void walkLevel(uint32_t offsetA, uint32_t offsetB, uint32_t digestA, uint32_t digestB,
                 const std::u16string& parentPath, int parentFilter, bool equalBelow,
                 TreeVisitor* visitor);
  // Reads a table of TreeEntry records; false, counting the damage, when it cannot be read or
  // is empty. Offset 0 is the empty table: true with length 0.
  bool readTable(SnapshotFile* file, uint32_t offset, std::vector<uint8_t>* buffer, size_t* length);
  // Parses the next entry of a table read into `block` from `offset`, claiming its two tables
  // for it; a table another entry owns is dropped from the entry.
  bool nextEntry(SnapshotFile* file, uint32_t offset, const std::vector<uint8_t>& block, Slice* s,
                 TreeEntry* e);
  // Moves *e and the entries after it whose names equal its name but for case into *run, and
  // parses the entry after them into *e; false when there is none.
  bool takeCaseRun(SnapshotFile* file, uint32_t offset, const std::vector<uint8_t>& block,
                   Slice* s, TreeEntry* e, std::vector<TreeEntry>* run);
  // Indexes into two runs of names equal but for case (-1: none), one per node, in table order.
  struct RunPair {
    int a, b;
  };
  // Identical names pair. When one name of each run is left without its twin, those two are
  // one key or folder whose name changed case (an older snapshot recorded it in another case)
  // and pair too, at the place of the first of them; the other names stand alone.
  static std::vector<RunPair> pairCaseRun(const std::vector<TreeEntry>& a,
                                          const std::vector<TreeEntry>& b);
  // Whether the children below a matched pair differ; see the class comment. path: the pair's
  // (mapped) path, which the normaliser needs.
  bool judgeChildren(const TreeEntry& a, const TreeEntry& b, int depth, const std::u16string& path);

  SnapshotFile* fileA_;
  SnapshotFile* fileB_;
  const SectionFilter* filter_;
  bool namesCovered_ = false;  // both files' digests cover names: digests decide alone
  bool bothOld_ = false;       // neither does: unequal digests still prove a difference
  bool extensions_ = false;    // extensionsComparable(fileA_, fileB_)
  std::deque<Level> levels_;   // one pair of buffers per depth, reused by siblings
  std::deque<Level> judgeLevels_;
  std::unordered_map<uint64_t, bool> judged_;  // child table pair -> children differ
  int depth_ = 0;
  const Normaliser* normaliser_ = nullptr;
  int section_ = -1;
};

// Reads every table of the snapshot once, as a walk that descends everywhere, and checks each
// against the digests that point at it. What cannot be read, or holds other bytes than its
// digests say, is counted in the file's damage (SnapshotFile::damagedTables); returns that count.
size_t checkSnapshot(SnapshotFile* file, const SnapshotInfo& info);

// One row of a content comparison: the item (from A's table or B's), its state and its label
// ("-", "add", "del", "old", "new").
struct ContentRow {
  Item item;
  int state = kUnchanged;
  const char* label = "-";
  bool fromB = false;
  uint8_t marks = 0;  // of a modified pair, on both rows: kMark* (file_extension.h)
  const FileExt* ext = nullptr;  // the item's extension record; null when its table has none
  bool noise = false;  // the item is on the noise list (set by the caller that knows the list)
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
  // With a normaliser, two items of one name whose data differs only by what it maps are equal.
  void setNormaliser(const Normaliser* normaliser) { normaliser_ = normaliser; }

  const std::vector<ContentRow>& rows() const { return rows_; }
  // The rows for a caller that marks or drops some of them.
  std::vector<ContentRow>& rows() { return rows_; }
  // True when some row has a state other than unchanged.
  bool hasDifferences() const;

 private:
  std::unique_ptr<ItemListReader> a_, b_;
  int section_ = -1;
  std::vector<ContentRow> rows_;
  const Normaliser* normaliser_ = nullptr;
};

// The label of a content row: "-", "add", "del", "old" (from A) or "new" (from B).
const char* rowLabel(int state, bool fromB);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_COMPARE_H_
