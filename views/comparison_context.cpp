#include "views/comparison_context.h"

#include <deque>

#include "base/files.h"
#include "engine/file_entry.h"
#include "engine/value_entry.h"
#include "workspace/settings.h"

namespace keldrun {

namespace {

void replaceAll(std::string* text, const std::string& from, const std::string& to) {
  size_t at = 0;
  while ((at = text->find(from, at)) != std::string::npos) {
    text->replace(at, from.size(), to);
    at += to.size();
  }
}

// Whether the node at `path`, met next in a depth-first walk, lies below the one whose path
// has `length` characters (a drive's root ends with its separator).
bool continues(const std::u16string& path, size_t length) {
  return path.size() > length && (path[length] == u'\\' || (length && path[length - 1] == u'\\'));
}

}  // namespace

ComparisonContext::ComparisonContext()
    : dataFolder_(withSeparator("data")),
      fileA_(std::make_unique<SnapshotFile>()),
      fileB_(std::make_unique<SnapshotFile>()) {}

ComparisonContext::~ComparisonContext() { close(); }

std::string ComparisonContext::snapshotPath(int number) const {
  return dataFolder_ + snapshotFileName(number);
}

bool ComparisonContext::open(int numberA, int numberB, int mode, bool full) {
  std::string pathB = numberB != 0 ? snapshotPath(numberB) : std::string();
  return openFiles(snapshotPath(numberA), pathB, mode, full);
}

bool ComparisonContext::openFiles(const std::string& pathA, const std::string& pathB, int mode,
                                  bool full) {
  if (mode != kModeCompare && mode != kModeView) return false;
  if (mode == kModeCompare && pathB.empty()) return false;
  auto fileA = std::make_unique<SnapshotFile>();
  auto fileB = std::make_unique<SnapshotFile>();
  SnapshotInfo infoA, infoB;
  if (!fileA->open(pathA, &infoA) || (mode == kModeCompare && !fileB->open(pathB, &infoB))) {
    return false;
  }
  close();
  fileA_ = std::move(fileA);
  fileB_ = std::move(fileB);
  infoA_ = infoA;
  infoB_ = infoB;
  mode_ = mode;
  forgetNoiseSummaries();
  full_ = full;
  for (int s = 0; s < kSectionCount; s++) {
    filters_[s] = mode == kModeView ? copyFilter(infoA_.filterList[s])
                                    : buildFilter(infoA_.filterList[s], infoB_.filterList[s]);
  }
  return true;
}

void ComparisonContext::close() {
  infoA_.reset();
  infoB_.reset();
  fileA_->close();
  fileB_->close();
  mode_ = kModeNone;
  for (SectionFilter& f : filters_) f = SectionFilter();
  normaliser_.reset();
  forgetNoiseSummaries();
}

void ComparisonContext::setNormalise(bool normalise) {
  normaliser_.reset();
  forgetNoiseSummaries();
  if (normalise && mode_ == kModeCompare) {
    normaliser_ = std::make_unique<Normaliser>(recordedIdentity(fileA_.get(), infoA_),
                                               recordedIdentity(fileB_.get(), infoB_));
  }
}

EmptyReason ComparisonContext::emptyReason(int section) const {
  EmptyReason r;
  if (section < 0 || section >= kSectionCount || mode_ == kModeNone) {
    r.noSnapshot = true;
    return r;
  }
  r.noSnapshot = infoA_.sectionOffset[section] == 0 ||
                 (mode_ != kModeView && infoB_.sectionOffset[section] == 0);
  r.noCommonPaths = filters_[section].noneInCommon;
  return r;
}

uint32_t ComparisonContext::rootA(int section) const {
  if (emptyReason(section).noSnapshot) return 0;
  return infoA_.sectionOffset[section];
}

uint32_t ComparisonContext::rootB(int section) const {
  if (mode_ != kModeCompare || emptyReason(section).noSnapshot) return 0;
  return infoB_.sectionOffset[section];
}

bool ComparisonContext::rootsReadable(int section) {
  if (section < 0 || section >= kSectionCount || mode_ == kModeNone) return true;
  std::vector<uint8_t> block;
  size_t length = 0;
  SnapshotFile* files[2] = {fileA(), fileB()};
  uint32_t roots[2] = {rootA(section), rootB(section)};
  bool readable = true;
  for (int i = 0; i < 2; i++) {
    if (roots[i] == 0 || files[i]->readBlock(roots[i], &block, 0, &length)) continue;
    files[i]->noteDamage(roots[i]);
    readable = false;
  }
  return readable;
}

// Carries the noise mark down the walk: the mark of each node is stepped from its parent's, one
// component, instead of matching the whole path against the list.
class ComparisonContext::NoiseWalk : public TreeVisitor {
 public:
  NoiseWalk(ComparisonContext* context, int section, const std::u16string& parentPath,
            TreeVisitor* inner)
      : context_(context), section_(section), inner_(inner) {
    stack_.push_back({parentPath.size(), context->noise_->markOf(parentPath)});
  }
  ~NoiseWalk() override { context_->current_ = nullptr; }

  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
             const TreeEntry* b, int filterResult) override {
    // Depth-first: the parent is the newest node on the stack whose path this one continues.
    while (stack_.size() > 1 && !continues(path, stack_.back().length)) stack_.pop_back();
    NoiseMark mark = context_->noise_->step(stack_.back().mark, name);
    if (mark.hidden() && !context_->showNoise_) {
      int state = context_->nodeState(a, b, filterResult).state;
      if (state == kModified || state == kAdded || state == kDeleted) context_->hidden_[section_]++;
      return false;
    }
    stack_.push_back({path.size(), std::move(mark)});
    context_->current_ = &stack_.back().mark;
    const NoiseSummary& summary = context_->summaries_[section_];
    if (summary.counted && !summary.quiet.empty() && !context_->showNoise_) {
      auto quiet = summary.quiet.find(path);
      if (quiet != summary.quiet.end()) context_->currentQuiet_ = &quiet->second;
    }
    bool descend = inner_->visit(path, name, a, b, filterResult);
    context_->current_ = nullptr;
    context_->currentQuiet_ = nullptr;
    return descend;
  }

