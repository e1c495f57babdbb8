#include "shell/snapshot_screen_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "base/text.h"
#include "base/text_table.h"
#include "reports/reg_export.h"
#include "reports/report_generation.h"
#include "resources/resource_ids.h"
#include "shell/noise_commands.h"
#include "shell/program_win.h"
#include "shell/report_dialogs_win.h"
#include "toolkit/file_dialog.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"
#include "views/list_columns.h"
#include "views/screen_commands.h"

namespace keldrun {

namespace {

constexpr int kSplitterWidth = 4;
constexpr int kTopRow = 33;       // the splitter pair starts below the top row of controls
constexpr int kBottomRow = 20;    // "Jump to" and the path box sit this far above the bottom
constexpr int kBottomRowHeight = 18;
constexpr int kJumpWidth = 52;

HTREEITEM handleOf(TreeItem item) { return reinterpret_cast<HTREEITEM>(item); }

// The models speak 0x00RRGGBB; the system COLORREF.
Colour colourOf(uint32_t rrggbb) {
  return rgb(int((rrggbb >> 16) & 0xFF), int((rrggbb >> 8) & 0xFF), int(rrggbb & 0xFF));
}

class WaitCursor {
 public:
  WaitCursor() : old_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(old_); }

 private:
  HCURSOR old_;
};

std::u16string textOf(HWND window) { return windowText(window); }

// A click of a button that is enabled: a click can be sent from outside to a disabled one.
bool enabledClick(int code, HWND control) { return code == BN_CLICKED && IsWindowEnabled(control); }

int showMenu(HWND owner, const std::vector<MenuEntry>& entries) {
  if (entries.empty()) return 0;
  CXPopupMenu menu;
  menu.setImages(menuImages());
  for (const MenuEntry& e : entries) menu.addItem(e.text, e.command, e.icon, e.enabled);
  return menu.show(u"Options", owner, true);
}

}  // namespace

// ---- WindowTree ----

TreeItem WindowTree::root() { return reinterpret_cast<TreeItem>(TVI_ROOT); }

TreeItem WindowTree::insertItem(TreeItem parent, const std::u16string& text,
                                const TreeItemLook& look, intptr_t data) {
  HTREEITEM item = tree_->insertItem(handleOf(parent), TVI_LAST, text, look.icon, look.icon, data);
  if (item && (look.color != 0 || look.bold)) tree_->setItemLook(item, colourOf(look.color), look.bold);
  return reinterpret_cast<TreeItem>(item);
}

void WindowTree::deleteItem(TreeItem item) { TreeView_DeleteItem(hwnd(), handleOf(item)); }

void WindowTree::deleteAll() { tree_->clear(); }

TreeItem WindowTree::firstChild(TreeItem item) {
  HTREEITEM c = item == root() ? TreeView_GetRoot(hwnd()) : TreeView_GetChild(hwnd(), handleOf(item));
  return reinterpret_cast<TreeItem>(c);
}

TreeItem WindowTree::nextSibling(TreeItem item) {
  if (item == root()) return 0;
  return reinterpret_cast<TreeItem>(TreeView_GetNextSibling(hwnd(), handleOf(item)));
}

TreeItem WindowTree::parent(TreeItem item) {
  if (item == root() || item == 0) return 0;
  HTREEITEM p = TreeView_GetParent(hwnd(), handleOf(item));
  return p ? reinterpret_cast<TreeItem>(p) : root();
}

std::u16string WindowTree::text(TreeItem item) { return tree_->itemText(handleOf(item)); }

intptr_t WindowTree::data(TreeItem item) {
  if (item == 0 || item == root()) return kNoRecord;
  return intptr_t(tree_->itemData(handleOf(item)));
}

void WindowTree::expand(TreeItem item) {
  // The lazy fill first, so that the control has children to show; it fills only once, so the
  // control's own expanding notification then finds nothing more to do.
  if (events_) events_->itemExpanding(item);
  TreeView_Expand(hwnd(), handleOf(item), TVE_EXPAND);
}

