#include "views/tree_fill.h"

#include "engine/section_filter.h"
#include "views/comparison_context.h"

namespace keldrun {

// ---- MemoryTree ----

MemoryTree::Node* MemoryTree::get(TreeItem item) {
  if (item == 0 || item >= nodes_.size() || !nodes_[item].alive) return nullptr;
  return &nodes_[item];
}

TreeItem MemoryTree::insertItem(TreeItem parent, const std::u16string& text, const TreeItemLook& look,
                                intptr_t data) {
  if (!get(parent)) return 0;
  Node n;
  n.text = text;
  n.look = look;
  n.data = data;
  n.parent = parent;
  nodes_.push_back(std::move(n));
  TreeItem item = nodes_.size() - 1;
  nodes_[parent].children.push_back(item);
  return item;
}

void MemoryTree::deleteItem(TreeItem item) {
  Node* n = get(item);
  if (!n || item == kRoot) return;
  std::vector<TreeItem> kids = n->children;
  for (TreeItem k : kids) deleteItem(k);
  Node* p = get(nodes_[item].parent);
  if (p) {
    auto& c = p->children;
    for (size_t i = 0; i < c.size(); i++) {
      if (c[i] == item) {
        c.erase(c.begin() + long(i));
        break;
      }
    }
  }
  nodes_[item].alive = false;
  nodes_[item].children.clear();
  if (selected_ == item) selected_ = 0;
}

void MemoryTree::deleteAll() {
  nodes_.assign(2, Node());
  selected_ = 0;
}

TreeItem MemoryTree::firstChild(TreeItem item) {
  Node* n = get(item);
  return n && !n->children.empty() ? n->children[0] : 0;
}

TreeItem MemoryTree::nextSibling(TreeItem item) {
  Node* n = get(item);
  if (!n || item == kRoot) return 0;
  const auto& c = nodes_[n->parent].children;
  for (size_t i = 0; i + 1 < c.size(); i++)
    if (c[i] == item) return c[i + 1];
  return 0;
}

TreeItem MemoryTree::parent(TreeItem item) {
  Node* n = get(item);
  return n ? n->parent : 0;
}

std::u16string MemoryTree::text(TreeItem item) {
  Node* n = get(item);
  return n ? n->text : std::u16string();
}

intptr_t MemoryTree::data(TreeItem item) {
  Node* n = get(item);
  return n ? n->data : kNoRecord;
}

void MemoryTree::expand(TreeItem item) {
  Node* n = get(item);
  if (!n || n->expanded) return;
  if (events_) events_->itemExpanding(item);
  if (Node* again = get(item)) again->expanded = true;
}

void MemoryTree::select(TreeItem item) {
  if (!get(item)) return;
  selected_ = item;
  if (events_) events_->selectionChanged(item);
}

TreeItem MemoryTree::child(TreeItem parent, const std::u16string& text) const {
  if (parent == 0 || parent >= nodes_.size()) return 0;
  for (TreeItem k : nodes_[parent].children)
    if (nodes_[k].text == text) return k;
  return 0;
}

// ---- records and looks ----

intptr_t NodeRecords::add(const NodeRecord& r) {
  if (records_.size() == records_.capacity()) records_.reserve(records_.size() + kGrowth);
  records_.push_back(r);
  return intptr_t(records_.size() - 1);
}

const NodeRecord* NodeRecords::get(intptr_t index) const {
  if (index < 0 || size_t(index) >= records_.size()) return nullptr;
  return &records_[size_t(index)];
}

uint32_t stateColor(int state) {
  static const uint32_t colors[kDiffStateCount] = {0x000000, 0x1E1EC8, 0x00B400, 0xC81E1E, 0x646464};
  return state >= 0 && state < kDiffStateCount ? colors[state] : 0;
}

int stateTreeIcon(int state) {
  static const int icons[kDiffStateCount] = {6, 7, 9, 8, 20};
  return state >= 0 && state < kDiffStateCount ? icons[state] : 6;
}

int stateListIcon(int state) {
  static const int icons[kDiffStateCount] = {2, 3, 5, 4, -1};
  return state >= 0 && state < kDiffStateCount ? icons[state] : -1;
}

std::u16string itemPath(TreeControl* tree, TreeItem item) {
  std::vector<std::u16string> texts;
  TreeItem root = tree->root();
  for (TreeItem i = item; i != 0 && i != root; i = tree->parent(i)) texts.push_back(tree->text(i));
  std::u16string path;
  for (size_t k = texts.size(); k-- > 0;) {
    if (!path.empty() && path.back() != u'\\') path.push_back(u'\\');
    path += texts[k];
  }
  return path;
}

// ---- filling ----

namespace {

class LevelFiller : public TreeVisitor {
 public:
  LevelFiller(ComparisonContext* context, TreeControl* tree, NodeRecords* records, TreeItem parent)
      : context_(context), tree_(tree), records_(records), parent_(parent) {}

  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
             const TreeEntry* b, int f) override {
    NodeState s = context_->nodeState(a, b, f);
    if (!context_->full()) {
      if (s.state == kUnchanged) return false;
      // A node on the way to the recorded paths with nothing changed below it would only show
      // grey ancestors above an empty tree: identical filtered snapshots must read "no
      // differences found".
      if (s.state == kExcluded && !s.expandable) return false;
    }
    NodeRecord r;
    if (f == kPathInside) {
      r.contentA = a ? a->contentTable : 0;
      r.contentB = b ? b->contentTable : 0;
    }
    r.childrenA = a ? a->childTable : 0;
    r.childrenB = b ? b->childTable : 0;
    TreeItemLook look;
    look.icon = stateTreeIcon(s.state);
    look.bold = s.ownChanged;
    look.color = stateColor(s.state);
    TreeItem item = tree_->insertItem(parent_, name, look, records_->add(r));
    if (item && s.expandable) tree_->insertItem(item, u"-", TreeItemLook(), kPlaceholder);
    inserted++;
    return false;
  }