 private:
  struct Level {
    size_t length;
    NoiseMark mark;
  };
  ComparisonContext* context_;
  int section_;
  TreeVisitor* inner_;
  std::deque<Level> stack_;  // deque: the current mark's address survives pushes
};

bool ComparisonContext::hidesNoise(int section) const {
  return noise_ && !noise_->empty() && mode_ == kModeCompare && section >= 0 &&
         section < kSectionCount && section != kSectionApps;
}

size_t ComparisonContext::hiddenTotal() const {
  size_t n = 0;
  for (size_t h : hidden_) n += h;
  return n;
}

void ComparisonContext::resetHiddenCounts() {
  for (size_t& h : hidden_) h = 0;
}

// Walks a section's differences as the screens show them with noise hidden, rows included,
// and notes each changed node whose look hiding changed. Whether anything below a node is
// shown is known only when the walk leaves it: the nodes on the way to the current one wait on
// a stack, and each hands "shown" to its parent as it is left.
class ComparisonContext::SummaryWalk : public TreeVisitor {
 public:
  SummaryWalk(ComparisonContext* context, int section, NoiseSummary* summary)
      : context_(context), section_(section), summary_(summary) {}

  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    while (!open_.empty() && !continues(path, open_.back().path.size())) leave();
    NodeState s = context_->nodeState(a, b, f);
    Open node{path, context_->hidden_[section_], s.state, s.ownChanged, false, false};
    if (s.ownChanged && f == kPathInside) {
      context_->compareContent(section_, a ? a->contentTable : 0, b ? b->contentTable : 0, &rows_);
      node.ownShown = !rows_.rows().empty() || context_->hidden_[section_] == node.hiddenBefore;
    }
    node.renamed = s.state == kModified && a && b && !s.ownChanged && !childrenDiffer(*a, *b);
    open_.push_back(std::move(node));
    return s.expandable;
  }

  void finish() {
    while (!open_.empty()) leave();
  }

 private:
  struct Open {
    std::u16string path;
    size_t hiddenBefore;  // the section's hidden count when the walk reached the node
    int state;
    bool ownShown, belowShown, renamed;
  };
  void leave() {
    Open n = std::move(open_.back());
    open_.pop_back();
    bool shown = n.state == kAdded || n.state == kDeleted || n.ownShown || n.belowShown || n.renamed;
    if (shown && !open_.empty()) open_.back().belowShown = true;
    bool hidAny = context_->hidden_[section_] > n.hiddenBefore;
    if (hidAny && (n.state == kModified || n.state == kExcluded) && !(n.ownShown && n.belowShown))
      summary_->quiet[n.path] = QuietNode{n.ownShown, n.belowShown, n.renamed};
  }

  ComparisonContext* context_;
  int section_;
  NoiseSummary* summary_;
  ContentComparison rows_;
  std::vector<Open> open_;
};

void ComparisonContext::forgetNoiseSummaries() {
  for (NoiseSummary& s : summaries_) s = NoiseSummary();
}

size_t ComparisonContext::countHidden(int section) {
  if (!hidesNoise(section) || showNoise_) return 0;
  NoiseSummary& summary = summaries_[section];
  if (!summary.counted) {
    bool full = full_;
    full_ = false;
    hidden_[section] = 0;
    SummaryWalk walk(this, section, &summary);
    walkSection(section, &walk);
    walk.finish();
    full_ = full;
    summary.hidden = hidden_[section];
    summary.counted = true;
  }
  hidden_[section] = summary.hidden;
  return summary.hidden;
}

void ComparisonContext::walkSection(int section, TreeVisitor* visitor) {
  if (section < 0 || section >= kSectionCount) return;
  currentSection_ = section;
  if (emptyReason(section).noSnapshot) return;
  walkLevel(section, std::u16string(), rootA(section), rootB(section), visitor);
}

