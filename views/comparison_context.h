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
#include <unordered_map>

#include "engine/compare.h"
#include "engine/section_filter.h"
#include "engine/snapshot.h"
#include "workspace/noise.h"

namespace keldrun {

struct EmptyReason {
  bool noSnapshot = false;     // a snapshot in use has no root table for the section
  bool noCommonPaths = false;  // the two snapshots recorded no common path of the section
};

// The name of a registry value or a file of a content row (empty for the unnamed value, and
// for anything that cannot be parsed).
std::u16string itemName(int section, const Item& item);

// "1 difference", "312 differences": every count of differences the user reads is worded so.
std::string differencesText(size_t count);

// "312 differences hidden as noise": the line the screens, the reports and the command line
// show for what a noise list hid.
std::u16string hiddenNoiseText(size_t count);

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

  // nodeState with this context's mode and full flag. Once countHidden has walked the section,
  // a node visited while noise is hidden has the state of what is shown: a key or folder whose
  // every change is hidden noise is unchanged (not bold, not expandable in differences), one
  // whose own changes are all noise is not bold, one with noise only below it not expandable.
  NodeState nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult) const;
  // compareContent on this context's files, mode and full flag; during a visit, with the
  // visited node's noise.
  bool compareContent(int section, uint32_t contentA, uint32_t contentB, ContentComparison* out);

  // The noise list comparisons are seen through (null: none). While comparing (never viewing
  // one snapshot, and never in the applications section) a walk does not hand a hidden node to
  // its visitor, nor descend below it, and compareContent drops hidden rows; each hidden node
  // or row that differs is counted in its section's hiddenCount (a hidden key or folder once,
  // with all below it; an "old"/"new" pair once). With showNoise they are kept instead, and
  // marked: noiseNode() during the node's visit, ContentRow::noise.
  void setNoise(std::shared_ptr<const NoiseMatcher> noise) {
    noise_ = std::move(noise);
    forgetNoiseSummaries();
  }
  void setShowNoise(bool show) { showNoise_ = show; }
  bool showNoise() const { return showNoise_; }
  // Whether hiding is in force for the section: a list, a comparison, not the applications.
  bool hidesNoise(int section) const;
  size_t hiddenCount(int section) const { return hidden_[section]; }
  size_t hiddenTotal() const;
  void resetHiddenCounts();
  // How many of the section's differences the list hides (0 when it hides nothing, or noise is
  // shown): the count a screen shows beside its lazily filled tree. The first call after an
  // open, setNoise or setNormalise walks the section's differences whole, rows included, and
  // keeps what it found (the count, the nodes whose changes are all noise) for nodeState.
  size_t countHidden(int section);
  // During a visit: whether the node visited is noise (only ever true with showNoise).
  bool noiseNode() const { return current_ && current_->hidden(); }
  // compareContent for the node at path outside a walk (a screen's selected node), hiding or
  // marking its rows as a visit would.
  bool compareContentAt(int section, const std::u16string& path, uint32_t contentA,
                        uint32_t contentB, ContentComparison* out);
  // For writers that merge content tables themselves (reports, .reg scripts): whether the item
  // of the node being visited (or the one enterNode named) is noise; when it is hidden rather
  // than shown, it is counted (a row of state `state`; the "new" half of a pair counts not).
  bool noiseItem(int section, const Item& item, int state, bool fromB);
  // noiseItem, and noise is not shown: the item is to be left out.
  bool hiddenItem(int section, const Item& item, int state, bool fromB) {
    return noiseItem(section, item, state, fromB) && !showNoise_;
  }
  // Makes `path` the node whose items noiseItem judges, outside a walk; leaveNode ends that.
  void enterNode(const std::u16string& path);
  void leaveNode() { current_ = nullptr; }

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

  class NoiseWalk;
  class SummaryWalk;
  // What hiding noise leaves of a changed key or folder, for nodeState.
  struct QuietNode {
    bool ownShown = false;    // some of its own changes are not noise
    bool belowShown = false;  // something below it is still shown
    bool renamed = false;     // its name changed case, which no list hides
  };
  // What countHidden found in a section; valid while `counted`.
  struct NoiseSummary {
    bool counted = false;
    size_t hidden = 0;
    std::unordered_map<std::u16string, QuietNode> quiet;  // by path: nodes noise changed the look of
  };
  void forgetNoiseSummaries();
  // Hides or marks the rows of `out` by the current node's mark.
  void applyNoise(int section, ContentComparison* out);
  std::shared_ptr<const NoiseMatcher> noise_;
  bool showNoise_ = false;
  size_t hidden_[kSectionCount] = {0, 0, 0};
  const NoiseMark* current_ = nullptr;  // the mark of the node being visited
  const QuietNode* currentQuiet_ = nullptr;  // the node being visited, when noise changed its look
  NoiseSummary summaries_[kSectionCount];
  NoiseMark entered_;                   // the node enterNode named
  std::unique_ptr<Normaliser> normaliser_;  // null: names and data as recorded
};

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_COMPARISON_CONTEXT_H_