  size_t inserted = 0;

 private:
  ComparisonContext* context_;
  TreeControl* tree_;
  NodeRecords* records_;
  TreeItem parent_;
};

}  // namespace

size_t fillTreeLevel(ComparisonContext* context, int section, TreeControl* tree,
                     NodeRecords* records, uint32_t childrenA, uint32_t childrenB,
                     TreeItem parentItem) {
  LevelFiller filler(context, tree, records, parentItem);
  if (parentItem == tree->root()) {
    context->walkSection(section, &filler);
  } else {
    context->walkLevel(section, itemPath(tree, parentItem), childrenA, childrenB, &filler);
  }
  return filler.inserted;
}

void expandLazily(ComparisonContext* context, int section, TreeControl* tree, NodeRecords* records,
                  TreeItem item) {
  TreeItem first = tree->firstChild(item);
  if (!first || tree->data(first) != kPlaceholder) return;
  tree->deleteItem(first);
  const NodeRecord* r = records->get(tree->data(item));
  if (!r) return;
  NodeRecord copy = *r;  // the fill grows the records
  // The item is still collapsed: nothing inserted below it is on the screen yet, so there is no
  // drawing to hold back. (A tree drawn again after each level measures every item it holds,
  // which made expanding a whole tree take time growing with the square of its size.)
  fillTreeLevel(context, section, tree, records, copy.childrenA, copy.childrenB, item);
}

TreeItem locateItem(TreeControl* tree, const std::u16string& typed) {
  std::u16string path = foldPath(typed);
  if (path.empty() || path.back() != u'\\') path.push_back(u'\\');
  TreeItem item = tree->firstChild(tree->root());
  while (item) {
    std::u16string text = foldPath(tree->text(item));
    size_t n = text.size();
    if (n > 0 && text.back() == u'\\') n--;
    if (n > 0 && path.size() > n && path.compare(0, n, text, 0, n) == 0 && path[n] == u'\\') {
      tree->expand(item);
      path.erase(0, n + 1);
      if (path.empty()) {
        tree->select(item);
        tree->ensureVisible(item);
        return item;
      }
      item = tree->firstChild(item);
    } else {
      item = tree->nextSibling(item);
    }
  }
  return 0;
}

}  // namespace keldrun
