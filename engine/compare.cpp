#include "engine/compare.h"

#include <algorithm>

#include "engine/app_record.h"
#include "engine/file_entry.h"
#include "engine/value_entry.h"

namespace keldrun {

NodeState nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult, int mode, bool full) {
  NodeState s;
  if (a && b) {
    bool childDiffers = childrenDiffer(*a, *b);
    bool mapped = a->contentDiffers >= 0;
    s.ownChanged = (mapped ? a->contentDiffers == 1 : a->contentHash != b->contentHash) ||
                   extensionDiffers(*a, *b, false);
    // The walker pairs two names only when they are equal but for case; a key or folder whose
    // name changed case has changed, though nothing in or below it did. A normalising walker
    // pairs names by their mapped form, which it has judged.
    bool renamed = !mapped && compareStored(a->name, b->name) != 0;
    s.state = (childDiffers || s.ownChanged || renamed) ? kModified : kUnchanged;
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

bool childrenDiffer(const TreeEntry& a, const TreeEntry& b) {
  if (a.childrenDiffer >= 0) return a.childrenDiffer == 1;
  return a.childHash != b.childHash || extensionDiffers(a, b, true);
}

bool extensionDiffers(const TreeEntry& a, const TreeEntry& b, bool children) {
  if (!a.extended || !b.extended) return false;
  return children ? a.extChildHash != b.extChildHash : a.extContentHash != b.extContentHash;
}

TreeWalker::TreeWalker(SnapshotFile* fileA, SnapshotFile* fileB, const SectionFilter* filter)
    : fileA_(fileA), fileB_(fileB), filter_(filter) {
  bool namedA = fileA && fileA->namedDigests(), namedB = fileB && fileB->namedDigests();
  namesCovered_ = namedA && namedB;
  bothOld_ = !namedA && !namedB;
  extensions_ = extensionsComparable(fileA, fileB);
}

bool extensionsComparable(const SnapshotFile* a, const SnapshotFile* b) {
  return a && b && a->hasExtension() && b->hasExtension() && a->computer() == b->computer();
}

void TreeWalker::walkTree(uint32_t offsetA, uint32_t offsetB, const std::u16string& parentPath,
                          TreeVisitor* visitor) {
  // Everything below a path that lies inside the filter lies inside it too, so the filter is
  // tested once for the parent instead of once per node.
  int parentFilter = parentPath.empty() ? kPathOutside : testPath(*filter_, parentPath);
  walkLevel(offsetA, offsetB, 0, 0, parentPath, parentFilter, false, visitor);
}

bool TreeWalker::readTable(SnapshotFile* file, uint32_t offset, std::vector<uint8_t>* buffer,
                           size_t* length) {
  *length = 0;
  if (offset == 0) return true;
  if (!file) return false;
  if (file->readBlock(offset, buffer, 0, length) && *length != 0 && *length <= buffer->size())
    return true;
  file->noteDamage(offset);
  *length = 0;
  return false;
}

namespace {

// The childHash that a table of TreeEntry records stands for, by the file's digest rule.
uint32_t tableDigest(SnapshotFile* file, const uint8_t* p, size_t n) {
  Slice s(p, n);
  TreeEntry e;
  uint32_t crc = 0;
  const uint8_t* at = s.data();
  while (TreeEntry::parse(&s, &e)) {
    crc = chainChildDigest(crc, at, e.size, file->namedDigests());
    at = s.data();
  }
  return crc;
}

}  // namespace

bool TreeWalker::nextEntry(SnapshotFile* file, uint32_t offset, const std::vector<uint8_t>& block,
                           Slice* s, TreeEntry* e) {
  if (s->empty()) return false;
  uint32_t at = uint32_t(offset + kBlockLengthSize + size_t(s->data() - block.data()));
  if (!TreeEntry::parse(s, e)) {
    file->noteDamage(offset);  // the entries end inside the block
    return false;
  }
  if (!file->claimTable(e->childTable, at + uint32_t(kTreeChildTable))) e->childTable = 0;
  if (!file->claimTable(e->contentTable, at + uint32_t(kTreeContentTable))) e->contentTable = 0;
  e->extended = extensions_;
  if (e->extended) {
    e->extContentHash = file->extensionHash(e->contentTable);
    e->extChildHash = file->extensionHash(e->childTable);
  }
  return true;
}

TreeWalker::MappedLevel TreeWalker::mappedLevel(SnapshotFile* file, uint32_t offset,
                                                const std::vector<uint8_t>& block, Slice s, int side,
                                                const std::u16string& parentPath) {
  MappedLevel level;
  TreeEntry e;
  while (nextEntry(file, offset, block, &s, &e))
    level.emplace_back(normaliser_->name(side, parentPath, e.name.str()), e);
  std::stable_sort(level.begin(), level.end(), [](const auto& x, const auto& y) {
    return compareTableOrder(x.first, y.first) < 0;
  });
  return level;
}

template <typename Pair>
void TreeWalker::mergeMapped(MappedLevel& a, MappedLevel& b, Pair pair) {
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    int c = i == a.size() ? 1 : j == b.size() ? -1 : compareNames(a[i].first, b[j].first);
    const std::u16string& name = c <= 0 ? a[i].first : b[j].first;
    pair(c <= 0 ? &a[i].second : nullptr, c >= 0 ? &b[j].second : nullptr, name);
    if (c <= 0) i++;
    if (c >= 0) j++;
  }
}

bool TreeWalker::contentDiffersMapped(const TreeEntry& a, const TreeEntry& b) {
  if (a.contentHash == b.contentHash) return false;
  if (a.contentTable == 0 || b.contentTable == 0) return a.contentTable != b.contentTable;
  ContentComparison content;
  content.setNormaliser(normaliser_);
  return !content.run(section_, fileA_, a.contentTable, fileB_, b.contentTable, kModeCompare,
                      false) ||
         content.hasDifferences();
}

bool TreeWalker::judgeChildren(const TreeEntry& a, const TreeEntry& b, int depth,
                               const std::u16string& path) {
  if (extensionDiffers(a, b, true)) return true;
  if (normaliser_) {
    // Equal as recorded is equal once mapped; unequal digests may differ only by what maps.
    if (namesCovered_ && a.childHash == b.childHash) return false;
  } else {
    if (namesCovered_) return a.childHash != b.childHash;
    if (bothOld_ && a.childHash != b.childHash) return true;
  }
  if (a.childTable == 0 || b.childTable == 0) return a.childTable != b.childTable;
  uint64_t key = uint64_t(a.childTable) << 32 | b.childTable;
  auto known = judged_.find(key);
  if (known != judged_.end()) return known->second;
  bool differ = true;  // what cannot be read cannot be shown equal
  if (depth < kMaxWalkDepth) {
    if (judgeLevels_.size() <= size_t(depth)) judgeLevels_.resize(size_t(depth) + 1);
    Level& level = judgeLevels_[size_t(depth)];  // deque: deeper levels never move it
    size_t lengthA = 0, lengthB = 0;
    if (readTable(fileA_, a.childTable, &level.a, &lengthA) &&
        readTable(fileB_, b.childTable, &level.b, &lengthB)) {
      Slice sa(level.a.data(), lengthA), sb(level.b.data(), lengthB);
      if (normaliser_) {
        std::u16string prefix = path;
        if (!prefix.empty() && prefix.back() != u'\\') prefix.push_back(u'\\');
        MappedLevel ma = mappedLevel(fileA_, a.childTable, level.a, sa, Normaliser::kSideA, prefix);
        MappedLevel mb = mappedLevel(fileB_, b.childTable, level.b, sb, Normaliser::kSideB, prefix);
        differ = false;
        mergeMapped(ma, mb, [&](const TreeEntry* x, const TreeEntry* y, const std::u16string& name) {
          differ = differ || !x || !y || contentDiffersMapped(*x, *y) ||
                   extensionDiffers(*x, *y, false) || judgeChildren(*x, *y, depth + 1, prefix + name);
        });
        judged_[key] = differ;
        return differ;
      }
      TreeEntry x, y;
      for (;;) {
        bool hasX = nextEntry(fileA_, a.childTable, level.a, &sa, &x);
        bool hasY = nextEntry(fileB_, b.childTable, level.b, &sb, &y);
        if (!hasX || !hasY) {
          differ = hasX || hasY;
          break;
        }
        if (compareStored(x.name, y.name) != 0 || x.contentHash != y.contentHash ||
            extensionDiffers(x, y, false) || judgeChildren(x, y, depth + 1, path)) {
          break;
        }
      }
    }
  }
  judged_[key] = differ;
  return differ;
}

bool TreeWalker::takeCaseRun(SnapshotFile* file, uint32_t offset, const std::vector<uint8_t>& block,
                             Slice* s, TreeEntry* e, std::vector<TreeEntry>* run) {
  run->assign(1, *e);
  bool has;
  while ((has = nextEntry(file, offset, block, s, e)) &&
         compareStoredFolded(e->name, run->front().name) == 0) {
    run->push_back(*e);
  }
  return has;
}

std::vector<TreeWalker::RunPair> TreeWalker::pairCaseRun(const std::vector<TreeEntry>& a,
                                                         const std::vector<TreeEntry>& b) {
  std::vector<RunPair> pairs;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    int c = i == a.size() ? 1 : j == b.size() ? -1 : compareStored(a[i].name, b[j].name);
    pairs.push_back({c <= 0 ? int(i++) : -1, c >= 0 ? int(j++) : -1});
  }
  // The names of a side that kept no twin: one on each side is that name in another case.
  size_t loneA = 0, loneB = 0, countA = 0, countB = 0;
  for (size_t k = 0; k < pairs.size(); k++) {
    if (pairs[k].b < 0) {
      loneA = k;
      countA++;
    }
    if (pairs[k].a < 0) {
      loneB = k;
      countB++;
    }
  }
  if (countA == 1 && countB == 1) {
    size_t first = std::min(loneA, loneB), second = std::max(loneA, loneB);
    pairs[first] = {pairs[loneA].a, pairs[loneB].b};
    pairs.erase(pairs.begin() + long(second));
  }
  return pairs;
}

