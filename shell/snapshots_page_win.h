// The Snapshots screen (page 131 of the main window): the snapshot list, the two boxes that
// choose a comparison, and the commands on snapshots. SnapshotList decides what it shows and
// what is enabled; the commands' work is in snapshot_commands.h and catalog_commands.h.
#ifndef KELDRUN_SHELL_SNAPSHOTS_PAGE_WIN_H_
#define KELDRUN_SHELL_SNAPSHOTS_PAGE_WIN_H_

#include <windows.h>

#include "shell/main_window_win.h"
#include "toolkit/button.h"
#include "toolkit/controls.h"
#include "toolkit/list.h"
#include "workspace/snapshot_list.h"

namespace keldrun {

class SnapshotsPage : public MainPage {
 public:
  explicit SnapshotsPage(MainWindow* main);

  // Rebuilds the list and the boxes from the catalog, keeping the selected rows.
  void refresh();
  // The same when the catalog was saved since the list was built, by another process or by
  // this one (SnapshotList::followCatalog).
  void followCatalog();
  const SnapshotList& model() const { return list_; }

 protected:
  bool onInitDialog() override;
  void onCommand(int id, int code, HWND control) override;
  LRESULT onNotify(NMHDR* header, bool* handled) override;
  void onSize(int width, int height) override;

 private:
  void showList();
  void showRows();
  void showSelection();
  void showBoxes();
  void showEnabled();
  void selectionChanged();
  void sortBy(int column);

  void takeSnapshot();
  void viewSnapshot();
  void showProperties();
  void exportHtml();
  void deleteSelected();
  void exportSnapshots();
  void importSnapshots();
  void differencesList();
  void compare();
  // "Learn noise from these two snapshots": the dialog of proposals for the two selected rows.
  void learnNoise();
  void contextMenu();

  SnapshotList list_;
  CXVirtualList view_;
  CXButton buttons_[9];
  CXAnchorLayout layout_;
  bool showing_ = false;  // the page itself is changing the list's selection
};

}  // namespace keldrun

#endif  // KELDRUN_SHELL_SNAPSHOTS_PAGE_WIN_H_