void WindowTree::select(TreeItem item) { TreeView_SelectItem(hwnd(), handleOf(item)); }

TreeItem WindowTree::selected() { return reinterpret_cast<TreeItem>(TreeView_GetSelection(hwnd())); }

void WindowTree::ensureVisible(TreeItem item) { TreeView_EnsureVisible(hwnd(), handleOf(item)); }

// ---- SnapshotScreen ----

SnapshotScreen::SnapshotScreen(int templateId, MainWindow* main, int section)
    : ComparisonScreen(templateId, main), section_(section), treeControl_(&tree_),
      treeWidth_(dpiScale(section == kSectionApps ? 100 : 200)), paneHeight_(dpiScale(kSearchPaneHeight)) {
  model_ = std::make_unique<SnapshotScreenModel>(section, main->context(), &treeControl_);
  treeControl_.setEvents(model_.get());
}

SnapshotScreen::~SnapshotScreen() = default;

bool SnapshotScreen::onInitDialog() {
  tree_.attach(hwnd(), IDC_SCREEN_TREE);
  tree_.setImageList(treeImages());
  list_.attach(hwnd(), IDC_SCREEN_LIST);
  list_.setImageList(listImages());
  std::vector<std::u16string> titles;
  std::vector<int> sortTypes;
  for (const std::string& t : columnTitles(section_)) {
    titles.push_back(widen(t));
    bool number = t == "Size" || t == "File size";
    sortTypes.push_back(number ? kSortNumber : kSortText);
  }
  list_.setColumns(titles, sortTypes);
  ColumnLayout layout = columns();
  for (size_t c = 0; c < layout.formats.size(); c++) {
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT;
    column.fmt = layout.formats[c];
    ListView_SetColumn(list_.hwnd(), int(c), &column);
  }
  list_.setColumnWidths(layout.widths);
  list_.fillColumn(layout.fill, layout.fillMinimum);
  list_.showSortArrow(-1, true);
  ListView_SetExtendedListViewStyle(list_.hwnd(), LVS_EX_FULLROWSELECT);

  RECT client;
  GetClientRect(hwnd(), &client);
  splitter_.create(hwnd(), IDC_SCREEN_SPLITTER, RECT{treeWidth_, dpiScale(kTopRow), treeWidth_ + dpiScale(kSplitterWidth), dpiScale(kTopRow + 100)},
                   true, dpiScale(40));
  splitter_.setCallback([this](int position) {
    treeWidth_ = position;
    RECT r;
    GetClientRect(hwnd(), &r);
    placeControls(r.right, r.bottom);
  });
  if (hasPathBox()) {
    search_ = std::make_unique<SearchPane>(this, section_, mainWindow()->settings(), mainWindow()->context());
    search_->create(hwnd());
    SetWindowLongPtrW(search_->hwnd(), GWLP_ID, IDC_SEARCH_PANE);
    ShowWindow(search_->hwnd(), SW_SHOW);
    searchSplitter_.create(hwnd(), IDC_SEARCH_SPLITTER, RECT{0, 0, 10, dpiScale(kSplitterWidth)}, false, dpiScale(20));
    searchSplitter_.setCallback([this](int position) {
      paneHeight_ = position - dpiScale(kTopRow);
      RECT r;
      GetClientRect(hwnd(), &r);
      placeControls(r.right, r.bottom);
    });
  }
  placeControls(client.right, client.bottom);
  empty();
  return true;
}

void SnapshotScreen::onSize(int width, int height) { placeControls(width, height); }