void ComparisonContext::walkSubtree(const std::u16string& path, uint32_t childrenA,
                                    uint32_t childrenB, TreeVisitor* visitor) {
  walkLevel(kSectionRegistry, path, childrenA, childrenB, visitor);
}

void ComparisonContext::walkLevel(int section, const std::u16string& path, uint32_t childrenA,
                                  uint32_t childrenB, TreeVisitor* visitor) {
  if (section < 0 || section >= kSectionCount || mode_ == kModeNone) return;
  currentSection_ = section;
  TreeWalker walker(fileA_.get(), fileB(), &filters_[section]);
  walker.setNormaliser(normaliser_.get(), section);
  if (!hidesNoise(section)) {
    walker.walkTree(childrenA, mode_ == kModeCompare ? childrenB : 0, path, visitor);
    return;
  }
  NoiseWalk noise(this, section, path, visitor);
  walker.walkTree(childrenA, childrenB, path, &noise);
}

NodeState ComparisonContext::nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult) const {
  NodeState s = keldrun::nodeState(a, b, filterResult, mode_, full_);
  if (!currentQuiet_) return s;
  const QuietNode& q = *currentQuiet_;
  s.ownChanged = s.ownChanged && q.ownShown;
  if (!q.belowShown) s.expandable = full_ && ((a && a->childTable) || (b && b->childTable));
  if (s.state == kModified && !s.ownChanged && !q.belowShown && !q.renamed) s.state = kUnchanged;
  return s;
}

bool ComparisonContext::compareContent(int section, uint32_t contentA, uint32_t contentB,
                                       ContentComparison* out) {
  if (mode_ == kModeNone) return false;
  out->setNormaliser(normaliser_.get());
  bool ok = out->run(section, fileA_.get(), contentA, fileB(), contentB, mode_, full_ || mode_ == kModeView);
  if (ok && current_ && hidesNoise(section)) applyNoise(section, out);
  return ok;
}

bool ComparisonContext::compareContentAt(int section, const std::u16string& path,
                                         uint32_t contentA, uint32_t contentB,
                                         ContentComparison* out) {
  enterNode(path);
  bool ok = compareContent(section, contentA, contentB, out);
  leaveNode();
  return ok;
}

void ComparisonContext::enterNode(const std::u16string& path) {
  current_ = nullptr;
  if (!noise_) return;
  entered_ = noise_->markOf(path);
  current_ = &entered_;
}

std::string differencesText(size_t count) {
  return std::to_string(count) + (count == 1 ? " difference" : " differences");
}

std::u16string hiddenNoiseText(size_t count) { return widen(differencesText(count) + " hidden as noise"); }

std::u16string itemName(int section, const Item& item) {
  StoredText name;
  if (section == kSectionRegistry) {
    ValueEntry e;
    if (!parseValueEntry(item.p, item.size, &e)) return std::u16string();
    name = e.name;
  } else {
    FileEntry e;
    if (!FileEntry::parse(item.p, item.size, &e)) return std::u16string();
    name = e.name;
  }
  std::u16string out(name.chars, u' ');
  for (size_t i = 0; i < name.chars; i++) out[i] = name.at(i);
  return out;
}

bool ComparisonContext::noiseItem(int section, const Item& item, int state, bool fromB) {
  if (!current_ || !hidesNoise(section)) return false;
  // No entry reaches into this node: none of its items can be named (the common case, and the
  // one that keeps a long list cheap).
  if (!current_->covered && current_->noise.empty()) return false;
  bool noise = current_->hidden() || noise_->step(*current_, itemName(section, item)).hidden();
  if (noise && !showNoise_ && state != kUnchanged && !(state == kModified && fromB)) hidden_[section]++;
  return noise;
}

void ComparisonContext::applyNoise(int section, ContentComparison* out) {
  if (!current_->covered && current_->noise.empty()) return;
  std::vector<ContentRow>& rows = out->rows();
  size_t kept = 0;
  bool previous = false;
  for (ContentRow& row : rows) {
    // The "new" half of a pair has the name of the "old" half just judged.
    bool pairHalf = row.state == kModified && row.fromB;
    row.noise = previous = pairHalf ? previous : noiseItem(section, row.item, row.state, row.fromB);
    if (!row.noise || showNoise_) rows[kept++] = row;
  }
  rows.resize(kept);
}

std::string ComparisonContext::title() const {
  if (mode_ == kModeView) return "view " + infoA_.name;
  return infoA_.name + " vs " + infoB_.name;
}

std::string ComparisonContext::expandPlaceholders(const std::string& text) const {
  std::string out = text;
  replaceAll(&out, "$snap_name$", infoA_.name);
  replaceAll(&out, "$snap2_name$", infoB_.name);
  replaceAll(&out, "$pg_title$", title());
  return out;
}

}  // namespace keldrun
