// The context menus of the real Keldrun.exe, opened by right clicks and chosen with the keys as
// a user does: "Open file" and "Jump to file folder" on the Files screen reach the shell, whose
// handlers for the test's own file extension and for folders (registered in the test's Wine
// prefix, each a command that logs what it was given) receive the right paths; a file that is
// gone and a file without a handler end in the program's error texts. Pictures of every menu
// go to the gallery.
//
// Run by tests/wine/program_check.sh (KELDRUN_PROGRAM set); skipped otherwise.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/program_driver_win.h"
#include "toolkit/toolkit.h"
#include "views/screen_commands.h"

namespace keldrun {
namespace {

using namespace gui_driver;

const wchar_t kHome[] = L"C:\\KeldrunOpen\\";
const wchar_t kData[] = L"C:\\KeldrunOpenData";
const wchar_t kLog[] = L"C:\\KeldrunOpen\\opened.log";
const wchar_t kCopy[] = L"C:\\KeldrunOpen\\copied.bin";
// A name no single-byte code page of the West can spell: the path must reach the shell in UTF-16.
const wchar_t kCyrillic[] = L"\x0434\x043e\x043a.kldcopy";

bool setDefault(HKEY root, const std::wstring& key, const std::wstring& value) {
  HKEY k;
  if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != 0) return false;
  LONG r = RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return r == 0;
}

// Files of the extension ".kldopen" open with a command that appends its argument to the log;
// so do folders.
bool registerHandlers() {
  std::wstring logCommand = L"cmd.exe /c echo [%1]>>" + std::wstring(kLog);
  bool ok = setDefault(HKEY_CLASSES_ROOT, L".kldopen", L"KeldrunTest.Opened") &&
            setDefault(HKEY_CLASSES_ROOT, L"KeldrunTest.Opened\\shell\\open\\command", logCommand);
  // Files of ".kldcopy" are copied to kCopy, whatever their name: the copy shows which file the
  // handler was given.
  ok = setDefault(HKEY_CLASSES_ROOT, L".kldcopy", L"KeldrunTest.Copied") &&
       setDefault(HKEY_CLASSES_ROOT, L"KeldrunTest.Copied\\shell\\open\\command",
                  L"cmd.exe /c copy /y \"%1\" " + std::wstring(kCopy)) &&
       ok;
  for (const wchar_t* folderClass : {L"Folder", L"Directory"}) {
    ok = setDefault(HKEY_CLASSES_ROOT, std::wstring(folderClass) + L"\\shell\\open\\command", logCommand) && ok;
  }
  // No handler at all for ".kldnone".
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".kldnone");
  return ok;
}

HTREEITEM nextItem(HWND tree, HTREEITEM item, UINT flag) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, flag, LPARAM(item)));
}

bool showPage(Program& p, int pageId) {
  for (int x = 5; x < 500; x += 12) {
    if (p.visiblePage() == pageId) return true;
    p.clickTab(x);
  }
  return p.visiblePage() == pageId;
}