void SnapshotScreen::placeControls(int width, int height) {
  if (!tree_.hwnd()) return;
  // The lengths above are pixels at 100 % scale.
  const int topRow = dpiScale(kTopRow), splitterWidth = dpiScale(kSplitterWidth), minPane = dpiScale(40);
  const int bottomRow = dpiScale(kBottomRow), rowHeight = dpiScale(kBottomRowHeight), jumpWidth = dpiScale(kJumpWidth);
  const int gap = dpiScale(2);
  int paneHeight = height - (hasPathBox() ? topRow + bottomRow + gap : topRow + gap);
  if (paneHeight < 0) paneHeight = 0;
  if (treeWidth_ > width - splitterWidth - minPane) treeWidth_ = width - splitterWidth - minPane;
  if (treeWidth_ < minPane) treeWidth_ = minPane;
  int right = treeWidth_ + splitterWidth;
  MoveWindow(tree_.hwnd(), 0, topRow, treeWidth_, paneHeight, TRUE);
  MoveWindow(splitter_.hwnd(), treeWidth_, topRow, splitterWidth, paneHeight, TRUE);
  int listWidth = width > right ? width - right : 0;
  if (search_) {
    if (paneHeight_ > paneHeight - splitterWidth - dpiScale(20)) paneHeight_ = paneHeight - splitterWidth - dpiScale(20);
    if (paneHeight_ < 0) paneHeight_ = 0;
    MoveWindow(search_->hwnd(), right, topRow, listWidth, paneHeight_, TRUE);
    MoveWindow(searchSplitter_.hwnd(), right, topRow + paneHeight_, listWidth, splitterWidth, TRUE);
    int listTop = topRow + paneHeight_ + splitterWidth;
    MoveWindow(list_.hwnd(), right, listTop, listWidth, paneHeight > listTop - topRow ? paneHeight - (listTop - topRow) : 0, TRUE);
  } else {
    MoveWindow(list_.hwnd(), right, topRow, listWidth, paneHeight, TRUE);
  }
  if (hasPathBox()) {
    int y = height - bottomRow;
    MoveWindow(item(IDC_JUMP_TO), gap, y, jumpWidth, rowHeight, TRUE);
    MoveWindow(item(IDC_PATH_BOX), jumpWidth + 2 * gap, y, width > jumpWidth + 3 * gap ? width - jumpWidth - 3 * gap : 0,
               rowHeight, TRUE);
  }
}

void SnapshotScreen::empty() {
  filling_ = true;
  model_->clear();
  filling_ = false;
  list_.clear();
  showControls();
  showNoiseLine();
}

