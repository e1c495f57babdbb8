#include "shell/search_pane_win.h"

#include <commctrl.h>

#include "base/text.h"
#include "base/text_table.h"
#include "resources/resource_ids.h"
#include "shell/snapshot_screen_win.h"
#include "toolkit/controls.h"
#include "toolkit/toolkit.h"
#include "views/screen_commands.h"
#include "workspace/catalog_lock.h"

namespace keldrun {

namespace {
constexpr int kMinimumListHeight = 30;  // pixels at 100 % scale: a header and a part of a row
}

SearchPane::SearchPane(SnapshotScreen* screen, int section, Settings* settings,
                       ComparisonContext* context)
    : CXDialogBase(section == kSectionFiles ? IDD_FILES_SEARCH : IDD_REGISTRY_SEARCH),
      screen_(screen), section_(section), settings_(settings), context_(context) {}

bool SearchPane::onInitDialog() {
  list_.attach(hwnd(), IDC_SEARCH_RESULTS);
  // The results list keeps the top the template gives it, below the search controls at any scale.
  RECT placed;
  GetWindowRect(list_.hwnd(), &placed);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&placed), 2);
  resultsTop_ = placed.top;
  if (section_ == kSectionFiles) {
    list_.setColumns({u"Path", u"Name"});
    list_.setColumnWidths({150, 150});
    check(IDC_SEARCH_MATCH_CASE, settings_->filesSearch.matchCase != 0);
    check(IDC_SEARCH_PATHS, settings_->filesSearch.includePaths != 0);
  } else {
    list_.setColumns({u"Key", u"Name", u"Data"});
    list_.setColumnWidths({150, 150, 200});
    check(IDC_SEARCH_MATCH_CASE, settings_->registrySearch.matchCase != 0);
    check(IDC_SEARCH_PATHS, settings_->registrySearch.includePaths != 0);
    check(IDC_SEARCH_NAMES, settings_->registrySearch.includeNames != 0);
    check(IDC_SEARCH_DATA, settings_->registrySearch.includeData != 0);
  }
  list_.fillColumn(0, 100);
  ListView_SetExtendedListViewStyle(list_.hwnd(), LVS_EX_FULLROWSELECT);
  RECT r;
  GetClientRect(hwnd(), &r);
  onSize(r.right, r.bottom);
  return false;
}

void SearchPane::onSize(int width, int height) {
  if (!list_.hwnd()) return;
  int listHeight = height > resultsTop_ ? height - resultsTop_ : 0;
  MoveWindow(list_.hwnd(), 0, resultsTop_, width, listHeight, TRUE);
  // A pane too low for more than the list's header shows the search controls alone.
  ShowWindow(list_.hwnd(), listHeight >= dpiScale(kMinimumListHeight) ? SW_SHOWNA : SW_HIDE);
}

bool SearchPane::checked(int id) const { return IsDlgButtonChecked(hwnd(), id) == BST_CHECKED; }

void SearchPane::check(int id, bool on) { CheckDlgButton(hwnd(), id, on ? BST_CHECKED : BST_UNCHECKED); }

void SearchPane::setEnabled(bool enabled) {
  SetDlgItemTextW(hwnd(), IDC_SEARCH_STATUS, L"");
  rows_.clear();
  list_.clear();
  for (int id : {IDC_SEARCH_RESULTS, IDC_SEARCH_MATCH_CASE, IDC_SEARCH_PATHS, IDC_SEARCH_NAMES,
                 IDC_SEARCH_DATA, IDC_SEARCH_TEXT, IDC_SEARCH_RUN}) {
    if (HWND w = item(id)) EnableWindow(w, enabled ? TRUE : FALSE);
  }
}

void SearchPane::storeBoxes() {
  if (section_ == kSectionFiles) {
    settings_->filesSearch.matchCase = checked(IDC_SEARCH_MATCH_CASE);
    settings_->filesSearch.includePaths = checked(IDC_SEARCH_PATHS);
  } else {
    settings_->registrySearch.matchCase = checked(IDC_SEARCH_MATCH_CASE);
    settings_->registrySearch.includePaths = checked(IDC_SEARCH_PATHS);
    settings_->registrySearch.includeNames = checked(IDC_SEARCH_NAMES);
    settings_->registrySearch.includeData = checked(IDC_SEARCH_DATA);
  }
}

