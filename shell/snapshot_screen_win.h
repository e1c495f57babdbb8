// The Registry (page 129), Files (page 130) and Applications (page 904) screens: a coloured tree
// of keys, folders or application groups on the left, filled one level per expansion, and the
// items of the selected node on the right. SnapshotScreenModel decides what they show; these
// classes show it and carry out the screens' commands.
#ifndef KELDRUN_SHELL_SNAPSHOT_SCREEN_WIN_H_
#define KELDRUN_SHELL_SNAPSHOT_SCREEN_WIN_H_

#include <windows.h>

#include <memory>
#include <string>

#include "shell/main_window_win.h"
#include "shell/search_pane_win.h"
#include "toolkit/controls.h"
#include "toolkit/list.h"
#include "toolkit/tree.h"
#include "views/screen_commands.h"
#include "views/screen_model.h"

namespace keldrun {

// The system's tree control behind the model's tree interface. Expanding and selecting go
// through the control, whose notifications reach the screen and from there the model.
class WindowTree : public TreeControl {
 public:
  explicit WindowTree(CXColourTree* tree) : tree_(tree) {}
  void setEvents(TreeEvents* events) { events_ = events; }

  TreeItem root() override;
  TreeItem insertItem(TreeItem parent, const std::u16string& text, const TreeItemLook& look,
                      intptr_t data) override;
  void deleteItem(TreeItem item) override;
  void deleteAll() override;
  TreeItem firstChild(TreeItem item) override;
  TreeItem nextSibling(TreeItem item) override;
  TreeItem parent(TreeItem item) override;
  std::u16string text(TreeItem item) override;
  intptr_t data(TreeItem item) override;
  void expand(TreeItem item) override;
  void select(TreeItem item) override;
  TreeItem selected() override;
  void ensureVisible(TreeItem item) override;

 private:
  HWND hwnd() const { return tree_->hwnd(); }
  CXColourTree* tree_;
  TreeEvents* events_ = nullptr;
};

class SnapshotScreen : public ComparisonScreen {
 public:
  SnapshotScreen(int templateId, MainWindow* main, int section);
  ~SnapshotScreen() override;

  void empty() override;
  void refresh() override;
  void setViewMode(int viewMode) override;

  const SnapshotScreenModel& model() const { return *model_; }

  // Selects the node of path and the item named itemName in the list. The search pane calls it
  // for a result row the user selects, so that every command then acts on what the user chose.
  bool locate(const std::u16string& path, const std::u16string& itemName);
  // From the search pane: a search found rows (the pane grows).
  void searchFound(size_t count);
  // A command of the screen's menus, its tree's, its list's or its search results' (Registry:
  // RegistryCommand, Files: FilesCommand); anything else is ignored. A WM_COMMAND without a
  // control brings the same numbers here while the screen shows something.
  virtual void command(int command) {}

 protected:
  bool onInitDialog() override;
  void onCommand(int id, int code, HWND control) override;
  LRESULT onNotify(NMHDR* header, bool* handled) override;
  void onSize(int width, int height) override;

  // The screen's own columns: widths, alignments, the column that fills the width and its
  // minimum.
  struct ColumnLayout {
    std::vector<int> widths;
    std::vector<int> formats;  // LVCFMT_*
    int fill;
    int fillMinimum;
  };
  virtual ColumnLayout columns() const = 0;
  // Right clicks on the tree and on the list: the menu's choice goes to command().
  virtual void treeMenu() {}
  virtual void listMenu() {}
  // The key or folder menu with the noise commands appended (noiseMenu), and the carrying out
  // of the item chosen from it: a noise command here, any other through command().
  std::vector<MenuEntry> withNoiseMenu(std::vector<MenuEntry> menu) const;
  void menuChosen(int chosen);
  // "Jump to" (Registry and Files).
  virtual void jump() {}
  // The search results' commands on the selected result row; nothing when none is selected.
  // Locate selects the row's node and item; jump locates them and jumps there.
  void locateResult();
  void jumpToResult();
  bool hasPathBox() const { return section_ != kSectionApps; }

  // Shows a differences report of this screen's section below the selected node's path.
  void differencesList();
  int selectedRow() const;

  int section_;
  CXColourTree tree_;
  WindowTree treeControl_;
  CXVirtualList list_;
  CXSplitter splitter_;
  CXSplitter searchSplitter_;
  std::unique_ptr<SearchPane> search_;  // Registry and Files only
  std::unique_ptr<SnapshotScreenModel> model_;

 private:
  void viewButtonClicked(int id, int code);
  void treeExpanding(const NMTREEVIEWW& change);
  void treeSelectionChanged(const NMTREEVIEWW& change);
  LRESULT rightClicked(bool onTree, bool* handled);
  void showRows();
  void showControls();
  // The noise line and the comparison's choices (Registry and Files), from the context.
  void showNoiseLine();
  // "Show noise" or "Normalise machine differences" was clicked: the context takes it.
  void choiceClicked(int id);
  // Hide as noise, Show again, Undo noise change on the selected node; a refusal in a message
  // box. Every screen is then refreshed and the node selected again.
  void noiseCommand(int command);
  void setPathBox(const std::u16string& text);
  void pathBoxChanged();
  void selectRowNamed(const std::u16string& name);
  void placeControls(int width, int height);

  int treeWidth_;
  int paneHeight_;
  bool settingPath_ = false;  // the program itself is writing the path box
  bool filling_ = false;      // refresh or empty is rebuilding the tree
};

class RegistryScreen : public SnapshotScreen {
 public:
  explicit RegistryScreen(MainWindow* main);
  // Export of the selected key (mode 1 content, 2 RESTORE, 3 CHANGE) to a file the user
  // chooses; "Key exported" when written whole, else the reason (regExportMessage).
  void exportSelectedKey(int mode);
  void command(int command) override;

 protected:
  ColumnLayout columns() const override;
  void treeMenu() override;
  void jump() override;
};

class FilesScreen : public SnapshotScreen {
 public:
  explicit FilesScreen(MainWindow* main);
  void openFolder();
  void openFile(const std::u16string& folder, const std::u16string& name);
  void command(int command) override;

 protected:
  ColumnLayout columns() const override;
  void treeMenu() override;
  void listMenu() override;
  void jump() override { openFolder(); }

 private:
  // "Open file" on the list's selected row, and on the search pane's selected result.
  void openSelectedFile();
  void openResult();
};

class ApplicationsScreen : public SnapshotScreen {
 public:
  explicit ApplicationsScreen(MainWindow* main);

 protected:
  ColumnLayout columns() const override;
};

// Opens the registry editor at keyPath: through its "LastKey" value when it is not running,
// then by walking its key tree (keystrokes when the tree cannot be read). Waits at most about
// two seconds for the editor's window, as long for it to take input and for each message to
// it: a hung editor never hangs the program.
void jumpToRegistryEditor(const std::u16string& keyPath);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_SNAPSHOT_SCREEN_WIN_H_