// How many pixels of an open menu are drawn in the colour of a disabled entry's text.
int disabledTextPixels(HWND menu) {
  RECT r;
  GetWindowRect(menu, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return -1;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(size_t(w) * size_t(h));
  int lines = GetDIBits(memory, bitmap, 0, UINT(h), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (lines != h) return -1;
  COLORREF c = schemeColour(SchemeColour::kDisabledText);
  uint32_t wanted = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
  int n = 0;
  for (uint32_t px : pixels) n += (px & 0xFFFFFF) == wanted ? 1 : 0;
  return n;
}

// Opens the menu of a control with a right click and closes it again; the pixels of its
// disabled entries' text colour (disabledTextPixels), -1 when no menu opened.
int menuDisabledPixels(HWND control, POINT at) {
  rightClick(control, at);
  HWND menu = nullptr;
  if (!waitFor([&] { return (menu = openMenu()) != nullptr; })) return -1;
  Sleep(200);  // let the program draw its entries
  int n = disabledTextPixels(menu);
  choose(menu, 0);
  return n;
}

int rowNamed(const Program& p, HWND list, const std::string& name) {
  for (int r = 0; r < Program::rowsIn(list); r++) {
    if (p.cellIn(list, r, 0) == name) return r;
  }
  return -1;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What the handlers were given, in lower case: the scan records the names as the file system
// spells them.
std::string loggedText() { return lower(readFile(kLog)); }

// Opens the row's file with "Open file" from the list menu; the program's message box text
// when one opened, else "".
std::string openFileOfRow(Program& p, HWND list, const std::string& name, const char* picture = nullptr) {
  int row = rowNamed(p, list, name);
  EXPECT_GE(row, 0) << name;
  if (row < 0) return "(no row)";
  selectRow(p, list, row);
  EXPECT_TRUE(menuOf(p, list, middle(rowRect(p, list, row)), picture, 2)) << "no menu";
  if (p.noMessageBox()) return "";
  return p.answer(20003);
}

TEST(ProgramGui, FilesMenusOpenThroughTheShellAndNameWhatFails) {
  REQUIRE_PROGRAM();
  ASSERT_TRUE(registerHandlers());
  std::wstring home = kHome;
  CreateDirectoryW(home.c_str(), nullptr);
  std::wstring from = folderOf(programPath());
  for (const wchar_t* f : {L"Keldrun.exe", L"keldrun-cli.exe"}) {
    ASSERT_TRUE(CopyFileW((from + f).c_str(), (home + f).c_str(), FALSE));
  }
  std::wstring data = std::wstring(kData) + L"\\";
  CreateDirectoryW(kData, nullptr);
  ASSERT_TRUE(writeFile(data + L"doc.kldopen", "doc"));
  ASSERT_TRUE(writeFile(data + L"gone.kldopen", "gone"));
  ASSERT_TRUE(writeFile(data + L"odd.kldnone", "odd"));
  ASSERT_TRUE(writeFile(data + kCyrillic, "cyrillic name"));
  DeleteFileW(kLog);
  DeleteFileW(kCopy);
  std::wstring cli = L"\"" + home + L"keldrun-cli.exe\" --home \"C:\\KeldrunOpen\" ";
  std::string out = run(cli + L"snapshot --name before --files " + kData + L" --registry HKEY_CLASSES_ROOT\\.kldopen");
  ASSERT_NE(out.find("snap001"), std::string::npos) << out;
  ASSERT_TRUE(DeleteFileW((data + L"gone.kldopen").c_str()));
  ASSERT_TRUE(writeFile(data + L"new.kldopen", "new"));
  out = run(cli + L"snapshot --name after --files " + kData + L" --registry HKEY_CLASSES_ROOT\\.kldopen");
  ASSERT_NE(out.find("snap002"), std::string::npos) << out;

  Program p;
  ASSERT_TRUE(p.start(home + L"Keldrun.exe"));
  ASSERT_EQ(p.rowCount(), 2);

  // Nothing open: no menu anywhere. (The screens are made when one is first shown.)
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  HWND regTree = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_TREE);
  HWND fileTree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE);
  HWND fileList = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_LIST);
  HWND fileBox = p.pageItem(IDD_FILES_PAGE, IDC_PATH_BOX);
  rightClick(fileTree, {20, 10});
  EXPECT_TRUE(p.noMessageBox());
  EXPECT_EQ(openMenu(), nullptr);
  if (HWND stray = openMenu()) choose(stray, 0);

  // View the first snapshot: the folder whose files are gone from the disk since.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({0});
  p.press(IDC_VIEW_SNAPSHOT);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  HTREEITEM hive = nextItem(regTree, nullptr, TVGN_ROOT);
  ASSERT_NE(hive, nullptr);
  Program::send(regTree, TVM_SELECTITEM, TVGN_CARET, LPARAM(hive));
  EXPECT_TRUE(menuOf(p, regTree, itemPoint(p, regTree, hive), "menu_key_view"));

  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  HTREEITEM drive = nextItem(fileTree, nullptr, TVGN_ROOT);
  ASSERT_NE(drive, nullptr);
  Program::send(fileTree, TVM_EXPAND, TVE_EXPAND, LPARAM(drive));
  HTREEITEM folder = nextItem(fileTree, drive, TVGN_CHILD);
  ASSERT_NE(folder, nullptr);
  Program::send(fileTree, TVM_SELECTITEM, TVGN_CARET, LPARAM(folder));
  ASSERT_EQ(lower(textOf(fileBox)), "c:\\keldrunopendata");
  EXPECT_TRUE(menuOf(p, fileTree, itemPoint(p, fileTree, folder), "menu_folder"));
  // One snapshot has no differences list: its entry is drawn disabled, as the button is.
  EXPECT_GT(menuDisabledPixels(fileTree, itemPoint(p, fileTree, folder)), 0);

  // "Open file" hands the file to its handler, with the folder of the path box before it.
  EXPECT_EQ(openFileOfRow(p, fileList, "doc.kldopen", "menu_file"), "");
  EXPECT_TRUE(waitFor([] { return loggedText().find("doc.kldopen") != std::string::npos; })) << loggedText();
  EXPECT_NE(loggedText().find("[c:\\keldrunopendata\\doc.kldopen]"), std::string::npos) << loggedText();

  // A file the snapshot holds but the disk no longer does; a file no application handles.
  EXPECT_EQ(openFileOfRow(p, fileList, "gone.kldopen"), "Cannot open file.\r\nFile not found.");
  EXPECT_EQ(openFileOfRow(p, fileList, "odd.kldnone"),
            "Cannot open file.\r\nThere is no application associated with this file extension.");
  EXPECT_EQ(loggedText().find("gone.kldopen"), std::string::npos) << loggedText();
  // The Cyrillic name reaches its handler whole.
  EXPECT_EQ(openFileOfRow(p, fileList, "???.kldcopy"), "");
  EXPECT_TRUE(waitFor([] { return readFile(kCopy) == "cyrillic name"; })) << readFile(kCopy);
  EXPECT_EQ(loggedText().find("odd.kldnone"), std::string::npos) << loggedText();

  // "Jump to file folder" from the list menu (no row needed) and "Jump to this folder" from the
  // folder menu open the folder of the path box.
  EXPECT_TRUE(menuOf(p, fileList, {40, 200}, "menu_file_no_row", 1));
  EXPECT_TRUE(waitFor([] { return loggedText().find("[c:\\keldrunopendata]") != std::string::npos; })) << loggedText();
  DeleteFileW(kLog);
  EXPECT_TRUE(menuOf(p, fileTree, itemPoint(p, fileTree, folder), nullptr, 1));
  EXPECT_TRUE(waitFor([] { return loggedText().find("[c:\\keldrunopendata]") != std::string::npos; })) << loggedText();

  // Compare: the key menu with its four entries, the folder menu of the comparison.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({0, 1});
  p.press(IDC_COMPARE);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  hive = nextItem(regTree, nullptr, TVGN_ROOT);
  ASSERT_NE(hive, nullptr);
  Program::send(regTree, TVM_SELECTITEM, TVGN_CARET, LPARAM(hive));
  EXPECT_TRUE(menuOf(p, regTree, itemPoint(p, regTree, hive), "menu_key_compare"));
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  drive = nextItem(fileTree, nullptr, TVGN_ROOT);
  ASSERT_NE(drive, nullptr);
  Program::send(fileTree, TVM_EXPAND, TVE_EXPAND, LPARAM(drive));
  folder = nextItem(fileTree, drive, TVGN_CHILD);
  ASSERT_NE(folder, nullptr);
  Program::send(fileTree, TVM_SELECTITEM, TVGN_CARET, LPARAM(folder));
  EXPECT_TRUE(menuOf(p, fileTree, itemPoint(p, fileTree, folder), "menu_folder_compare"));
  EXPECT_EQ(menuDisabledPixels(fileTree, itemPoint(p, fileTree, folder)), 0);
  // The deleted file's row: gone from the disk, so the shell cannot open it.
  EXPECT_EQ(openFileOfRow(p, fileList, "gone.kldopen", "menu_file_compare"), "Cannot open file.\r\nFile not found.");
  EXPECT_EQ(p.close(), 0u);
}

