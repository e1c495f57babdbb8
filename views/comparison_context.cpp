#include "views/comparison_context.h"

#include "base/files.h"
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
}

void ComparisonContext::setNormalise(bool normalise) {
  normaliser_.reset();
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

void ComparisonContext::walkSection(int section, TreeVisitor* visitor) {
  if (section < 0 || section >= kSectionCount) return;
  currentSection_ = section;
  if (emptyReason(section).noSnapshot) return;
  TreeWalker walker(fileA_.get(), fileB(), &filters_[section]);
  walker.setNormaliser(normaliser_.get(), section);
  walker.walkTree(rootA(section), rootB(section), std::u16string(), visitor);
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
  walker.walkTree(childrenA, mode_ == kModeCompare ? childrenB : 0, path, visitor);
}

NodeState ComparisonContext::nodeState(const TreeEntry* a, const TreeEntry* b, int filterResult) const {
  return keldrun::nodeState(a, b, filterResult, mode_, full_);
}

bool ComparisonContext::compareContent(int section, uint32_t contentA, uint32_t contentB,
                                       ContentComparison* out) {
  if (mode_ == kModeNone) return false;
  out->setNormaliser(normaliser_.get());
  return out->run(section, fileA_.get(), contentA, fileB(), contentB, mode_, full_ || mode_ == kModeView);
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
