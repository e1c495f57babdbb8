// Lazy filling of a screen's node tree, one level per expansion, against a small tree interface
// that the window code implements with the system's tree control and the tests and the
// command line implement in memory (MemoryTree).
#ifndef KELDRUN_VIEWS_TREE_FILL_H_
#define KELDRUN_VIEWS_TREE_FILL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/compare.h"

namespace keldrun {

class ComparisonContext;

using TreeItem = uintptr_t;  // 0 = no item
constexpr intptr_t kNoRecord = -1;     // data of the message item
constexpr intptr_t kPlaceholder = -2;  // data of the "-" child of a node not yet filled

// Look of a tree item.
struct TreeItemLook {
  int icon = 0;
  bool bold = false;
  uint32_t color = 0;  // 0x00RRGGBB
};

// Notifications a tree delivers to the screen that owns it.
class TreeEvents {
 public:
  virtual ~TreeEvents() = default;
  // The item is about to show its children.
  virtual void itemExpanding(TreeItem item) = 0;
  // The item became the selected one.
  virtual void selectionChanged(TreeItem item) = 0;
};

class TreeControl {
 public:
  virtual ~TreeControl() = default;
  // The invisible root whose children are the top-level items.
  virtual TreeItem root() = 0;
  // Inserts an item at the end of parent's children.
  virtual TreeItem insertItem(TreeItem parent, const std::u16string& text, const TreeItemLook& look,
                              intptr_t data) = 0;
  virtual void deleteItem(TreeItem item) = 0;
  virtual void deleteAll() = 0;
  virtual TreeItem firstChild(TreeItem item) = 0;
  virtual TreeItem nextSibling(TreeItem item) = 0;
  // root() for a top-level item.
  virtual TreeItem parent(TreeItem item) = 0;
  virtual std::u16string text(TreeItem item) = 0;
  virtual intptr_t data(TreeItem item) = 0;
  // Shows the item's children; a collapsed item first delivers itemExpanding.
  virtual void expand(TreeItem item) = 0;
  // Selects the item and delivers selectionChanged.
  virtual void select(TreeItem item) = 0;
  virtual TreeItem selected() = 0;
  virtual void ensureVisible(TreeItem item) {}
};

// The tree in memory, for tests and the command line.
class MemoryTree : public TreeControl {
 public:
  struct Node {
    std::u16string text;
    TreeItemLook look;
    intptr_t data = 0;
    TreeItem parent = 0;
    std::vector<TreeItem> children;
    bool expanded = false;
    bool alive = true;
  };

  void setEvents(TreeEvents* events) { events_ = events; }

  TreeItem root() override { return kRoot; }
  TreeItem insertItem(TreeItem parent, const std::u16string& text, const TreeItemLook& look,
                      intptr_t data) override;
  void deleteItem(TreeItem item) override;
  void deleteAll() override;
  TreeItem firstChild(TreeItem item) override;
  TreeItem nextSibling(TreeItem item) override;
  TreeItem parent(TreeItem item) override;
  std::u16string text(TreeItem item) override;
  intptr_t data(TreeItem item) override;
  void expand(TreeItem item) override;
  void select(TreeItem item) override;
  TreeItem selected() override { return selected_; }

  const Node& node(TreeItem item) const { return nodes_[item]; }
  const std::vector<TreeItem>& children(TreeItem item) const { return nodes_[item].children; }
  // Finds a child of parent by its text (exactly); 0 when there is none.
  TreeItem child(TreeItem parent, const std::u16string& text) const;

 private:
  static constexpr TreeItem kRoot = 1;
  Node* get(TreeItem item);
  std::vector<Node> nodes_ = std::vector<Node>(2);  // 0 unused, 1 the root
  TreeEvents* events_ = nullptr;
  TreeItem selected_ = 0;
};

// What the screen keeps for each tree item that stands for a node of a snapshot.
struct NodeRecord {
  uint32_t contentA = 0;   // 0 when absent in A, empty, or only partly recorded
  uint32_t contentB = 0;
  uint32_t childrenA = 0;  // 0 when none or absent in A
  uint32_t childrenB = 0;
};

// The records of one screen; an item's data is an index into it.
class NodeRecords {
 public:
  static constexpr size_t kGrowth = 10240;
  intptr_t add(const NodeRecord& r);
  // Null for kNoRecord, kPlaceholder and anything out of range.
  const NodeRecord* get(intptr_t index) const;
  void clear() { records_.clear(); }
  size_t size() const { return records_.size(); }

 private:
  std::vector<NodeRecord> records_;
};

// Per-state look of the screens.
uint32_t stateColor(int state);     // 0x00RRGGBB
int stateTreeIcon(int state);
int stateListIcon(int state);       // -1 for excluded (never a list row)
constexpr int kIconMessageError = 14;
constexpr int kIconMessageNone = 0;

// The path of an item: the item texts from the top-level item down to it, joined by '\' (no
// separator after a text that already ends in '\', such as a drive "c:\").
std::u16string itemPath(TreeControl* tree, TreeItem item);

// Adds the children of parentItem (or, for tree->root(), the section's roots) to the tree: one
// item per node the walk delivers, skipping unchanged nodes unless the context's full flag is
// set, with the state's icon, colour and boldness, a record, and a placeholder child when the
// node is expandable. Never descends further. childrenA/childrenB are ignored for the root.
// Returns the number of items inserted.
size_t fillTreeLevel(ComparisonContext* context, int section, TreeControl* tree,
                     NodeRecords* records, uint32_t childrenA, uint32_t childrenB,
                     TreeItem parentItem);

// The lazy expansion of an item: when its first child is the placeholder, deletes it and fills
// the item's level from its record. An item is filled only once.
void expandLazily(ComparisonContext* context, int section, TreeControl* tree, NodeRecords* records,
                  TreeItem item);

// Finds the node of a typed path by walking the item texts from the top level down, matching
// case-insensitively and expanding each item on the way; selects it when found. Returns the
// item found, or 0 (the selection is then left as it was).
TreeItem locateItem(TreeControl* tree, const std::u16string& path);

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_TREE_FILL_H_