// The child of parent (the top level for null) whose text is name, ignoring case.
HTREEITEM childNamed(Program& p, HWND tree, HTREEITEM parent, const std::string& name) {
  HTREEITEM i = parent ? nextItem(tree, parent, TVGN_CHILD) : nextItem(tree, nullptr, TVGN_ROOT);
  for (; i; i = nextItem(tree, i, TVGN_NEXT)) {
    if (lower(p.treeText(tree, i)) == lower(name)) return i;
  }
  return nullptr;
}

// Expands the tree down the names and selects the last; null when one is missing.
HTREEITEM selectPath(Program& p, HWND tree, const std::vector<std::string>& names) {
  HTREEITEM at = nullptr;
  for (const std::string& name : names) {
    if (at) Program::send(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(at));
    at = childNamed(p, tree, at, name);
    if (!at) return nullptr;
  }
  Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(at));
  return at;
}

// The result row whose first column ends in `tail` and whose second is `name`; -1 for none.
int resultRow(Program& p, HWND results, const std::string& tail, const std::string& name) {
  for (int r = 0; r < Program::rowsIn(results); r++) {
    std::string path = lower(p.cellIn(results, r, 0));
    if (path.size() >= tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0 &&
        p.cellIn(results, r, 1) == name) {
      return r;
    }
  }
  return -1;
}

