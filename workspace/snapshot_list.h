// The Snapshots screen without its window: the rows of the list and the items of the two
// comparison boxes built from the catalog, the selection, sorting by column, the enabled states
// of the commands, and which snapshot numbers View, Compare and Differences list act on.
#ifndef KELDRUN_WORKSPACE_SNAPSHOT_LIST_H_
#define KELDRUN_WORKSPACE_SNAPSHOT_LIST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "workspace/settings.h"

namespace keldrun {

// File size in megabytes, "%.02lfM": 1,572,864 bytes give "1.50M".
std::string sizeText(uint32_t bytes);
// "-", "partial", "full"; empty for any other value.
std::string stateText(SectionState state);

class SnapshotList {
 public:
  enum Column { kName, kComputer, kDate, kSize, kRegs, kFiles, kApps, kColumnCount };
  static const char* const kColumnTitles[kColumnCount];

  // Every text of the rows and boxes is UTF-8.
  struct Row {
    int32_t number = 0;
    std::string cells[kColumnCount];
  };
  struct BoxItem {
    std::string text;  // "%s (%s)": name, date
    int32_t number = 0;
    bool operator==(const BoxItem& o) const { return number == o.number && text == o.text; }
  };
  // The boxes under the list: the first and the second snapshot of a comparison.
  enum Box { kFirstBox, kSecondBox };

  struct EnabledStates {
    bool takeSnapshot = true;
    bool view = false, properties = false, exportHtml = false;
    bool deleteSnapshots = false, exportSnapshots = false;
    bool importSnapshots = true;
    bool firstBox = false, secondBox = false;
    bool compare = false, differences = false;
  };

  explicit SnapshotList(Settings* settings) : settings_(settings) {}

  // Rebuilds rows and boxes from the catalog (loading the settings first when the catalog is
  // empty), preselects the last two snapshots in the boxes, sorts again by the sort column and
  // selects again the rows of the selected snapshots that are still listed.
  void refresh();
  // Follows what another process (or this one) saved to the catalog since the rows were built:
  // when the settings file's stamp differs from the catalog's the list was built from, reads
  // the catalog again (unless the one in memory already came from that file) and, when it
  // holds other snapshots or other names than the rows, refreshes. True when the rows were
  // rebuilt; a save of the options alone leaves the rows and the boxes as the user set them. A
  // file that cannot be read keeps the rows as they are and is tried again at the next call.
  bool followCatalog();

  const std::vector<Row>& rows() const { return rows_; }
  const std::vector<BoxItem>& box(Box b) const { return boxes_[b]; }
  // Selected item of a box, -1 for none.
  int boxSelection(Box b) const { return boxSel_[b]; }
  void selectBox(Box b, int index);

  // Selection of list rows by position in the current order.
  void setSelection(const std::vector<size_t>& rows);
  bool isSelected(size_t row) const { return row < selected_.size() && selected_[row]; }
  size_t selectedCount() const;
  // The number of the first selected row from the top; -1 when none is selected.
  int32_t selectedSnapshot() const;
  // The numbers of all selected rows, from the bottom row upwards.
  std::vector<int32_t> selectedSnapshots() const;

  // A click on a column header: ascending, or descending when that column is already sorted
  // ascending. Size compares as a number (shorter text first); the others as text, ignoring case.
  void sortBy(int column);
  int sortColumn() const { return sortColumn_; }
  bool sortAscending() const { return ascending_; }

  EnabledStates enabled() const;

  // View, Properties, Export to HTML: the selected snapshot when it is in the catalog.
  bool chosenSnapshot(int32_t* number) const;
  // Compare and Differences list: the two boxes' numbers, smaller first, when both are in the
  // catalog and differ.
  bool chosenPair(int32_t* older, int32_t* newer) const;

  // Context menu: items 1..5 (View, Properties, Delete, Export, Import), whether enabled.
  bool menuItemEnabled(int command) const;

 private:
  void afterSelectionChange();
  // One box item per catalog record, in catalog order.
  std::vector<BoxItem> catalogItems() const;
  void applySort();

  Settings* settings_;
  std::vector<Row> rows_;
  std::vector<bool> selected_;
  std::vector<BoxItem> boxes_[2];
  int boxSel_[2] = {-1, -1};
  int sortColumn_ = -1;
  bool ascending_ = true;
  SettingsStamp shown_;  // the catalog's stamp when the rows were built
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_SNAPSHOT_LIST_H_
