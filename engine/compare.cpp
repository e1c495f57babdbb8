#include "engine/compare.h"

#include "engine/app_record.h"
#include "engine/file_entry.h"
#include "engine/value_entry.h"

namespace keldrun {

NodeState nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult, int mode, bool full) {
  NodeState s;
  if (a && b) {
    bool childDiffers = a->childHash != b->childHash;
    s.ownChanged = a->contentHash != b->contentHash;
    s.state = (childDiffers || s.ownChanged) ? kModified : kUnchanged;
    s.expandable = childDiffers || (full && (a->childTable != 0 || b->childTable != 0));
  } else if (a || b) {
    const TreeEntry* only = a ? a : b;
    if (mode == kModeCompare) {
      s.state = a ? kDeleted : kAdded;
      s.ownChanged = true;
    }
    s.expandable = only->childTable != 0;
  }
  if (filterResult == kPathOnTheWay) {
    s.state = kExcluded;
    s.ownChanged = false;
  }
  return s;
}

TreeWalker::TreeWalker(SnapshotFile* fileA, SnapshotFile* fileB, const SectionFilter* filter)
    : fileA_(fileA), fileB_(fileB), filter_(filter) {}

void TreeWalker::walkTree(uint32_t offsetA, uint32_t offsetB, const std::u16string& parentPath,
                          TreeVisitor* visitor) {
  bool top = depth_ == 0;
  if (top) {
    seenA_.clear();
    seenB_.clear();
    if (offsetA) seenA_.insert(offsetA);
    if (offsetB) seenB_.insert(offsetB);
  }
  // Everything below a path that lies inside the filter lies inside it too, so the filter is
  // tested once for the parent instead of once per node.
  int parentFilter = parentPath.empty() ? kPathOutside : testPath(*filter_, parentPath);
  walkLevel(offsetA, offsetB, parentPath, parentFilter, visitor);
}

bool TreeWalker::readLevel(SnapshotFile* file, uint32_t offset, std::vector<uint8_t>* buffer,
                           size_t* length) {
  *length = 0;
  if (offset == 0) return true;
  if (!file) return false;
  return file->readBlock(offset, buffer, 0, length) && *length <= buffer->size();
}

void TreeWalker::walkLevel(uint32_t offsetA, uint32_t offsetB, const std::u16string& parentPath,
                           int parentFilter, TreeVisitor* visitor) {
  if (depth_ >= kMaxWalkDepth) return;
  if (levels_.size() <= size_t(depth_)) levels_.emplace_back();
  Level& level = levels_[depth_];
  size_t lengthA = 0, lengthB = 0;
  if (!readLevel(fileA_, offsetA, &level.a, &lengthA)) return;
  if (!readLevel(fileB_, offsetB, &level.b, &lengthB)) return;
  Slice sa(level.a.data(), lengthA), sb(level.b.data(), lengthB);

  std::u16string path = parentPath;
  if (!path.empty() && path.back() != u'\\') path.push_back(u'\\');
  const size_t prefixSize = path.size();
  std::u16string name;

  TreeEntry ea, eb;
  bool hasA = TreeEntry::parse(&sa, &ea);
  bool hasB = TreeEntry::parse(&sb, &eb);
  depth_++;
  while (hasA || hasB) {
    int order = (hasA && hasB) ? compareStored(ea.name, eb.name) : (hasA ? -1 : 1);
    const TreeEntry* a = order <= 0 ? &ea : nullptr;
    const TreeEntry* b = order >= 0 ? &eb : nullptr;
    const StoredText& stored = a ? a->name : b->name;
    name.resize(stored.chars);
    for (size_t i = 0; i < stored.chars; i++) name[i] = stored.at(i);
    path.resize(prefixSize);
    path += name;
    int f = parentFilter == kPathInside ? kPathInside : testPath(*filter_, path);
    if (f != kPathOutside) {
      uint32_t childA = a ? a->childTable : 0;
      uint32_t childB = b ? b->childTable : 0;
      if (visitor->visit(path, name, a, b, f) && (childA || childB)) {
        // A table already walked in this walk is not walked again: in a sound file every table
        // has exactly one parent entry.
        if (childA && !seenA_.insert(childA).second) childA = 0;
        if (childB && !seenB_.insert(childB).second) childB = 0;
        if (childA || childB) walkLevel(childA, childB, path, f, visitor);
      }
    }
    if (a) hasA = TreeEntry::parse(&sa, &ea);
    if (b) hasB = TreeEntry::parse(&sb, &eb);
  }
  depth_--;
}

std::unique_ptr<ItemListReader> makeItemReader(int section) {
  switch (section) {
    case kSectionRegistry: return std::make_unique<ValueListReader>();
    case kSectionFiles: return std::make_unique<FileItemReader>();
    case kSectionApps: return std::make_unique<AppItemListReader>();
    default: return nullptr;
  }
}

const char* rowLabel(int state, bool fromB) {
  switch (state) {
    case kModified: return fromB ? "new" : "old";
    case kAdded: return "add";
    case kDeleted: return "del";
    default: return "-";
  }
}

bool ContentComparison::hasDifferences() const {
  for (const ContentRow& r : rows_)
    if (r.state != kUnchanged) return true;
  return false;
}

bool ContentComparison::run(int section, SnapshotFile* fileA, uint32_t offsetA, SnapshotFile* fileB,
                            uint32_t offsetB, int mode, bool full) {
  rows_.clear();
  if (section != section_ || !a_ || !b_) {
    a_ = makeItemReader(section);
    b_ = makeItemReader(section);
    section_ = section;
    if (!a_ || !b_) return false;
  }
  bool compare = mode == kModeCompare;
  if (!compare) offsetB = 0;
  // Offset 0 names the empty table, which is never read.
  if (offsetA && !(fileA && a_->open(fileA, offsetA))) return false;
  if (offsetB && !(fileB && b_->open(fileB, offsetB))) return false;

  Item ia, ib;
  bool hasA = offsetA && a_->next(&ia);
  bool hasB = offsetB && b_->next(&ib);
  while (hasA && hasB) {
    int c = a_->order(ia, ib);
    if (c < 0) {
      rows_.push_back({ia, kDeleted, "del", false});
      hasA = a_->next(&ia);
    } else if (c > 0) {
      rows_.push_back({ib, kAdded, "add", true});
      hasB = b_->next(&ib);
    } else {
      if (a_->differs(ia, ib)) {
        rows_.push_back({ia, kModified, "old", false});
        rows_.push_back({ib, kModified, "new", true});
      } else if (full) {
        rows_.push_back({ia, kUnchanged, "-", false});
      }
      hasA = a_->next(&ia);
      hasB = b_->next(&ib);
    }
  }
  for (; hasA; hasA = a_->next(&ia)) {
    if (compare)
      rows_.push_back({ia, kDeleted, "del", false});
    else
      rows_.push_back({ia, kUnchanged, "-", false});
  }
  for (; hasB; hasB = b_->next(&ib)) rows_.push_back({ib, kAdded, "add", true});
  return true;
}

}  // namespace keldrun