// The controls of the Registry or the Files screen.
struct Screen {
  HWND tree, list, box, pane, results;
};
Screen screenOf(Program& p, int pageId) {
  HWND pane = p.pageItem(pageId, IDC_SEARCH_PANE);
  return {p.pageItem(pageId, IDC_SCREEN_TREE), p.pageItem(pageId, IDC_SCREEN_LIST), p.pageItem(pageId, IDC_PATH_BOX),
          pane, GetDlgItem(pane, IDC_SEARCH_RESULTS)};
}

std::string selectedName(Program& p, HWND list) {
  int row = selectedRowIn(list);
  return row < 0 ? "(none)" : p.cellIn(list, row, 0);
}

// Text as a .reg file holds it: UTF-16LE.
std::string utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// Two folders with a file of one name and two keys with a value of one name: a search result
// chosen with a single click is located in the tree, and every command then acts on the node the
// tree and list show, the result's, until the user selects another node.
TEST(ProgramGui, AChosenSearchResultIsWhatTheCommandsActOn) {
  REQUIRE_PROGRAM();
  ASSERT_TRUE(registerHandlers());
  const std::wstring home = L"C:\\KeldrunSame\\", data = L"C:\\KeldrunSameData\\";
  const wchar_t kSameKey[] = L"Software\\KeldrunSame";
  CreateDirectoryW(home.c_str(), nullptr);
  std::wstring from = folderOf(programPath());
  for (const wchar_t* f : {L"Keldrun.exe", L"keldrun-cli.exe"}) {
    ASSERT_TRUE(CopyFileW((from + f).c_str(), (home + f).c_str(), FALSE));
  }
  CreateDirectoryW(data.c_str(), nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, kSameKey);
  for (const wchar_t* sub : {L"one", L"two"}) {
    CreateDirectoryW((data + sub).c_str(), nullptr);
    ASSERT_TRUE(writeFile(data + sub + L"\\same.kldopen", narrow(sub)));
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kSameKey) + L"\\" + sub).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
    RegSetValueExW(k, L"same", 0, REG_SZ, reinterpret_cast<const BYTE*>(sub), DWORD((wcslen(sub) + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }
  std::string out = run(L"\"" + home + L"keldrun-cli.exe\" --home \"C:\\KeldrunSame\" snapshot --name same --files " +
                        data + L" --registry HKEY_CURRENT_USER\\" + kSameKey);
  ASSERT_NE(out.find("snap001"), std::string::npos) << out;

  Program p;
  ASSERT_TRUE(p.start(home + L"Keldrun.exe"));
  ASSERT_EQ(p.rowCount(), 1);
  p.select({0});
  p.press(IDC_VIEW_SNAPSHOT);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);

  // Files: folder "one" shown, then the result in "two" chosen.
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  const Screen files = screenOf(p, IDD_FILES_PAGE);
  HWND fileTree = files.tree, fileList = files.list, fileBox = files.box, filePane = files.pane;
  HWND fileResults = files.results;
  HTREEITEM drive = nextItem(fileTree, nullptr, TVGN_ROOT);
  ASSERT_NE(drive, nullptr);
  ASSERT_NE(selectPath(p, fileTree, {p.treeText(fileTree, drive), "KeldrunSameData", "one"}), nullptr);
  ASSERT_EQ(lower(textOf(fileBox)), "c:\\keldrunsamedata\\one");
  std::string status = search(filePane, L"same.kldopen");
  EXPECT_EQ(status.rfind("Found 2 in ", 0), 0u) << status;
  int two = resultRow(p, fileResults, "\\two", "same.kldopen");
  ASSERT_GE(two, 0);
  selectRow(p, fileResults, two);
  EXPECT_EQ(lower(p.treeText(fileTree, nextItem(fileTree, nullptr, TVGN_CARET))), "two");
  EXPECT_EQ(lower(textOf(fileBox)), "c:\\keldrunsamedata\\two");
  EXPECT_EQ(selectedName(p, fileList), "same.kldopen");
  DeleteFileW(kLog);
  EXPECT_EQ(openFileOfRow(p, fileList, "same.kldopen"), "");
  EXPECT_TRUE(waitFor([] { return loggedText().find("[c:\\keldrunsamedata\\two\\same.kldopen]") != std::string::npos; }))
      << loggedText();
  // "Jump to this folder" from the folder menu: the folder shown.
  DeleteFileW(kLog);
  HTREEITEM shown = nextItem(fileTree, nullptr, TVGN_CARET);
  EXPECT_TRUE(menuOf(p, fileTree, itemPoint(p, fileTree, shown), nullptr, 1));
  EXPECT_TRUE(waitFor([] { return loggedText().find("[c:\\keldrunsamedata\\two]") != std::string::npos; })) << loggedText();
  // Selecting "one" in the tree again: the commands follow the tree.
  ASSERT_NE(selectPath(p, fileTree, {p.treeText(fileTree, drive), "KeldrunSameData", "one"}), nullptr);
  EXPECT_EQ(lower(textOf(fileBox)), "c:\\keldrunsamedata\\one");
  DeleteFileW(kLog);
  EXPECT_EQ(openFileOfRow(p, fileList, "same.kldopen"), "");
  EXPECT_TRUE(waitFor([] { return loggedText().find("[c:\\keldrunsamedata\\one\\same.kldopen]") != std::string::npos; }))
      << loggedText();
  EXPECT_EQ(loggedText().find("\\two\\"), std::string::npos) << loggedText();

  // Registry: key "one" shown, then the value of "two" chosen; the export writes "two".
  ASSERT_TRUE(showPage(p, IDD_REGISTRY_PAGE));
  const Screen keys = screenOf(p, IDD_REGISTRY_PAGE);
  HWND regTree = keys.tree, regList = keys.list, regBox = keys.box, regPane = keys.pane;
  HWND regResults = keys.results;
  ASSERT_NE(selectPath(p, regTree, {"HKEY_CURRENT_USER", "Software", "KeldrunSame", "one"}), nullptr);
  ASSERT_EQ(lower(textOf(regBox)), "hkey_current_user\\software\\keldrunsame\\one");
  Program::send(GetDlgItem(regPane, IDC_SEARCH_NAMES), BM_SETCHECK, BST_CHECKED, 0);
  Program::send(GetDlgItem(regPane, IDC_SEARCH_PATHS), BM_SETCHECK, BST_UNCHECKED, 0);
  Program::send(GetDlgItem(regPane, IDC_SEARCH_DATA), BM_SETCHECK, BST_UNCHECKED, 0);
  status = search(regPane, L"same");
  EXPECT_EQ(status.rfind("Found ", 0), 0u) << status;
  two = resultRow(p, regResults, "\\two", "same");
  ASSERT_GE(two, 0);
  ASSERT_GE(resultRow(p, regResults, "\\one", "same"), 0);
  selectRow(p, regResults, two);
  EXPECT_EQ(lower(p.treeText(regTree, nextItem(regTree, nullptr, TVGN_CARET))), "two");
  EXPECT_EQ(lower(textOf(regBox)), "hkey_current_user\\software\\keldrunsame\\two");
  EXPECT_EQ(selectedName(p, regList), "same");
  std::wstring reg = home + L"two.reg";
  PostMessageW(p.page(IDD_REGISTRY_PAGE), WM_COMMAND, WPARAM(kRegistryExportContent), 0);
  ASSERT_TRUE(saveAs(p, reg));
  EXPECT_EQ(p.answer(20003), "Key exported");
  std::string exported = lower(readFile(reg));
  EXPECT_NE(exported.find(utf16("keldrunsame\\two]")), std::string::npos);
  EXPECT_EQ(exported.find(utf16("keldrunsame\\one]")), std::string::npos);
  EXPECT_EQ(p.close(), 0u);
  RegDeleteTreeW(HKEY_CURRENT_USER, kSameKey);
}

}  // namespace
}  // namespace keldrun
