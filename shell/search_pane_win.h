// The search pane above the Files (page 905) and Registry (page 906) screens' lists: a text,
// where to look, and the folders and files or keys and values of the viewed snapshot that
// match. A result is located in the screen's tree, opened in the shell or in the registry
// editor. Usable only while one snapshot is viewed.
#ifndef KELDRUN_SHELL_SEARCH_PANE_WIN_H_
#define KELDRUN_SHELL_SEARCH_PANE_WIN_H_

#include <windows.h>

#include <vector>

#include "toolkit/dialog.h"
#include "toolkit/list.h"
#include "views/comparison_context.h"
#include "views/search.h"
#include "workspace/settings.h"

namespace keldrun {

class SnapshotScreen;

class SearchPane : public CXDialogBase {
 public:
  SearchPane(SnapshotScreen* screen, int section, Settings* settings, ComparisonContext* context);

  // Empties the status line and the results, then enables or disables the pane's controls.
  void setEnabled(bool enabled);
  // The search button, or Enter anywhere in the pane.
  void runSearch();
  const std::vector<SearchRow>& results() const { return rows_; }
  // The path and name of the selected result row, as the list shows them; false when no row
  // is selected.
  bool selectedResult(std::u16string* path, std::u16string* name) const;

 protected:
  bool onInitDialog() override;
  void onCommand(int id, int code, HWND control) override;
  LRESULT onNotify(NMHDR* header, bool* handled) override;
  void onSize(int width, int height) override;

 private:
  bool checked(int id) const;
  void check(int id, bool on);
  void storeBoxes();
  int selectedRow() const;
  void resultMenu();
  void resultSelected(const NMLISTVIEW& change);
  void resultDoubleClicked(int row);
  // Selects the row's folder or key in the screen's tree and its item in the screen's list.
  void locateRow(int row);

  SnapshotScreen* screen_;
  int section_;
  Settings* settings_;
  ComparisonContext* context_;
  CXVirtualList list_;
  int resultsTop_ = 0;  // the results list's top, from the template
  std::vector<SearchRow> rows_;
};

}  // namespace keldrun

#endif  // KELDRUN_SHELL_SEARCH_PANE_WIN_H_
