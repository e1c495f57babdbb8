// The rows of the virtual list and their sorting, apart from any window.
//
// The list control holds its rows here: each row has a background and a text colour, an image
// index and one UTF-16 text per column. A click on a column header sorts the rows in place by
// that column's sort type.
#ifndef KELDRUN_TOOLKIT_LIST_MODEL_H_
#define KELDRUN_TOOLKIT_LIST_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/scheme_model.h"

namespace keldrun {

// Sort types of a column. Types 1 and 4 order number texts (the shorter text first, texts of
// equal length case-insensitively); types 3 and 5 are never sorted; every other type orders the
// texts case-insensitively.
constexpr int kSortText = 0;
constexpr int kSortNumber = 1;
constexpr int kSortTextAlso = 2;
constexpr int kSortNone = 3;
constexpr int kSortNumberAlso = 4;
constexpr int kSortNoneAlso = 5;

struct VirtualRow {
  Colour background = 0;
  Colour text = 0;
  int image = -1;
  uintptr_t data = 0;
  std::vector<std::u16string> texts;  // one per column; missing columns read as empty
};

// Orders two rows; returns <0, 0 or >0. A column may carry its own pair (ascending,
// descending) instead of a sort type.
using VirtualRowCompare = int (*)(const VirtualRow& a, const VirtualRow& b, int column);

// Case-insensitive order of two texts: ASCII and Latin-1 letters are folded.
int compareTextFolded(const std::u16string& a, const std::u16string& b);
// Number-text order: the shorter text first, equal lengths case-insensitively.
int compareNumberText(const std::u16string& a, const std::u16string& b);

class VirtualListModel {
 public:
  // Replaces the columns; every column gets its sort type (kSortText when not given).
  void setColumns(std::vector<std::u16string> titles, std::vector<int> sortTypes = {});
  // Gives a column its own comparisons; null restores the sort type.
  void setColumnCompare(int column, VirtualRowCompare ascending, VirtualRowCompare descending);

  size_t columnCount() const { return titles_.size(); }
  const std::u16string& columnTitle(int column) const { return titles_[size_t(column)]; }
  int sortType(int column) const;

  // Appends a row with the default background and black text; returns its index.
  size_t addRow(std::vector<std::u16string> texts);
  void clear();
  void reserve(size_t rows) { rows_.reserve(rows); }
  size_t size() const { return rows_.size(); }
  VirtualRow& row(size_t i) { return rows_[i]; }
  const VirtualRow& row(size_t i) const { return rows_[i]; }
  // The text of a cell; empty for a column the row has no text for.
  const std::u16string& text(size_t rowIndex, int column) const;

  void setDefaultBackground(Colour c) { defaultBackground_ = c; }
  Colour defaultBackground() const { return defaultBackground_; }

  // A header click on `column`: sorts ascending, or descending when the column is already
  // sorted ascending. Returns false (nothing changes) for an unsorted column type or a column
  // out of range. Rows move only when there are at least two.
  bool clickColumn(int column);
  // Sorts by `column` in the given direction (the same rules as a click).
  bool sortBy(int column, bool ascending);
  // Records the rows as sorted by `column` (-1: none) without moving them, for rows that come
  // already in that order.
  void markSorted(int column, bool ascending);
  // The sorted column (-1 when none) and its direction.
  int sortColumn() const { return sortColumn_; }
  bool sortAscending() const { return sortAscending_; }

  // The comparison a sort uses; exposed for tests.
  int compareRows(const VirtualRow& a, const VirtualRow& b, int column, bool ascending) const;

 private:
  struct ColumnCompare {
    VirtualRowCompare ascending = nullptr;
    VirtualRowCompare descending = nullptr;
  };

  std::vector<std::u16string> titles_;
  std::vector<int> sortTypes_;
  std::vector<ColumnCompare> compares_;
  std::vector<VirtualRow> rows_;
  Colour defaultBackground_ = rgb(255, 255, 255);
  int sortColumn_ = -1;
  bool sortAscending_ = true;
};

// Width for the column that fills the list: the client width less 25 less the other columns,
// but at least `minimum`.
int fillColumnWidth(int clientWidth, const std::vector<int>& widths, int column, int minimum);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_LIST_MODEL_H_
