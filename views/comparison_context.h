// The comparison context: the snapshot being viewed, or the pair being compared, and the entry
// points through which the screens, the reports and the exports walk them.
//
// One instance lives for the whole process; commands that need their own (a differences list
// from the snapshot list) make a local one. Everything runs on the user-interface thread.
#ifndef KELDRUN_VIEWS_COMPARISON_CONTEXT_H_
#define KELDRUN_VIEWS_COMPARISON_CONTEXT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "engine/compare.h"
#include "engine/section_filter.h"
#include "engine/snapshot.h"

namespace keldrun {

struct EmptyReason {
  bool noSnapshot = false;     // a snapshot in use has no root table for the section
  bool noCommonPaths = false;  // the two snapshots recorded no common path of the section
};

class ComparisonContext {
 public:
  ComparisonContext();
  ~ComparisonContext();
  ComparisonContext(const ComparisonContext&) = delete;
  ComparisonContext& operator=(const ComparisonContext&) = delete;

  // The folder that holds the catalog's "snap%03d.snp" files, with its trailing separator;
  // "data\" (Windows) or "data/" (POSIX) relative to the current folder until set.
  void setDataFolder(const std::string& folder) { dataFolder_ = folder; }
  std::string snapshotPath(int number) const;

  // Opens snapshot numberA, and numberB when it is not 0, from the data folder. mode is
  // kModeCompare (A older, B newer; numberB required) or kModeView (A alone). Builds the three
  // section filters. False when a file or its header cannot be read; what was open before then
  // stays open and whole, since the screens still show it.
  bool open(int numberA, int numberB, int mode, bool full);
  // The same with file paths; pathB is ignored in kModeView.
  bool openFiles(const std::string& pathA, const std::string& pathB, int mode, bool full);
  // Clears both infos, closes both files, returns to mode 0.
  void close();

  // Compares across machines: walks and content comparisons map what differs by machine alone
  // (engine/normalise.h), with the identities the two open snapshots recorded. Off after every
  // open and close; on only in kModeCompare.
  void setNormalise(bool normalise);
  bool normalise() const { return normaliser_ != nullptr; }

  int mode() const { return mode_; }
  bool full() const { return full_; }
  void setFull(bool full) { full_ = full; }
  int currentSection() const { return currentSection_; }
  const SnapshotInfo& infoA() const { return infoA_; }
  const SnapshotInfo& infoB() const { return infoB_; }
  SnapshotFile* fileA() { return fileA_.get(); }
  // Null in view mode.
  SnapshotFile* fileB() { return mode_ == kModeCompare ? fileB_.get() : nullptr; }
  const SectionFilter& filter(int section) const { return filters_[section]; }

  // noSnapshot: nothing is open, A has no root table for the section, or (comparing) B has
  // none. noCommonPaths: the section filter's none-in-common flag.
  EmptyReason emptyReason(int section) const;

  // False when a root table of the section that a header names cannot be read (its length
  // runs past the end of the file, or the read fails): the section is damaged, not empty. The
  // file counts such a table as damage.
  bool rootsReadable(int section);

  // The section's root offsets in A and (comparing) B; both 0 when the section has no snapshot.
  uint32_t rootA(int section) const;
  uint32_t rootB(int section) const;

  // Makes the section current and walks it from its root tables with the visitor. A section
  // with no snapshot (emptyReason().noSnapshot) is not walked: a section recorded in only one
  // of two snapshots would otherwise show all of it as added or deleted.
  void walkSection(int section, TreeVisitor* visitor);
  // Walks the registry section below the node at path whose child tables are given.
  void walkSubtree(const std::u16string& path, uint32_t childrenA, uint32_t childrenB,
                   TreeVisitor* visitor);
  // Walks one level of the current section: the children of the node at path whose child
  // tables are given.
  void walkLevel(int section, const std::u16string& path, uint32_t childrenA, uint32_t childrenB,
                 TreeVisitor* visitor);

  // nodeState with this context's mode and full flag.
  NodeState nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult) const;
  // compareContent on this context's files, mode and full flag.
  bool compareContent(int section, uint32_t contentA, uint32_t contentB, ContentComparison* out);

  // Replaces every "$snap_name$" by A's name, then every "$snap2_name$" by B's name, then every
  // "$pg_title$" by the title ("view <A>" in view mode, "<A> vs <B>" otherwise). Names are
  // UTF-8, so the result of an ASCII text is UTF-8.
  std::string expandPlaceholders(const std::string& text) const;
  std::string title() const;

 private:
  int mode_ = kModeNone;
  bool full_ = true;
  int currentSection_ = 0;
  std::string dataFolder_;
  SnapshotInfo infoA_, infoB_;
  // Never null; replaced whole by a successful open.
  std::unique_ptr<SnapshotFile> fileA_, fileB_;
  SectionFilter filters_[kSectionCount];
  std::unique_ptr<Normaliser> normaliser_;  // null: names and data as recorded
};

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_COMPARISON_CONTEXT_H_