void TreeWalker::walkLevel(uint32_t offsetA, uint32_t offsetB, uint32_t digestA, uint32_t digestB,
                           const std::u16string& parentPath, int parentFilter, bool equalBelow,
                           TreeVisitor* visitor) {
  if (depth_ >= kMaxWalkDepth) {
    // No sound snapshot is this deep: the tables below are damage, not a view.
    if (fileA_) fileA_->noteDamage(offsetA);
    if (fileB_) fileB_->noteDamage(offsetB);
    return;
  }
  if (levels_.size() <= size_t(depth_)) levels_.emplace_back();
  Level& level = levels_[size_t(depth_)];
  size_t lengthA = 0, lengthB = 0;
  if (!readTable(fileA_, offsetA, &level.a, &lengthA)) return;
  if (!readTable(fileB_, offsetB, &level.b, &lengthB)) return;
  Slice sa(level.a.data(), lengthA), sb(level.b.data(), lengthB);

  std::u16string path = parentPath;
  if (!path.empty() && path.back() != u'\\') path.push_back(u'\\');
  const size_t prefixSize = path.size();
  std::u16string name;

  // A table read for a parent entry must hold what the parent's digest says, or it is not the
  // table that was written there (zeroed or overwritten).
  if (depth_ > 0) {  // the top of a walk has no parent entry at hand
    if (offsetA && tableDigest(fileA_, level.a.data(), lengthA) != digestA) fileA_->noteDamage(offsetA);
    if (offsetB && tableDigest(fileB_, level.b.data(), lengthB) != digestB) fileB_->noteDamage(offsetB);
  }

  // Visits one name of the level: the pair, or the entry one side holds alone.
  // mappedName: the name a normalising walk paired the node under.
  auto visitNode = [&](TreeEntry* a, TreeEntry* b, const std::u16string* mappedName) {
    if (mappedName) {
      name = *mappedName;
    } else {
      // A key or folder that a filter item names but that was missing when the scan ran is
      // recorded by the item's own text, in lower case: its other side's name is the real one.
      bool onlyAHolds = a && b && (a->childTable || a->contentTable) && !b->childTable &&
                        !b->contentTable;
      const StoredText& stored = b && !onlyAHolds ? b->name : a->name;
      name.resize(stored.chars);
      for (size_t i = 0; i < stored.chars; i++) name[i] = stored.at(i);
    }
    path.resize(prefixSize);
    path += name;
    bool pairEqualBelow = false;
    if (a && b) {
      bool differ = !equalBelow && judgeChildren(*a, *b, depth_, path);
      a->childrenDiffer = b->childrenDiffer = differ ? 1 : 0;
      pairEqualBelow = !differ;
      if (normaliser_)
        a->contentDiffers = b->contentDiffers = !equalBelow && contentDiffersMapped(*a, *b) ? 1 : 0;
    }
    int f = parentFilter == kPathInside ? kPathInside : testPath(*filter_, path);
    if (f != kPathOutside) {
      uint32_t childA = a ? a->childTable : 0;
      uint32_t childB = b ? b->childTable : 0;
      if (visitor->visit(path, name, a, b, f) && (childA || childB))
        walkLevel(childA, childB, a ? a->childHash : 0, b ? b->childHash : 0, path, f,
                  pairEqualBelow, visitor);
    }
  };

  if (normaliser_) {
    std::u16string prefix = path;
    MappedLevel ma = mappedLevel(fileA_, offsetA, level.a, sa, Normaliser::kSideA, prefix);
    MappedLevel mb = mappedLevel(fileB_, offsetB, level.b, sb, Normaliser::kSideB, prefix);
    depth_++;
    mergeMapped(ma, mb, [&](TreeEntry* a, TreeEntry* b, const std::u16string& mapped) {
      visitNode(a, b, &mapped);
    });
    depth_--;
    return;
  }
  TreeEntry ea, eb;
  bool hasA = offsetA && nextEntry(fileA_, offsetA, level.a, &sa, &ea);
  bool hasB = offsetB && nextEntry(fileB_, offsetB, level.b, &sb, &eb);
  depth_++;
  while (hasA || hasB) {
    int order = (hasA && hasB) ? compareStored(ea.name, eb.name) : (hasA ? -1 : 1);
    if (order != 0 && hasA && hasB && compareStoredFolded(ea.name, eb.name) == 0) {
      std::vector<TreeEntry> runA, runB;
      hasA = takeCaseRun(fileA_, offsetA, level.a, &sa, &ea, &runA);
      hasB = takeCaseRun(fileB_, offsetB, level.b, &sb, &eb, &runB);
      for (const RunPair& p : pairCaseRun(runA, runB))
        visitNode(p.a >= 0 ? &runA[size_t(p.a)] : nullptr, p.b >= 0 ? &runB[size_t(p.b)] : nullptr,
                  nullptr);
      continue;
    }
    TreeEntry* a = order <= 0 ? &ea : nullptr;
    TreeEntry* b = order >= 0 ? &eb : nullptr;
    visitNode(a, b, nullptr);
    if (a) hasA = nextEntry(fileA_, offsetA, level.a, &sa, &ea);
    if (b) hasB = nextEntry(fileB_, offsetB, level.b, &sb, &eb);
  }
  depth_--;
}