void SearchPane::runSearch() {
  if (!IsWindowEnabled(item(IDC_SEARCH_RUN))) return;
  std::u16string text = windowText(item(IDC_SEARCH_TEXT));
  SearchOptions options;
  options.matchCase = checked(IDC_SEARCH_MATCH_CASE);
  options.paths = checked(IDC_SEARCH_PATHS);
  options.names = section_ == kSectionRegistry && checked(IDC_SEARCH_NAMES);
  options.data = section_ == kSectionRegistry && checked(IDC_SEARCH_DATA);
  if (!text.empty()) {
    storeBoxes();
    if (section_ == kSectionFiles || options.paths || options.names || options.data) {
      // The boxes are kept at once when the workspace is free, else by the closing save.
      CatalogLock lock(settings_);
      if (lock.tryTake().empty()) settings_->save();
      SetDlgItemTextW(hwnd(), IDC_SEARCH_STATUS, wide(widen(keldrun::text(kTextSearching))));
      rows_.clear();
      list_.clear();
      UpdateWindow(hwnd());
    }
  }
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  SearchResult result = section_ == kSectionFiles ? searchFiles(context_, text, options)
                                                  : searchRegistry(context_, text, options);
  SetCursor(old);
  SetDlgItemTextW(hwnd(), IDC_SEARCH_STATUS, wide(widen(result.status)));
  if (!result.searched) return;
  rows_ = std::move(result.rows);
  list_.beginUpdate();
  for (const SearchRow& row : rows_) {
    if (section_ == kSectionFiles) {
      list_.addRow({row.path, row.name});
    } else {
      list_.addRow({row.path, row.name, row.data});
    }
  }
  list_.endUpdate();
  if (!rows_.empty()) {
    screen_->searchFound(rows_.size());
    ListView_EnsureVisible(list_.hwnd(), 0, FALSE);
  }
}

int SearchPane::selectedRow() const {
  std::vector<int> rows = list_.selectedRows();
  return rows.empty() ? -1 : rows.front();
}

bool SearchPane::selectedResult(std::u16string* path, std::u16string* name) const {
  int row = selectedRow();
  if (row < 0) return false;
  *path = list_.model().text(size_t(row), 0);
  *name = list_.model().text(size_t(row), 1);
  return true;
}

void SearchPane::resultMenu() {
  std::vector<MenuEntry> entries = searchResultMenu(section_, list_.rowCount() > 0);
  if (entries.empty()) return;
  CXPopupMenu menu;
  menu.setImages(menuImages());
  for (const MenuEntry& e : entries) menu.addItem(e.text, e.command, e.icon, e.enabled);
  screen_->command(menu.show(u"Options", hwnd(), true));
}

void SearchPane::onCommand(int id, int code, HWND control) {
  if (id == IDOK || (id == IDC_SEARCH_RUN && code == BN_CLICKED)) runSearch();
}

LRESULT SearchPane::onNotify(NMHDR* n, bool* handled) {
  if (n->idFrom != IDC_SEARCH_RESULTS) return 0;
  switch (n->code) {
    case LVN_ITEMCHANGED: resultSelected(*reinterpret_cast<NMLISTVIEW*>(n)); return 0;
    case NM_DBLCLK: resultDoubleClicked(reinterpret_cast<NMITEMACTIVATE*>(n)->iItem); return 0;
    case NM_RCLICK:
      resultMenu();
      *handled = true;
      return 1;
    default: return 0;
  }
}

void SearchPane::resultSelected(const NMLISTVIEW& change) {
  bool selected = (change.uChanged & LVIF_STATE) && (change.uNewState & LVIS_SELECTED) &&
                  !(change.uOldState & LVIS_SELECTED) && change.iItem >= 0;
  if (selected) locateRow(change.iItem);
}

void SearchPane::resultDoubleClicked(int row) {
  if (row < 0) row = selectedRow();
  if (row >= 0) locateRow(row);
}

void SearchPane::locateRow(int row) {
  screen_->locate(list_.model().text(size_t(row), 0), list_.model().text(size_t(row), 1));
}

}  // namespace keldrun
