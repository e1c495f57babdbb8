// What the Registry, Files and Applications screens decide, as a plain class: the lazy tree,
// the empty-result messages, the rows of the selected node's list, the path shown for it, the
// enabled state of the controls in each mode and the view-mode rule. The window code draws what
// this class holds and forwards the tree's notifications to it.
#ifndef KELDRUN_VIEWS_SCREEN_MODEL_H_
#define KELDRUN_VIEWS_SCREEN_MODEL_H_

#include <string>
#include <vector>

#include "engine/compare.h"
#include "views/comparison_context.h"
#include "views/tree_fill.h"

namespace keldrun {

// The three messages an empty tree shows instead of nothing.
extern const char16_t kMessageNoSnapshot[];      // "no snapshot taken"
extern const char16_t kMessageNoCommonPaths[];   // "the snapshots don't have common paths"
extern const char16_t kMessageNoDifferences[];   // "no differences found"
// A root table that cannot be read: the tree must not claim that nothing differs.
extern const char16_t kMessageDamaged[];         // "the snapshot file is damaged"

// Why the section of the context cannot be shown or compared at all: kMessageNoSnapshot,
// kMessageNoCommonPaths or kMessageDamaged (a root table cannot be read); null when it can.
const char16_t* uncomparedMessage(ComparisonContext* context, int section);

// ViewMode, the setting shared by the three screens.
constexpr int kViewFull = 0;
constexpr int kViewDifferences = 1;

// The context's full flag for a context mode and ViewMode: one snapshot is always shown whole.
inline bool fullFor(int contextMode, int viewMode) {
  return contextMode == kModeView || viewMode == kViewFull;
}

struct ListRow {
  int state = kUnchanged;
  const char* label = "-";
  int icon = 2;
  uint32_t color = 0;
  std::vector<std::u16string> columns;  // the screen's columns, the label last
};

struct ScreenControls {
  bool radioEnabled = false;     // the "Full" / "Differences" pair
  int radioValue = kViewFull;    // which of the pair is checked (ViewMode)
  bool diffListEnabled = false;  // "view differences list"
  bool pathBoxEnabled = true;    // the Registry screen disables it in mode 0
  bool jumpEnabled = false;      // "Jump to"
  bool searchEnabled = false;    // the search pane
  std::u16string pathText;       // the path edit box
};

// The comparison's two choices in the Registry and Files screens' top row: "Show noise" and
// "Normalise machine differences" (user SIDs, profile folders, the computer name: the
// context's setNormalise). Both belong to the context, so every screen shows the same; both are
// offered while comparing only, and an open of another pair turns normalising off.
struct ComparisonChoices {
  bool enabled = false;
  bool showNoise = false;
  bool normalise = false;
};
ComparisonChoices comparisonChoices(const ComparisonContext& context);

class SnapshotScreenModel : public TreeEvents {
 public:
  // section: 0 Registry, 1 Files, 2 Applications. The tree must deliver its events to this
  // object (MemoryTree::setEvents, or the window's notifications).
  SnapshotScreenModel(int section, ComparisonContext* context, TreeControl* tree);

  int sectionIndex() const { return section_; }
  int mode() const { return mode_; }
  const ScreenControls& controls() const { return controls_; }
  const std::vector<ListRow>& rows() const { return rows_; }
  // Hands the rows of the selected node over to the window's list, which keeps its own: a
  // folder of 50,000 files is then held once, not twice. rows() is empty afterwards.
  std::vector<ListRow> takeRows() {
    std::vector<ListRow> out;
    out.swap(rows_);
    return out;
  }
  // The path of the node the tree shows selected; empty while none with a record is. Every
  // command of the screen acts on this node: the path box may hold a typed path that names no
  // node.
  const std::u16string& nodePath() const { return nodePath_; }
  // Index of the selected list row; -1 when none.
  int selectedRow() const { return selectedRow_; }
  const NodeRecords& records() const { return records_; }
  // The message item's text when the tree shows one, else empty.
  const std::u16string& message() const { return message_; }
  int messageIcon() const { return messageIcon_; }

  // "312 differences hidden as noise" for the screen's section, empty when the context's noise
  // list hides nothing there (or noise is shown). The context counts once per comparison and
  // list (ComparisonContext::countHidden).
  std::u16string hiddenNoiseLine();

  // Refills the screen from the context: the roots, or one message item.
  void refresh(int viewMode);
  // Mode 0 with nothing in the tree or the list (before the context closes).
  void clear();

  void itemExpanding(TreeItem item) override;
  void selectionChanged(TreeItem item) override;

  // The controls of a screen mode (0 nothing, 1 comparison, 2 one snapshot).
  void setMode(int mode);

  // A radio button of the pair was pressed. True when value differs from *viewMode, which is
  // then stored; the caller then tells the main window (viewModeChanged), which refreshes the
  // three screens with full = fullFor(context mode, ViewMode).
  bool setViewMode(int value, int* viewMode);

  // Selects the node of a typed or searched path (expanding on the way) and then the first list
  // row whose first column equals itemName exactly. True when the node was found.
  bool locatePath(const std::u16string& path, const std::u16string& itemName);

  // The path edit box changed: fromUser when it has the focus. Returns the text the box shall
  // hold afterwards.
  std::u16string pathTextChanged(const std::u16string& text, bool fromUser);

 protected:
  // Adds one list row for an item of a content table with the screen's columns.
  virtual void addListRow(const Item& item, int state, const char* label);

 private:
  int section_;
  ComparisonContext* context_;
  TreeControl* tree_;
  int mode_ = kModeNone;
  int viewMode_ = kViewFull;
  NodeRecords records_;
  ContentComparison content_;
  std::vector<ListRow> rows_;
  int selectedRow_ = -1;
  ScreenControls controls_;
  std::u16string nodePath_;
  std::u16string message_;
  int messageIcon_ = 0;
};

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_SCREEN_MODEL_H_
