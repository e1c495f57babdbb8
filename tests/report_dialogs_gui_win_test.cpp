// The report options dialog, the report viewer and the snapshot export as real windows over
// real snapshots and real folders, driven by window messages from a timer inside their modal
// loops. A click on a link of the viewer's bars is the navigation the browser control starts
// for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "resources/resource_ids.h"
#include "shell/report_dialogs_win.h"
#include "shell/report_options.h"
#include "shell/snapshot_commands.h"
#include "tests/gui_test_support_win.h"
#include "tests/report_support.h"
#include "toolkit/message_box.h"
#include "toolkit/screenshot.h"
#include "toolkit/toolkit.h"
#include "toolkit/web_browser.h"

namespace keldrun {
namespace {

using namespace report_testing;
using testing_support::writeText;

void press(HWND window, int id) { PostMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0); }
bool isChecked(HWND window, int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; }
bool shown(HWND window, int id) { return IsWindowVisible(GetDlgItem(window, id)) != FALSE; }
bool enabled(HWND window, int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }

// The viewer's browser control, in this process.
CXWebBrowser* viewerBrowser(HWND viewer) {
  HWND host = GetDlgItem(viewer, IDC_VIEWER_BROWSER);
  return host ? reinterpret_cast<CXWebBrowser*>(GetWindowLongPtrW(host, GWLP_USERDATA)) : nullptr;
}
std::string document(HWND viewer) {
  CXWebBrowser* b = viewerBrowser(viewer);
  return b ? toUtf8(b->documentText()) : std::string();
}

// Two snapshots whose registry differs under two keys and whose files differ; the registry
// key "Software\Big" has enough changed values for a report of three pages.
class ReportDialogsGui : public ::testing::Test {
 protected:
  static SnapSpec spec(bool newer, int bigValues) {
    auto r = MemoryRegistry::create();
    r->setValue(kHiveLocalMachine, u"Software\\Test", u"v", kRegSz, utf16(newer ? u"2" : u"1"));
    r->setValue(kHiveLocalMachine, u"Software\\TestOld", u"w", kRegSz, utf16(newer ? u"y" : u"x"));
    // One group heading per key: pages break only before a heading.
    for (int i = 0; newer && i < bigValues; i++) {
      r->setValue(kHiveLocalMachine, u"Software\\Big\\K" + fromUtf8(std::to_string(100000 + i)), u"v", kRegSz,
                  utf16(u"x"));
    }
    SnapSpec s;
    s.name = newer ? "after" : "before";
    s.registry = r;
    s.drives = {{u"c:\\", {{u"Work", {}, {{u"f.txt", newer ? 2u : 1u, 1}}}}, {}}};
    return s;
  }
  void open(int bigValues) {
    ASSERT_TRUE(writeSnapshot(dir / "a.snp", spec(false, bigValues)));
    ASSERT_TRUE(writeSnapshot(dir / "b.snp", spec(true, bigValues)));
    ASSERT_TRUE(context.openFiles(dir / "a.snp", dir / "b.snp", kModeCompare, false));
  }
  std::vector<std::string> tmpFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(home / "tmp"))
      names.push_back(e.path().filename().string());
    return names;
  }

  TempFolder dir, home;
  Settings settings{home.str()};
  ComparisonContext context;
};

