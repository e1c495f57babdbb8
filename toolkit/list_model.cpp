#include "toolkit/list_model.h"

#include <utility>

namespace keldrun {

namespace {

const std::u16string kEmpty;

char16_t foldLatin(char16_t c) {
  if (c >= u'A' && c <= u'Z') return char16_t(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
  return c;
}

// Quicksort with the middle element as pivot. It recurses into the smaller part and loops on
// the larger, so the stack stays logarithmic whatever the input order; the scans are bounded by
// the range, so a comparison that is not a strict order cannot run them off the ends.
template <typename Less>
void quickSort(std::vector<VirtualRow>& rows, ptrdiff_t lo, ptrdiff_t hi, const Less& less) {
  while (lo < hi) {
    const VirtualRow pivot = rows[size_t(lo + (hi - lo) / 2)];
    ptrdiff_t i = lo, j = hi;
    while (i <= j) {
      while (i < hi && less(rows[size_t(i)], pivot)) ++i;
      while (j > lo && less(pivot, rows[size_t(j)])) --j;
      if (i <= j) {
        if (i != j) std::swap(rows[size_t(i)], rows[size_t(j)]);
        ++i;
        --j;
      }
    }
    if (j - lo < hi - i) {
      quickSort(rows, lo, j, less);
      lo = i;
    } else {
      quickSort(rows, i, hi, less);
      hi = j;
    }
  }
}

}  // namespace

int compareTextFolded(const std::u16string& a, const std::u16string& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = foldLatin(a[i]), y = foldLatin(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int compareNumberText(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return compareTextFolded(a, b);
}

void VirtualListModel::setColumns(std::vector<std::u16string> titles, std::vector<int> sortTypes) {
  titles_ = std::move(titles);
  sortTypes_ = std::move(sortTypes);
  sortTypes_.resize(titles_.size(), kSortText);
  compares_.assign(titles_.size(), ColumnCompare());
  sortColumn_ = -1;
  sortAscending_ = true;
}

void VirtualListModel::setColumnCompare(int column, VirtualRowCompare ascending, VirtualRowCompare descending) {
  if (column < 0 || size_t(column) >= compares_.size()) return;
  compares_[size_t(column)] = {ascending, descending};
}

int VirtualListModel::sortType(int column) const {
  if (column < 0 || size_t(column) >= sortTypes_.size()) return kSortNone;
  return sortTypes_[size_t(column)];
}

size_t VirtualListModel::addRow(std::vector<std::u16string> texts) {
  VirtualRow r;
  r.background = defaultBackground_;
  r.text = rgb(0, 0, 0);
  r.texts = std::move(texts);
  rows_.push_back(std::move(r));
  return rows_.size() - 1;
}

void VirtualListModel::clear() { rows_.clear(); }

const std::u16string& VirtualListModel::text(size_t rowIndex, int column) const {
  if (rowIndex >= rows_.size() || column < 0) return kEmpty;
  const VirtualRow& r = rows_[rowIndex];
  return size_t(column) < r.texts.size() ? r.texts[size_t(column)] : kEmpty;
}

int VirtualListModel::compareRows(const VirtualRow& a, const VirtualRow& b, int column, bool ascending) const {
  const ColumnCompare& own = compares_[size_t(column)];
  if (own.ascending && own.descending) {
    return ascending ? own.ascending(a, b, column) : own.descending(a, b, column);
  }
  const std::u16string& x = size_t(column) < a.texts.size() ? a.texts[size_t(column)] : kEmpty;
  const std::u16string& y = size_t(column) < b.texts.size() ? b.texts[size_t(column)] : kEmpty;
  int type = sortTypes_[size_t(column)];
  int c = (type == kSortNumber || type == kSortNumberAlso) ? compareNumberText(x, y)
                                                           : compareTextFolded(x, y);
  return ascending ? c : -c;
}

bool VirtualListModel::clickColumn(int column) {
  bool ascending = !(column == sortColumn_ && sortAscending_);
  return sortBy(column, ascending);
}

bool VirtualListModel::sortBy(int column, bool ascending) {
  if (column < 0 || size_t(column) >= titles_.size()) return false;
  int type = sortTypes_[size_t(column)];
  bool ownCompare = compares_[size_t(column)].ascending && compares_[size_t(column)].descending;
  if (!ownCompare && (type == kSortNone || type == kSortNoneAlso)) return false;
  sortColumn_ = column;
  sortAscending_ = ascending;
  if (rows_.size() > 1) {
    auto less = [&](const VirtualRow& a, const VirtualRow& b) {
      return compareRows(a, b, column, ascending) < 0;
    };
    quickSort(rows_, 0, ptrdiff_t(rows_.size()) - 1, less);
  }
  return true;
}

void VirtualListModel::markSorted(int column, bool ascending) {
  sortColumn_ = column >= 0 && size_t(column) < titles_.size() ? column : -1;
  sortAscending_ = ascending;
}

int fillColumnWidth(int clientWidth, const std::vector<int>& widths, int column, int minimum) {
  int width = clientWidth - 25;
  for (size_t i = 0; i < widths.size(); ++i) {
    if (int(i) != column) width -= widths[i];
  }
  return width < minimum ? minimum : width;
}

}  // namespace keldrun
