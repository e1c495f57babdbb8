// The virtual list: a list view in virtual mode whose rows (colours, image, one text per column)
// are held by the control, sortable by a click on a column header, with the sort header that
// draws the arrow of the sorted column and a column that may fill the width.
#ifndef KELDRUN_TOOLKIT_LIST_H_
#define KELDRUN_TOOLKIT_LIST_H_

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "toolkit/list_model.h"

namespace keldrun {

// Sent to the list: the text colour (COLORREF) of row wparam, -1 for no such row. Rows live in
// this process only, so tools and tests that look from outside ask with this message.
constexpr UINT kListRowColourQuery = WM_APP + 0x702;

class CXVirtualList {
 public:
  CXVirtualList() = default;
  ~CXVirtualList();
  CXVirtualList(const CXVirtualList&) = delete;
  CXVirtualList& operator=(const CXVirtualList&) = delete;

  // Takes over the list view `id` of `dialog`. A list made without LVS_OWNERDATA is replaced by
  // an equal one in virtual mode (same id, place, style and z-order). False when there is none.
  bool attach(HWND dialog, int id);
  bool create(HWND parent, int id, const RECT& rect,
              DWORD style = WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS);
  HWND hwnd() const { return hwnd_; }
  HWND header() const { return ListView_GetHeader(hwnd_); }

  // One column per title, width 100; sortTypes as in list_model.h (text when not given).
  void setColumns(const std::vector<std::u16string>& titles, const std::vector<int>& sortTypes = {});
  void setColumnWidths(const std::vector<int>& widths);
  void setColumnCompare(int column, VirtualRowCompare ascending, VirtualRowCompare descending) {
    model_.setColumnCompare(column, ascending, descending);
  }
  // Makes `column` take the client width less 25 less the other columns (at least `minimum`),
  // now and whenever the list is resized.
  void fillColumn(int column, int minimum);

  void setImageList(HIMAGELIST images);
  void setDefaultBackground(Colour colour) { model_.setDefaultBackground(colour); }

  // Adds a row with the default background and black text; returns its index. The list shows
  // the new row count at once unless batching (beginUpdate/endUpdate).
  size_t addRow(const std::vector<std::u16string>& texts);
  // The same, taking the texts over: a list of many rows is filled without copying each text.
  size_t addRow(std::vector<std::u16string>&& texts);
  // Room for this many rows, so that filling a long list does not move the rows it has.
  void reserveRows(size_t rows) { model_.reserve(rows); }
  // A row of UTF-8 texts.
  size_t addRowUtf8(const std::vector<std::string>& texts);
  void setRowColours(size_t row, Colour background, Colour text);
  void setRowImage(size_t row, int image);
  void setRowData(size_t row, uintptr_t data);
  void beginUpdate();
  void endUpdate();
  void clear();

  size_t rowCount() const { return model_.size(); }
  const VirtualRow& row(size_t i) const { return model_.row(i); }
  const VirtualListModel& model() const { return model_; }

  void select(int row, bool ensureVisible);
  // Selected rows, in row order.
  std::vector<int> selectedRows() const;

  // Sorts as a click on the header of `column` does; sortBy sets the direction.
  bool clickColumn(int column);
  bool sortBy(int column, bool ascending);
  // For a list whose owner keeps the order of the rows: a header click calls `handler` instead
  // of sorting, and the owner refills the rows and marks the column with showSortArrow.
  void setColumnClickHandler(std::function<void(int column)> handler) {
    onColumnClick_ = std::move(handler);
  }
  void showSortArrow(int column, bool ascending);

 private:
  static LRESULT CALLBACK listProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK parentProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool onParentNotify(NMHDR* header, LRESULT* result);
  void drawHeaderItem(const DRAWITEMSTRUCT* item);
  void applySort();
  void updateHeader();
  void applyFill();
  void hook();
  void unhook();

  HWND hwnd_ = nullptr;
  HWND parent_ = nullptr;
  VirtualListModel model_;
  int fillColumn_ = -1;
  int fillMinimum_ = 0;
  int updating_ = 0;
  std::function<void(int)> onColumnClick_;
  std::wstring scratch_;  // text handed to the list for the current display request
};

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_LIST_H_