TEST_F(ReportDialogsGui, ViewShowsAPagedReportAndLinksTurnItsPages) {
  REQUIRE_GUI();
  open(6000);
  settings.report.linesPerFile = 10000;
  settings.report.includeApplications = 0;
  HWND dialog = nullptr, viewer = nullptr;
  std::string page0, page2;
  RECT closeBefore = {}, closeAfter = {};
  Script script;
  script.add([&] {
    dialog = threadWindow(u"Report options");
    if (!dialog || !GetDlgItem(dialog, IDC_REPORT_VIEW)) return false;
    // From the snapshot list: the sections, no view range.
    EXPECT_TRUE(shown(dialog, IDC_REPORT_REGISTRY));
    EXPECT_FALSE(shown(dialog, IDC_REPORT_RANGE_PATH));
    EXPECT_TRUE(isChecked(dialog, IDC_REPORT_SPLIT));
    shot(dialog, "report_options_list");
    press(dialog, IDC_REPORT_VIEW);
    return true;
  });
  script.add([&] {
    HWND v = threadWindow(u"Differences report");
    if (!v || document(v).find("</body></html>") == std::string::npos) return false;
    viewer = v;
    page0 = document(viewer);
    GetWindowRect(GetDlgItem(viewer, IDCANCEL), &closeBefore);
    shot(viewer, "report_viewer");
    // Another instance of the program in this folder: its start-up clearing and its own View
    // leave this report whole, and its View says it cannot write its report.
    settings.clearReportTempFolder();
    EXPECT_EQ(tmpFiles().size(), 4u);
    {
      ReportWriter other;
      std::string otherPath;
      ShellMessage message;
      DifferencesOptionsForm form(settings.report, kOriginSnapshotList, u"");
      EXPECT_FALSE(writeReportToView(&settings, &context, form.options(), &other, &otherPath, &message));
      EXPECT_NE(message.text.find("Cannot export to file [" + (home / "tmp")), std::string::npos)
          << message.text;
    }
    EXPECT_EQ(tmpFiles().size(), 4u) << "the other View left nothing of its own";
    // A click on the link of the third page.
    viewerBrowser(viewer)->navigate(u"about:blank#002");
    return true;
  });
  script.add([&] {
    std::string now = document(viewer);
    if (now == page0 || now.find("</body></html>") == std::string::npos) return false;
    page2 = now;
    SetWindowPos(viewer, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(GetDlgItem(viewer, IDCANCEL), &closeAfter);
    EXPECT_EQ(tmpFiles().size(), 4u);  // three pages and the index page while it is shown
    press(viewer, IDCANCEL);
    return true;
  });
  ASSERT_TRUE(script.run([&] {
    showDifferencesReportOptions(nullptr, &settings, &context, kOriginSnapshotList, u"");
  })) << "stopped at step " << script.reached();
  // Page 0 with link 1 marked in both bars; page 2 with link 3 marked and its own rows.
  EXPECT_EQ(countOf(page0, "<a href='#000' class=c>1</a>"), 2u) << page0.substr(0, 2000);
  EXPECT_EQ(countOf(page0, "<a href='#002'>3</a>"), 2u);
  EXPECT_NE(page0.find("Software\\Big\\K100000"), std::string::npos);
  EXPECT_EQ(countOf(page2, "<a href='#002' class=c>3</a>"), 2u) << page2.substr(0, 2000);
  EXPECT_EQ(page2.find("Software\\Big\\K100000<"), std::string::npos);
  EXPECT_NE(page2.find("f.txt"), std::string::npos) << "the files section is the last page";
  // Close followed the window's corner.
  EXPECT_GT(closeAfter.right, closeBefore.right);
  EXPECT_GT(closeAfter.bottom, closeBefore.bottom);
  // Closing the viewer removed the report.
  EXPECT_TRUE(tmpFiles().empty());
  EXPECT_EQ(settings.report.linesPerFile, 10000);
}

TEST_F(ReportDialogsGui, FromTheRegistryScreenTheReportHoldsTheCurrentKeyOnly) {
  REQUIRE_GUI();
  open(0);
  settings.report.split = 0;
  HWND dialog = nullptr;
  std::string page;
  Script script;
  script.add([&] {
    dialog = threadWindow(u"Report options");
    if (!dialog) return false;
    EXPECT_FALSE(shown(dialog, IDC_REPORT_REGISTRY));
    EXPECT_TRUE(shown(dialog, IDC_REPORT_LIMIT_BINARY));
    EXPECT_TRUE(enabled(dialog, IDC_REPORT_RANGE_PATH));
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_REPORT_PATH)), u"HKEY_LOCAL_MACHINE\\Software\\Test");
    EXPECT_FALSE(enabled(dialog, IDC_REPORT_LINES));
    // Nothing to report: Export and View wait for a kind of item.
    for (int id : {IDC_REPORT_ADDED, IDC_REPORT_MODIFIED, IDC_REPORT_DELETED}) press(dialog, id);
    return true;
  });
  script.add([&] {
    if (isChecked(dialog, IDC_REPORT_DELETED)) return false;
    EXPECT_FALSE(enabled(dialog, IDC_REPORT_VIEW));
    EXPECT_FALSE(enabled(dialog, IDC_REPORT_EXPORT));
    press(dialog, IDC_REPORT_MODIFIED);
    press(dialog, IDC_REPORT_RANGE_PATH);
    return true;
  });
  script.add([&] {
    if (!enabled(dialog, IDC_REPORT_VIEW) || !isChecked(dialog, IDC_REPORT_RANGE_PATH)) return false;
    shot(dialog, "report_options_registry");
    press(dialog, IDC_REPORT_VIEW);
    return true;
  });
  script.add([&] {
    HWND viewer = threadWindow(u"Differences report");
    if (!viewer || !GetDlgItem(viewer, IDC_VIEWER_BROWSER)) return false;
    page = document(viewer);
    if (page.find("</body></html>") == std::string::npos) return false;
    press(viewer, IDCANCEL);
    return true;
  });
  ASSERT_TRUE(script.run([&] {
    showDifferencesReportOptions(nullptr, &settings, &context, kSectionRegistry,
                                 u"HKEY_LOCAL_MACHINE\\Software\\Test");
  })) << "stopped at step " << script.reached();
  EXPECT_NE(page.find("Software\\Test"), std::string::npos) << page;
  EXPECT_EQ(page.find("TestOld"), std::string::npos);
  EXPECT_EQ(page.find("f.txt"), std::string::npos);
  EXPECT_TRUE(tmpFiles().empty());
  EXPECT_EQ(settings.report.currentPathOnly, 1);
  EXPECT_EQ(settings.report.includeAdded, 0);
}