void SnapshotScreen::refresh() {
  filling_ = true;
  {
    WaitCursor wait;
    SendMessageW(tree_.hwnd(), WM_SETREDRAW, FALSE, 0);
    model_->refresh(mainWindow()->settings()->viewMode);
    SendMessageW(tree_.hwnd(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree_.hwnd(), nullptr, TRUE);
  }
  filling_ = false;
  showRows();
  showControls();
  showNoiseLine();
}

void SnapshotScreen::showNoiseLine() {
  if (!item(IDC_NOISE_LINE)) return;  // the applications are never hidden
  // From the context, not the screen's mode: a section whose every difference is hidden noise
  // shows "no differences found" and still its count and the boxes that bring them back.
  ComparisonContext* context = mainWindow()->context();
  ComparisonChoices choices = comparisonChoices(*context);
  std::u16string line;
  if (choices.enabled) line = noiseLine(model_->hiddenNoiseLine(), context->showNoise(), context->hidesNoise(section_));
  SetDlgItemTextW(hwnd(), IDC_NOISE_LINE, wide(line));
  CheckDlgButton(hwnd(), IDC_SHOW_NOISE, choices.showNoise ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(hwnd(), IDC_NORMALISE, choices.normalise ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(item(IDC_SHOW_NOISE), choices.enabled);
  EnableWindow(item(IDC_NORMALISE), choices.enabled);
}

void SnapshotScreen::choiceClicked(int id) {
  bool checked = IsDlgButtonChecked(hwnd(), id) == BST_CHECKED;
  ComparisonContext* context = mainWindow()->context();
  if (id == IDC_SHOW_NOISE) context->setShowNoise(checked);
  if (id == IDC_NORMALISE) context->setNormalise(checked);
  mainWindow()->viewModeChanged();  // every screen shows the context again
}

std::vector<MenuEntry> SnapshotScreen::withNoiseMenu(std::vector<MenuEntry> menu) const {
  NoiseMenuState state = noiseMenuState(*mainWindow()->settings(), model_->nodePath());
  for (MenuEntry& e : noiseMenu(model_->mode(), !model_->nodePath().empty(), state.listed, state.canUndo))
    menu.push_back(std::move(e));
  return menu;
}

void SnapshotScreen::menuChosen(int chosen) {
  if (chosen == kNoiseHide || chosen == kNoiseShowAgain || chosen == kNoiseUndo) {
    noiseCommand(chosen);
  } else {
    command(chosen);
  }
}

void SnapshotScreen::noiseCommand(int command) {
  std::u16string path = model_->nodePath();
  if (model_->mode() != kModeCompare || (command != kNoiseUndo && path.empty())) return;
  std::string message;
  if (!runNoiseCommand(*mainWindow()->settings(), command, path, mainWindow()->context(), &message)) {
    showError(widen(message));
    return;
  }
  mainWindow()->viewModeChanged();  // every screen shows the comparison through the new list
  if (!path.empty()) locate(path, std::u16string());
}

void SnapshotScreen::setViewMode(int viewMode) {
  CheckRadioButton(hwnd(), IDC_VIEW_FULL, IDC_VIEW_DIFFERENCES,
                   viewMode == kViewFull ? IDC_VIEW_FULL : IDC_VIEW_DIFFERENCES);
}

void SnapshotScreen::showRows() {
  int sortColumn = list_.model().sortColumn();
  bool ascending = list_.model().sortAscending();
  list_.beginUpdate();
  list_.clear();
  Colour background = list_.model().defaultBackground();
  std::vector<ListRow> rows = model_->takeRows();
  list_.reserveRows(rows.size());
  for (ListRow& row : rows) {
    size_t i = list_.addRow(std::move(row.columns));
    list_.setRowColours(i, background, colourOf(row.color));
    list_.setRowImage(i, row.icon);
  }
  if (sortColumn >= 0) list_.sortBy(sortColumn, ascending);
  list_.endUpdate();
}

void SnapshotScreen::showControls() {
  const ScreenControls& c = model_->controls();
  EnableWindow(item(IDC_VIEW_FULL), c.radioEnabled);
  EnableWindow(item(IDC_VIEW_DIFFERENCES), c.radioEnabled);
  EnableWindow(item(IDC_SCREEN_DIFFERENCES), c.diffListEnabled);
  setViewMode(c.radioValue);
  if (search_) search_->setEnabled(c.searchEnabled);
  if (hasPathBox()) {
    EnableWindow(item(IDC_PATH_BOX), c.pathBoxEnabled);
    EnableWindow(item(IDC_JUMP_TO), c.jumpEnabled);
    if (textOf(item(IDC_PATH_BOX)) != c.pathText) setPathBox(c.pathText);
  }
}

void SnapshotScreen::setPathBox(const std::u16string& text) {
  settingPath_ = true;
  HWND box = item(IDC_PATH_BOX);
  SetWindowTextW(box, wide(text));
  int end = int(text.size());
  SendMessageW(box, EM_SETSEL, WPARAM(end), LPARAM(end));
  settingPath_ = false;
}

void SnapshotScreen::pathBoxChanged() {
  HWND box = item(IDC_PATH_BOX);
  bool fromUser = !settingPath_ && GetFocus() == box;
  std::u16string typed = textOf(box);
  std::u16string keep = model_->pathTextChanged(typed, fromUser);
  if (keep != textOf(box)) setPathBox(keep);
  EnableWindow(item(IDC_JUMP_TO), model_->controls().jumpEnabled);
}

bool SnapshotScreen::locate(const std::u16string& path, const std::u16string& itemName) {
  bool found = model_->locatePath(path, itemName);
  selectRowNamed(itemName);
  return found;
}

void SnapshotScreen::selectRowNamed(const std::u16string& name) {
  for (size_t i = 0; i < list_.rowCount(); i++) {
    if (list_.model().text(i, 0) == name) {
      list_.select(int(i), true);
      return;
    }
  }
}

void SnapshotScreen::searchFound(size_t count) {
  int grown = searchPaneHeight(paneHeight_, count, displayDpi());
  if (grown == paneHeight_) return;
  paneHeight_ = grown;
  RECT r;
  GetClientRect(hwnd(), &r);
  placeControls(r.right, r.bottom);
}

int SnapshotScreen::selectedRow() const {
  std::vector<int> rows = list_.selectedRows();
  return rows.empty() ? -1 : rows.front();
}

void SnapshotScreen::differencesList() {
  ComparisonContext* context = mainWindow()->context();
  if (context->mode() != kModeCompare) return;
  // The report walks the context in differences mode; the screen keeps its own mode.
  bool full = context->full();
  showDifferencesReportOptions(mainWindow()->hwnd(), mainWindow()->settings(), context, section_,
                               model_->nodePath());
  context->setFull(full);
}

void SnapshotScreen::onCommand(int id, int code, HWND control) {
  if (!control && code == 0 && id < IDC_SCREEN_TREE) {
    if (model_->mode() != kModeNone) menuChosen(id);  // the menus offer nothing while empty
    return;
  }
  switch (id) {
    case IDC_VIEW_FULL:
    case IDC_VIEW_DIFFERENCES: return viewButtonClicked(id, code);
    case IDC_SCREEN_DIFFERENCES: if (enabledClick(code, control)) differencesList(); return;
    case IDC_SHOW_NOISE:
    case IDC_NORMALISE: if (enabledClick(code, control)) choiceClicked(id); return;
    case IDC_JUMP_TO: if (enabledClick(code, control)) jump(); return;
    case IDC_PATH_BOX: if (code == EN_CHANGE && hasPathBox()) pathBoxChanged(); return;
    default: return;
  }
}

void SnapshotScreen::viewButtonClicked(int id, int code) {
  if (code != BN_CLICKED || IsDlgButtonChecked(hwnd(), id) != BST_CHECKED) return;
  int value = id == IDC_VIEW_FULL ? kViewFull : kViewDifferences;
  if (model_->setViewMode(value, &mainWindow()->settings()->viewMode)) mainWindow()->viewModeChanged();
}

LRESULT SnapshotScreen::onNotify(NMHDR* n, bool* handled) {
  bool tree = n->idFrom == IDC_SCREEN_TREE, list = n->idFrom == IDC_SCREEN_LIST;
  if (!tree && !list) return 0;
  switch (n->code) {
    case TVN_ITEMEXPANDINGW: if (tree) treeExpanding(*reinterpret_cast<NMTREEVIEWW*>(n)); return 0;
    case TVN_SELCHANGEDW: if (tree) treeSelectionChanged(*reinterpret_cast<NMTREEVIEWW*>(n)); return 0;
    case NM_RCLICK: return rightClicked(tree, handled);
    default: return 0;
  }
}

LRESULT SnapshotScreen::rightClicked(bool onTree, bool* handled) {
  if (onTree) {
    treeMenu();
  } else {
    listMenu();
  }
  *handled = true;
  return 1;  // no context menu of the control's own
}

void SnapshotScreen::treeExpanding(const NMTREEVIEWW& change) {
  if (filling_ || !(change.action & TVE_EXPAND)) return;
  WaitCursor wait;
  model_->itemExpanding(reinterpret_cast<TreeItem>(change.itemNew.hItem));
}

void SnapshotScreen::treeSelectionChanged(const NMTREEVIEWW& change) {
  if (filling_ || !change.itemNew.hItem) return;
  {
    WaitCursor wait;
    model_->selectionChanged(reinterpret_cast<TreeItem>(change.itemNew.hItem));
  }
  showRows();
  if (!hasPathBox()) return;
  const ScreenControls& c = model_->controls();
  if (textOf(item(IDC_PATH_BOX)) != c.pathText) setPathBox(c.pathText);
  EnableWindow(item(IDC_JUMP_TO), c.jumpEnabled);
}

void SnapshotScreen::locateResult() {
  std::u16string path, name;
  if (search_ && search_->selectedResult(&path, &name)) locate(path, name);
}

void SnapshotScreen::jumpToResult() {
  std::u16string path, name;
  if (search_ && search_->selectedResult(&path, &name) && locate(path, name)) jump();
}

// ---- Registry ----

RegistryScreen::RegistryScreen(MainWindow* main)
    : SnapshotScreen(IDD_REGISTRY_PAGE, main, kSectionRegistry) {}

SnapshotScreen::ColumnLayout RegistryScreen::columns() const {
  return {{150, 120, 100, 40}, {LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_LEFT}, 2, 100};
}

void RegistryScreen::treeMenu() {
  menuChosen(showMenu(hwnd(), withNoiseMenu(registryKeyMenu(model_->mode(), IsWindowEnabled(item(IDC_JUMP_TO)) != FALSE))));
}

void RegistryScreen::command(int command) {
  switch (command) {
    case kRegistryJumpToKey: return jump();
    case kRegistryExportContent: return exportSelectedKey(kRegExportContent);
    case kRegistryExportRestore: return exportSelectedKey(kRegExportRestore);
    case kRegistryExportChange: return exportSelectedKey(kRegExportChange);
    case kRegistryDifferences: return differencesList();
    case kRegistryLocateResult: return locateResult();
    case kRegistryJumpToResult: return jumpToResult();
    default: return;
  }
}

void RegistryScreen::jump() {
  const std::u16string& path = model_->nodePath();
  if (!path.empty()) jumpToRegistryEditor(path);
}

void RegistryScreen::exportSelectedKey(int mode) {
  std::u16string key = model_->nodePath();
  if (key.empty()) return;
  std::u16string file;
  if (!chooseSaveFile(mainWindow()->hwnd(), u"Export as regedit file", u"reg", u"export.reg", &file,
                      u"Export as regedit file")) {
    return;
  }
  std::string message;
  std::vector<std::u16string> leftOut;
  ExportDamage damage(mainWindow()->context());
  bool done;
  {
    WaitCursor wait;
    done = exportKey(mainWindow()->context(), mode, key, toUtf8(file), &message, &leftOut);
  }
  showShellMessage(regExportMessage(done, message, leftOut, damage));
}

// ---- Files ----

FilesScreen::FilesScreen(MainWindow* main) : SnapshotScreen(IDD_FILES_PAGE, main, kSectionFiles) {}

SnapshotScreen::ColumnLayout FilesScreen::columns() const {
  return {{150, 100, 115, 40}, {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_LEFT}, 0, 100};
}

void FilesScreen::openFolder() {
  const std::u16string& folder = model_->nodePath();
  if (!IsWindowEnabled(item(IDC_JUMP_TO)) || folder.empty()) return;
  ShellExecuteW(nullptr, L"open", wide(folder), nullptr, nullptr, SW_SHOWNORMAL);
}

void FilesScreen::openFile(const std::u16string& folder, const std::u16string& name) {
  std::u16string path = openFilePath(folder, model_->nodePath(), name);
  if (path.empty()) return;
  HINSTANCE r = ShellExecuteW(nullptr, L"open", wide(path), nullptr, nullptr, SW_SHOWNORMAL);
  std::string error = openFileError(static_cast<long long>(reinterpret_cast<INT_PTR>(r)));
  if (!error.empty()) showError(widen(error));
}

void FilesScreen::treeMenu() {
  menuChosen(showMenu(hwnd(), withNoiseMenu(filesFolderMenu(model_->mode(), IsWindowEnabled(item(IDC_JUMP_TO)) != FALSE))));
}

void FilesScreen::listMenu() {
  bool rowSelected = selectedRow() >= 0;
  command(showMenu(hwnd(), filesFileMenu(model_->mode(), IsWindowEnabled(item(IDC_JUMP_TO)) != FALSE, rowSelected)));
}

void FilesScreen::command(int command) {
  switch (command) {
    case kFilesJumpToFolder: return openFolder();
    case kFilesDifferences: return differencesList();
    case kFilesOpenFile: return openSelectedFile();
    case kFilesLocateResult: return locateResult();
    case kFilesJumpToResult: return jumpToResult();
    case kFilesOpenResult: return openResult();
    default: return;
  }
}

void FilesScreen::openSelectedFile() {
  int row = selectedRow();
  if (row >= 0) openFile(std::u16string(), list_.model().text(size_t(row), 0));
}

void FilesScreen::openResult() {
  std::u16string path, name;
  if (search_ && search_->selectedResult(&path, &name)) openFile(path, name);
}

// ---- Applications ----

ApplicationsScreen::ApplicationsScreen(MainWindow* main)
    : SnapshotScreen(IDD_APPLICATIONS_PAGE, main, kSectionApps) {}

SnapshotScreen::ColumnLayout ApplicationsScreen::columns() const {
  return {{150, 85, 120, 50, 60, 100, 70, 115, 40},
          {LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_CENTER, LVCFMT_CENTER, LVCFMT_LEFT,
           LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_CENTER},
          5,
          150};
}

// ---- the registry editor ----

namespace {

HWND findRegistryEditor() { return FindWindowW(nullptr, wide(widen(text(kTextRegeditTitle)))); }

// The editor's key tree: a child window, or deeper down in editors that put it in a pane.
BOOL CALLBACK findTreeProc(HWND window, LPARAM found) {
  wchar_t name[32] = {0};
  GetClassNameW(window, name, 32);
  if (lstrcmpiW(name, wide(widen(text(kTextTreeViewClass)))) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND findEditorTree(HWND editor) {
  HWND tree = nullptr;
  EnumChildWindows(editor, findTreeProc, reinterpret_cast<LPARAM>(&tree));
  return tree;
}

// Every message to the editor gives up after two seconds: a hung editor must not hang the
// program.
LRESULT sendToEditor(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 2000, &result)) return 0;
  return LRESULT(result);
}

// The editor's key tree, read through memory inside the editor's process.
class EditorTree {
 public:
  EditorTree(HWND tree, HANDLE process) : tree_(tree), process_(process) {
    remote_ = VirtualAllocEx(process, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~EditorTree() {
    if (remote_) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
  }
  bool usable() const { return remote_ != nullptr; }

  HTREEITEM next(HTREEITEM item, UINT flag) {
    return reinterpret_cast<HTREEITEM>(sendToEditor(tree_, TVM_GETNEXTITEM, flag, LPARAM(item)));
  }
  bool text(HTREEITEM item, std::u16string* out) {
    TVITEMW it = {};
    it.mask = TVIF_TEXT;
    it.hItem = item;
    it.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote_) + sizeof(TVITEMW));
    it.cchTextMax = kTextChars;
    wchar_t buffer[kTextChars + 1] = {0};
    if (!WriteProcessMemory(process_, remote_, &it, sizeof it, nullptr)) return false;
    if (!sendToEditor(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote_))) return false;
    if (!ReadProcessMemory(process_, static_cast<char*>(remote_) + sizeof(TVITEMW), buffer,
                           kTextChars * sizeof(wchar_t), nullptr)) {
      return false;
    }
    *out = u16(buffer);
    return true;
  }
  // The child of parent (the top level for null) whose text is name, ignoring case; the
  // editor fills a key's children when it is expanded.
  HTREEITEM child(HTREEITEM parent, const std::u16string& name) {
    if (parent) sendToEditor(tree_, TVM_EXPAND, TVE_EXPAND, LPARAM(parent));
    std::u16string wanted = lowerAscii(name), text;
    HTREEITEM item = parent ? next(parent, TVGN_CHILD) : next(nullptr, TVGN_ROOT);
    for (; item; item = next(item, TVGN_NEXT)) {
      if (this->text(item, &text) && lowerAscii(text) == wanted) return item;
    }
    return nullptr;
  }

 private:
  static constexpr size_t kTextChars = 512;
  static constexpr size_t kSize = sizeof(TVITEMW) + (kTextChars + 1) * sizeof(wchar_t);
  HWND tree_;
  HANDLE process_;
  void* remote_ = nullptr;
};

// Walks the editor's tree down the key path, one component at a time, and selects the deepest
// key found. The editor's tree may have one top item (the computer) above the roots. False when
// the tree cannot be read at all.
bool selectInEditor(HWND tree, HANDLE process, const std::u16string& keyPath) {
  EditorTree editor(tree, process);
  if (!editor.usable()) return false;
  HTREEITEM top = editor.next(nullptr, TVGN_ROOT);
  if (!top) return false;
  std::vector<std::u16string> parts = splitNonEmpty(keyPath, u'\\');
  if (parts.empty()) return false;
  HTREEITEM at = editor.child(nullptr, parts[0]);
  if (!at && !editor.next(top, TVGN_NEXT)) at = editor.child(top, parts[0]);
  if (!at) return false;
  for (size_t i = 1; i < parts.size(); i++) {
    HTREEITEM below = editor.child(at, parts[i]);
    if (!below) break;  // the key is gone from this machine: its deepest ancestor is shown
    at = below;
  }
  sendToEditor(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(at));
  sendToEditor(tree, TVM_ENSUREVISIBLE, 0, LPARAM(at));
  return true;
}

}  // namespace

void jumpToRegistryEditor(const std::u16string& keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, wide(widen(text(kTextRegeditKey))), 0, KEY_WRITE, &key) !=
      ERROR_SUCCESS) {
    key = nullptr;
  }
  HWND editor = findRegistryEditor();
  if (!editor) {
    if (key) {
      std::u16string last = registryEditorLastKey(keyPath);
      RegSetValueExW(key, L"LastKey", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide(last)),
                     DWORD(last.size() * sizeof(char16_t)));
      RegCloseKey(key);
    }
    ShellExecuteW(nullptr, L"open", wide(widen(text(kTextRegeditExe))), nullptr, nullptr, SW_SHOWNORMAL);
    for (int i = 0; i < 20 && !(editor = findRegistryEditor()); i++) Sleep(100);
    if (!editor) return;
  } else if (key) {
    RegCloseKey(key);  // a running editor does not read LastKey
  }
  ShowWindow(editor, IsZoomed(editor) ? SW_SHOW : SW_RESTORE);
  SetForegroundWindow(editor);
  HWND tree = findEditorTree(editor);
  if (!tree) return;
  SetForegroundWindow(tree);
  DWORD pid = 0;
  GetWindowThreadProcessId(editor, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                   PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return;
  WaitForInputIdle(process, 2000);
  // Walking the editor's tree reaches the key whatever its siblings are called; keystrokes
  // (climb to the top, then type-ahead and a step right per component) are the way when the
  // editor's memory cannot be read.
  if (!selectInEditor(tree, process, keyPath)) {
    std::vector<EditorKey> keys = registryEditorKeys(keyPath);
    for (const EditorKey& k : keys) {
      if (k.kind == EditorKey::Left) sendToEditor(tree, WM_KEYDOWN, VK_LEFT, 0);
    }
    WaitForInputIdle(process, 2000);
    for (const EditorKey& k : keys) {
      if (k.kind == EditorKey::Right) PostMessageW(tree, WM_KEYDOWN, VK_RIGHT, 0);
      if (k.kind == EditorKey::Char) PostMessageW(tree, WM_CHAR, WPARAM(k.character), 0);
    }
  }
  SetForegroundWindow(editor);
  CloseHandle(process);
}

}  // namespace keldrun
