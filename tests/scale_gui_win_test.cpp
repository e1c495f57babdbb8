// Every window of the real Keldrun.exe laid out at the scale of the display it runs on: each is
// opened from outside and its controls checked with layoutFaults (tests/gui_test_support_win.h).
// tests/wine/scale_check.sh runs this suite in one prefix at 96, 120 and 144 DPI; with --shots it
// keeps the pictures of the 144 DPI run, named after the window and the DPI.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui_test_support_win.h"
#include "tests/program_driver_win.h"
#include "toolkit/toolkit.h"

namespace keldrun {
namespace {

using gui_driver::Program;
using gui_driver::programPath;
using gui_driver::waitFor;

int screenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

// Checks one window and keeps its picture as NAME_<dpi>dpi, beside the gallery's NAME taken at
// 96 DPI by the other window tests.
void checkWindow(HWND window, const std::string& name) {
  ASSERT_TRUE(window) << name;
  Sleep(100);  // let a page that was just shown finish its layout
  std::vector<std::string> faults = layoutFaults(window);
  std::string all;
  for (const std::string& f : faults) all += "\n  " + f;
  EXPECT_TRUE(faults.empty()) << name << " at " << screenDpi() << " DPI:" << all;
  gui_driver::shot(window, (name + "_" + std::to_string(screenDpi()) + "dpi").c_str());
}

HWND create(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, HWND parent) {
  HWND c = CreateWindowExW(0, cls, text, style | WS_VISIBLE | (parent ? WS_CHILD : WS_POPUP), x, y, w, h, parent,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), 0);
  return c;
}

// The check itself: one window holding one fault of each kind and each allowed overlap.
TEST(ScaleGui, TheCheckFindsOverhangsOverlapsAndClippedTexts) {
  REQUIRE_GUI();
  HWND top = create(L"Static", L"", 0, 10, 10, 400, 300, nullptr);
  ASSERT_TRUE(top);
  int line = dpiScale(20);
  create(L"Button", L"Frame", BS_GROUPBOX, 10, 10, 200, 100, top);
  create(L"Button", L"In", BS_PUSHBUTTON, 20, 30, 60, line, top);               // framed: allowed
  create(L"Static", L"", SS_ETCHEDFRAME, 220, 10, 150, 100, top);
  create(L"Static", L"Framed", SS_LEFT, 230, 20, 100, line, top);              // framed: allowed
  create(L"Button", L"Out", BS_PUSHBUTTON, 350, 280, 80, line, top);           // sticks out
  create(L"Button", L"One", BS_PUSHBUTTON, 20, 150, 80, line, top);
  create(L"Button", L"Two", BS_PUSHBUTTON, 90, 150, 80, line, top);            // overlaps One
  create(L"Button", L"A check box with a long text", BS_AUTOCHECKBOX, 20, 200, 60, line, top);  // clipped
  create(L"Static", L"Two words", SS_LEFT, 200, 200, 150, line / 4, top);      // clipped below
  std::vector<std::string> faults = layoutFaults(top);
  std::string all;
  for (const std::string& f : faults) all += "\n" + f;
  ASSERT_EQ(faults.size(), 4u) << all;
  EXPECT_NE(faults[0].find("\"Out\""), std::string::npos) << all;
  EXPECT_NE(faults[0].find("sticks out"), std::string::npos) << all;
  // Either of the two may be named first: the order siblings come in is the system's.
  EXPECT_NE(faults[1].find("\"One\""), std::string::npos) << all;
  EXPECT_NE(faults[1].find(" overlaps Button 0 "), std::string::npos) << all;
  EXPECT_NE(faults[1].find("\"Two\""), std::string::npos) << all;
  EXPECT_NE(faults[2].find("\"A check box with a long text\": text needs"), std::string::npos) << all;
  EXPECT_NE(faults[3].find("\"Two words\": text needs"), std::string::npos) << all;
  DestroyWindow(top);
}

// Shows a page of the main window by clicking along the tab strip.
bool showPage(Program& p, int pageId) {
  for (int x = 5; x < 800; x += 12) {
    if (p.visiblePage() == pageId) return true;
    p.clickTab(x);
  }
  return p.visiblePage() == pageId;
}

// Opens a dialog with a posted click, checks it and closes it with its button `closeId`.
void checkDialog(Program& p, int buttonId, const char* caption, const std::string& name, int closeId = IDCANCEL) {
  p.click(buttonId);
  HWND dialog = nullptr;
  ASSERT_TRUE(waitFor([&] { return (dialog = p.findTop(caption)) != nullptr; })) << caption;
  checkWindow(dialog, name);
  PostMessageW(GetDlgItem(dialog, closeId), BM_CLICK, 0, 0);
  EXPECT_TRUE(waitFor([&] { return p.findTop(caption) == nullptr; })) << caption;
}

TEST(ScaleGui, EveryWindowOfTheProgramLaysOutAtTheDisplaysScale) {
  REQUIRE_PROGRAM();
  Program p;
  ASSERT_TRUE(p.start(programPath()));
  ASSERT_TRUE(waitFor([&] { return p.rowCount() == 2; }));
  p.select({0});
  checkWindow(p.main(), "main_snapshots");
  checkDialog(p, IDC_PROPERTIES, "Snapshot properties", "properties");
  checkDialog(p, IDC_EXPORT_HTML, "Export to HTML", "snapshot_export");

  // Take snapshot with both of its pages: the full scan, then the selection tree.
  p.click(IDC_TAKE_SNAPSHOT);
  HWND take = nullptr;
  ASSERT_TRUE(waitFor([&] { return (take = p.findTop("Take snapshot")) != nullptr; }));
  Program::send(GetDlgItem(take, IDC_FULL_SCAN), BM_CLICK, 0, 0);
  checkWindow(take, "take_snapshot_full");
  Program::send(GetDlgItem(take, IDC_SELECTED_ITEMS), BM_CLICK, 0, 0);
  checkWindow(take, "take_snapshot_selected");
  PostMessageW(GetDlgItem(take, IDCANCEL), BM_CLICK, 0, 0);
  ASSERT_TRUE(waitFor([&] { return p.findTop("Take snapshot") == nullptr; }));

  // A message box: the question before deleting, answered No.
  p.select({0});
  p.click(IDC_DELETE_SNAPSHOTS);
  HWND box = p.messageBox();
  checkWindow(box, "message_delete_question");
  EXPECT_EQ(p.answer(20004).substr(0, 6), "Delete");

  // The differences report: its options, then the viewer.
  p.click(IDC_DIFFERENCES_LIST);
  HWND options = nullptr;
  ASSERT_TRUE(waitFor([&] { return (options = p.findTop("Report options")) != nullptr; }));
  checkWindow(options, "report_options_program");
  PostMessageW(GetDlgItem(options, IDC_REPORT_VIEW), BM_CLICK, 0, 0);
  HWND viewer = nullptr;
  ASSERT_TRUE(waitFor([&] { return (viewer = p.findTop("Differences report")) != nullptr; }));
  checkWindow(viewer, "report_viewer_program");
  PostMessageW(GetDlgItem(viewer, IDCANCEL), BM_CLICK, 0, 0);
  ASSERT_TRUE(waitFor([&] { return p.findTop("Differences report") == nullptr; }));

  // The comparison screens, the search panes open, and the help page.
  p.press(IDC_COMPARE);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  checkWindow(p.main(), "registry_compare");
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  checkWindow(p.main(), "files_compare");
  ASSERT_TRUE(showPage(p, IDD_APPLICATIONS_PAGE));
  checkWindow(p.main(), "applications_compare");
  ASSERT_TRUE(showPage(p, IDD_HELP_PAGE));
  checkWindow(p.main(), "help_about");
  EXPECT_EQ(p.close(), 0u);
}

// The setup window, when the script names a copy of the program under a setup file's name.
TEST(ScaleGui, SetupWindowLaysOutAtTheDisplaysScale) {
  const char* setup = std::getenv("KELDRUN_SETUP_PROGRAM");
  if (!setup || !*setup) GTEST_SKIP() << "set KELDRUN_SETUP_PROGRAM (scale_check.sh)";
  std::wstring exe(setup, setup + std::strlen(setup));
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = L"\"" + exe + L"\"";
  std::wstring folder = gui_driver::folderOf(exe);
  ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi));
  HWND window = nullptr;
  EXPECT_TRUE(waitFor([&] { return (window = FindWindowW(nullptr, L"Keldrun Setup")) && IsWindowVisible(window); }));
  if (window) {
    checkWindow(window, "setup_agreement");
    Program::send(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitFor([&] { return gui_driver::textOf(GetDlgItem(window, IDOK)) == "Install"; }));
    checkWindow(window, "setup_install");
  }
  // Nothing was installed yet: the window may end without its questions.
  TerminateProcess(pi.hProcess, 1);
  WaitForSingleObject(pi.hProcess, 5000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

}  // namespace
}  // namespace keldrun