TEST_F(ReportDialogsGui, AReportThatCannotBeWrittenEndsInTheErrorAndLeavesNothing) {
  REQUIRE_GUI();
  open(0);
  // A file stands where the report folder goes.
  ASSERT_TRUE(writeText(home / "tmp", "not a folder"));
  std::u16string said;
  Script script;
  script.add([&] {
    HWND dialog = threadWindow(u"Report options");
    if (!dialog) return false;
    shot(dialog, "report_options_applications");
    press(dialog, IDC_REPORT_VIEW);
    return true;
  });
  script.add([&] {
    HWND box = openMessageBox();
    if (!box) return false;
    said = windowText(GetDlgItem(box, 10001));
    press(box, 20003);
    return true;
  });
  ASSERT_TRUE(script.run([&] {
    showDifferencesReportOptions(nullptr, &settings, &context, kSectionApps, u"");
  })) << "stopped at step " << script.reached();
  EXPECT_EQ(said.rfind(u"Cannot export to file [", 0), 0u) << toUtf8(said);
  EXPECT_EQ(readText(home / "tmp"), "not a folder");
}

TEST_F(ReportDialogsGui, SnapshotExportWritesPagesWhereTheFormSays) {
  REQUIRE_GUI();
  open(6000);
  ComparisonContext one;
  ASSERT_TRUE(one.openFiles(dir / "b.snp", std::string(), kModeView, true));
  TempFolder out;
  settings.report.exportFolder = withSeparator(out.str());
  std::u16string said;
  Script script;
  script.add([&] {
    HWND dialog = threadWindow(u"Export to HTML");
    if (!dialog) return false;
    EXPECT_EQ(toUtf8(windowText(GetDlgItem(dialog, IDC_EXPORT_FOLDER))), withSeparator(out.str()));
    SetDlgItemTextW(dialog, IDC_EXPORT_NAME, L"weekly");
    SetDlgItemTextW(dialog, IDC_EXPORT_LINES, L"500");  // raised to 10000
    shot(dialog, "snapshot_export");
    press(dialog, IDOK);
    return true;
  });
  script.add([&] {
    HWND box = openMessageBox();
    if (!box) return false;
    said = windowText(GetDlgItem(box, 10001));
    press(box, 20003);
    return true;
  });
  ASSERT_TRUE(script.run([&] { showSnapshotExport(nullptr, &settings, &one); }))
      << "stopped at step " << script.reached();
  EXPECT_EQ(toUtf8(said), "Export done: " + (out / "weekly.htm"));
  EXPECT_TRUE(fileExists(out / "weekly_000.htm"));
  EXPECT_TRUE(fileExists(out / "weekly_001.htm"));
  EXPECT_NE(readText(out / "weekly.htm").find("Go to page: "), std::string::npos);
  EXPECT_EQ(settings.report.exportName, "weekly");
  EXPECT_EQ(settings.report.linesPerFile, 500);  // kept as typed
}

}  // namespace
}  // namespace keldrun
