#include "views/screen_model.h"

#include "engine/file_extension.h"
#include "views/list_columns.h"

namespace keldrun {

const char16_t kMessageNoSnapshot[] = u"no snapshot taken";
const char16_t kMessageNoCommonPaths[] = u"the snapshots don't have common paths";
const char16_t kMessageNoDifferences[] = u"no differences found";
const char16_t kMessageDamaged[] = u"the snapshot file is damaged";

const char16_t* uncomparedMessage(ComparisonContext* context, int section) {
  EmptyReason why = context->emptyReason(section);
  if (why.noSnapshot) return kMessageNoSnapshot;
  if (why.noCommonPaths) return kMessageNoCommonPaths;
  if (!context->rootsReadable(section)) return kMessageDamaged;
  return nullptr;
}

SnapshotScreenModel::SnapshotScreenModel(int section, ComparisonContext* context, TreeControl* tree)
    : section_(section), context_(context), tree_(tree) {
  setMode(kModeNone);
}

void SnapshotScreenModel::setMode(int mode) {
  mode_ = mode;
  controls_.radioEnabled = mode == kModeCompare;
  controls_.diffListEnabled = mode == kModeCompare;
  controls_.pathText.clear();
  nodePath_.clear();
  controls_.jumpEnabled = false;
  controls_.searchEnabled = mode == kModeView;
  controls_.radioValue = viewMode_;
  controls_.pathBoxEnabled = !(section_ == kSectionRegistry && mode == kModeNone);
}

void SnapshotScreenModel::clear() {
  setMode(kModeNone);
  records_.clear();
  tree_->deleteAll();
  rows_.clear();
  selectedRow_ = -1;
  message_.clear();
}

void SnapshotScreenModel::refresh(int viewMode) {
  viewMode_ = viewMode;
  setMode(context_->mode());
  records_.clear();
  tree_->deleteAll();
  rows_.clear();
  selectedRow_ = -1;
  message_.clear();
  // Counted before the tree is filled, so that a node whose every change is hidden noise shows
  // unchanged (ComparisonContext::nodeState).
  context_->countHidden(section_);
  if (!context_->emptyReason(section_).noSnapshot) fillTreeLevel(context_, section_, tree_, &records_, 0, 0, tree_->root());
  if (tree_->firstChild(tree_->root()) == 0) {
    const char16_t* uncompared = uncomparedMessage(context_, section_);
    message_ = uncompared ? uncompared : kMessageNoDifferences;
    messageIcon_ = uncompared ? kIconMessageError : kIconMessageNone;
    TreeItemLook look;
    look.icon = messageIcon_;
    tree_->insertItem(tree_->root(), message_, look, kNoRecord);
    setMode(kModeNone);
  }
}

ComparisonChoices comparisonChoices(const ComparisonContext& context) {
  ComparisonChoices c;
  c.enabled = context.mode() == kModeCompare;
  c.showNoise = context.showNoise();
  c.normalise = context.normalise();
  return c;
}

std::u16string SnapshotScreenModel::hiddenNoiseLine() {
  size_t hidden = context_->countHidden(section_);
  return hidden ? hiddenNoiseText(hidden) : std::u16string();
}

void SnapshotScreenModel::itemExpanding(TreeItem item) {
  expandLazily(context_, section_, tree_, &records_, item);
}

void SnapshotScreenModel::selectionChanged(TreeItem item) {
  rows_.clear();
  selectedRow_ = -1;
  nodePath_.clear();
  intptr_t index = tree_->data(item);
  const NodeRecord* r = records_.get(index);
  if (r) {
    NodeRecord copy = *r;
    if (context_->compareContentAt(section_, itemPath(tree_, item), copy.contentA, copy.contentB,
                                   &content_)) {
      rows_.reserve(content_.rows().size());
      for (const ContentRow& row : content_.rows()) {
        addListRow(row.item, row.state, row.label);
        // A file's marks (a date kept over new content, a replaced file) and its recorded
        // digest follow its label, as the command line's text shows them.
        if (row.marks && !rows_.empty())
          rows_.back().columns.back() += u" [" + widen(fileMarkText(row.marks)) + u"]";
        std::string digest = digestText(row.ext);
        if (!digest.empty() && !rows_.empty()) rows_.back().columns.back() += u"  " + widen(digest);
        if (row.noise && !rows_.empty()) rows_.back().columns.back() += u" (noise)";
      }
    }
  }
  if (section_ != kSectionApps && index != kNoRecord && r) {
    nodePath_ = itemPath(tree_, item);
    controls_.pathText = nodePath_;
    controls_.jumpEnabled = !controls_.pathText.empty();
  }
}

void SnapshotScreenModel::addListRow(const Item& item, int state, const char* label) {
  ListRow row;
  row.state = state;
  row.label = label;
  row.icon = stateListIcon(state);
  row.color = stateColor(state);
  row.columns = listColumns(section_, item);
  row.columns.push_back(widen(label));
  rows_.push_back(std::move(row));
}

bool SnapshotScreenModel::setViewMode(int value, int* viewMode) {
  if (value == *viewMode) return false;
  *viewMode = value;
  viewMode_ = value;
  controls_.radioValue = value;
  return true;
}

bool SnapshotScreenModel::locatePath(const std::u16string& path, const std::u16string& itemName) {
  bool found = locateItem(tree_, path) != 0;
  for (size_t i = 0; i < rows_.size(); i++) {
    if (!rows_[i].columns.empty() && rows_[i].columns[0] == itemName) {
      selectedRow_ = int(i);
      break;
    }
  }
  return found;
}

std::u16string SnapshotScreenModel::pathTextChanged(const std::u16string& text, bool fromUser) {
  if (fromUser) {
    // A found node rewrites the box with its own path; the typed text is put back.
    locatePath(text, std::u16string());
    controls_.pathText = text;
  } else {
    controls_.pathText = (!text.empty() && tree_->selected() == 0) ? std::u16string() : text;
  }
  controls_.jumpEnabled = !controls_.pathText.empty();
  return controls_.pathText;
}

}  // namespace keldrun
