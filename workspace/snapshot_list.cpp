#include "workspace/snapshot_list.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"

namespace keldrun {

const char* const SnapshotList::kColumnTitles[kColumnCount] = {"Name", "Computer", "Date", "Size",
                                                              "Regs", "Files", "Apps"};

std::string sizeText(uint32_t bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.02fM", double(bytes) / 1048576.0);
  return buf;
}

std::string stateText(SectionState state) {
  switch (state) {
    case SectionState::NotScanned: return "-";
    case SectionState::Partial: return "partial";
    case SectionState::Full: return "full";
  }
  return "";
}

namespace {

int compareFolded(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (x >= 'A' && x <= 'Z') x = (unsigned char)(x + 32);
    if (y >= 'A' && y <= 'Z') y = (unsigned char)(y + 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Number texts: the shorter is the smaller; equal lengths compare as text.
int compareNumberTexts(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return compareFolded(a, b);
}

}  // namespace

void SnapshotList::refresh() {
  std::vector<int32_t> remembered = selectedSnapshots();
  rows_.clear();
  boxes_[0].clear();
  boxes_[1].clear();
  boxSel_[0] = boxSel_[1] = -1;
  const Catalog& catalog = settings_->catalog();
  if (catalog.count() == 0) settings_->ensureLoaded();
  shown_ = settings_->catalogStamp();
  for (size_t i = 0; i < catalog.count(); i++) {
    const SnapshotInfo& info = catalog.record(i);
    Row row;
    row.number = info.number;
    row.cells[kName] = info.name;
    row.cells[kComputer] = utf8FromLatin1(info.computer);
    row.cells[kDate] = info.date;
    row.cells[kSize] = sizeText(info.size);
    row.cells[kRegs] = stateText(info.sectionState[kSectionRegistry]);
    row.cells[kFiles] = stateText(info.sectionState[kSectionFiles]);
    row.cells[kApps] = stateText(info.sectionState[kSectionApps]);
    rows_.push_back(row);
  }
  boxes_[0] = boxes_[1] = catalogItems();
  if (rows_.size() >= 2) {
    boxSel_[kFirstBox] = int(rows_.size()) - 2;
    boxSel_[kSecondBox] = int(rows_.size()) - 1;
  }
  if (sortColumn_ >= 0) applySort();
  selected_.assign(rows_.size(), false);
  for (size_t i = 0; i < rows_.size(); i++)
    selected_[i] = std::find(remembered.begin(), remembered.end(), rows_[i].number) != remembered.end();
}

std::vector<SnapshotList::BoxItem> SnapshotList::catalogItems() const {
  const Catalog& catalog = settings_->catalog();
  std::vector<BoxItem> items;
  for (size_t i = 0; i < catalog.count(); i++) {
    const SnapshotInfo& info = catalog.record(i);
    items.push_back({info.name + " (" + info.date + ")", info.number});
  }
  return items;
}

bool SnapshotList::followCatalog() {
  SettingsStamp now = settings_->fileStamp();
  if (now == shown_) return false;
  if (now != settings_->catalogStamp() && !settings_->reloadCatalog()) return false;
  shown_ = settings_->catalogStamp();
  // A snapshot file changes only by a rename, which the box texts show.
  if (catalogItems() == boxes_[kFirstBox]) return false;
  refresh();
  return true;
}

void SnapshotList::selectBox(Box b, int index) {
  boxSel_[b] = index >= 0 && size_t(index) < boxes_[b].size() ? index : -1;
}

void SnapshotList::setSelection(const std::vector<size_t>& rows) {
  selected_.assign(rows_.size(), false);
  for (size_t r : rows)
    if (r < rows_.size()) selected_[r] = true;
  afterSelectionChange();
}

void SnapshotList::afterSelectionChange() {
  if (selectedCount() != 2) return;
  std::vector<int32_t> chosen;  // top to bottom
  for (size_t i = 0; i < rows_.size(); i++)
    if (selected_[i]) chosen.push_back(rows_[i].number);
  for (int b = 0; b < 2; b++)
    for (size_t k = 0; k < boxes_[b].size(); k++)
      if (boxes_[b][k].number == chosen[size_t(b)]) {
        boxSel_[b] = int(k);
        break;
      }
}

size_t SnapshotList::selectedCount() const {
  return size_t(std::count(selected_.begin(), selected_.end(), true));
}

int32_t SnapshotList::selectedSnapshot() const {
  for (size_t i = 0; i < rows_.size() && i < selected_.size(); i++)
    if (selected_[i]) return rows_[i].number;
  return -1;
}

std::vector<int32_t> SnapshotList::selectedSnapshots() const {
  std::vector<int32_t> out;
  for (size_t i = std::min(rows_.size(), selected_.size()); i-- > 0;)
    if (selected_[i]) out.push_back(rows_[i].number);
  return out;
}

void SnapshotList::sortBy(int column) {
  if (column < 0 || column >= kColumnCount) return;
  ascending_ = !(sortColumn_ == column && ascending_);
  sortColumn_ = column;
  std::vector<int32_t> chosen = selectedSnapshots();
  applySort();
  selected_.assign(rows_.size(), false);
  for (size_t i = 0; i < rows_.size(); i++)
    selected_[i] = std::find(chosen.begin(), chosen.end(), rows_[i].number) != chosen.end();
}

void SnapshotList::applySort() {
  int column = sortColumn_;
  bool ascending = ascending_;
  std::stable_sort(rows_.begin(), rows_.end(), [column, ascending](const Row& a, const Row& b) {
    int c = column == kSize ? compareNumberTexts(a.cells[column], b.cells[column])
                            : compareFolded(a.cells[column], b.cells[column]);
    return ascending ? c < 0 : c > 0;
  });
}

SnapshotList::EnabledStates SnapshotList::enabled() const {
  EnabledStates e;
  size_t n = selectedCount();
  e.deleteSnapshots = e.exportSnapshots = n >= 1;
  e.view = e.properties = e.exportHtml = n == 1;
  e.firstBox = !boxes_[kFirstBox].empty();
  e.secondBox = !boxes_[kSecondBox].empty();
  e.compare = e.differences = boxSel_[0] >= 0 && boxSel_[1] >= 0 &&
                              boxes_[0][size_t(boxSel_[0])].number != boxes_[1][size_t(boxSel_[1])].number;
  return e;
}

bool SnapshotList::chosenSnapshot(int32_t* number) const {
  int32_t n = selectedSnapshot();
  if (n < 0 || settings_->catalog().find(n) < 0) return false;
  *number = n;
  return true;
}

bool SnapshotList::chosenPair(int32_t* older, int32_t* newer) const {
  if (boxSel_[0] < 0 || boxSel_[1] < 0) return false;
  int32_t a = boxes_[0][size_t(boxSel_[0])].number;
  int32_t b = boxes_[1][size_t(boxSel_[1])].number;
  if (a == b || settings_->catalog().find(a) < 0 || settings_->catalog().find(b) < 0) return false;
  *older = std::min(a, b);
  *newer = std::max(a, b);
  return true;
}

bool SnapshotList::menuItemEnabled(int command) const {
  EnabledStates e = enabled();
  switch (command) {
    case 1: return selectedCount() == 1;
    case 2: return selectedCount() == 1;
    case 3: return selectedCount() >= 1;
    case 4: return e.exportSnapshots;
    case 5: return e.importSnapshots;
  }
  return false;
}

}  // namespace keldrun