namespace {

class SnapshotChecker : public TreeVisitor {
 public:
  SnapshotChecker(SnapshotFile* file, int section) : file_(file), reader_(makeItemReader(section)) {}
  bool visit(const std::u16string&, const std::u16string&, const TreeEntry* a, const TreeEntry*,
             int) override {
    if (a->contentTable && reader_ && reader_->open(file_, a->contentTable)) {
      Item item;
      while (reader_->next(&item)) {
      }
      if (reader_->digest() != a->contentHash) file_->noteDamage(a->contentTable);
      reader_->checkExtra();
    }
    return true;
  }

 private:
  SnapshotFile* file_;
  std::unique_ptr<ItemListReader> reader_;
};

}  // namespace

size_t checkSnapshot(SnapshotFile* file, const SnapshotInfo& info) {
  for (int section = 0; section < kSectionCount; section++) {
    if (info.sectionOffset[section] == 0) continue;
    SectionFilter all = copyFilter({u"*"});
    SnapshotChecker checker(file, section);
    TreeWalker walker(file, nullptr, &all);
    walker.walkTree(info.sectionOffset[section], 0, std::u16string(), &checker);
  }
  return file->damagedTables();
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
      uint8_t marks = extensionsComparable(fileA, fileB) ? a_->marks(ia, *b_, ib) : 0;
      if (marks || (a_->differs(ia, ib) && !(normaliser_ && normaliser_->sameMapped(section, ia, ib)))) {
        rows_.push_back({ia, kModified, "old", false, marks});
        rows_.push_back({ib, kModified, "new", true, marks});
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
  for (ContentRow& r : rows_) r.ext = (r.fromB ? b_ : a_)->ext(r.item);
  return true;
}

}  // namespace keldrun
