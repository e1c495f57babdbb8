// The report dialogs' models over real settings files and real snapshots, and what the report
// viewer and the help pages write into their browsers.
#include "shell/report_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "base/text_table.h"
#include "reports/report_rows.h"
#include "reports/report_viewer.h"
#include "tests/report_support.h"

namespace keldrun {
namespace {

using namespace report_testing;

TEST(DifferencesOptionsFormTest, LayoutFollowsTheOrigin) {
  struct Case {
    int origin;
    std::u16string prefix;
    bool sections, dataSize, range, onlyPath;
    int rangeUp, lowerUp, narrower;
  } cases[] = {
      {kOriginSnapshotList, u"", true, true, false, false, 0, 70, 0},
      {kSectionRegistry, u"HKEY_CURRENT_USER\\Software", false, true, true, true, 0, 0, 0},
      {kSectionRegistry, u"", false, true, true, false, 0, 0, 0},
      {kSectionFiles, u"C:\\Work", false, false, true, true, 80, 80, 0},
      {kSectionApps, u"", false, false, false, false, 80, 150, 100},
  };
  Settings::Report stored;
  for (const Case& c : cases) {
    DifferencesOptionsForm form(stored, c.origin, c.prefix);
    DifferencesOptionsForm::Layout l = form.layout();
    SCOPED_TRACE(c.origin);
    EXPECT_EQ(l.sectionsShown, c.sections);
    EXPECT_EQ(l.dataSizeShown, c.dataSize);
    EXPECT_EQ(l.rangeShown, c.range);
    EXPECT_EQ(l.onlyPathEnabled, c.onlyPath);
    EXPECT_EQ(l.rangeUp, c.rangeUp);
    EXPECT_EQ(l.lowerUp, c.lowerUp);
    EXPECT_EQ(l.narrower, c.narrower);
  }
}

TEST(DifferencesOptionsFormTest, EnablingFollowsTheCheckBoxes) {
  Settings::Report stored;
  DifferencesOptionsForm list(stored, kOriginSnapshotList, u"");
  EXPECT_TRUE(list.canGenerate());
  list.added = list.modified = list.deleted = false;
  EXPECT_FALSE(list.canGenerate());
  list.deleted = true;
  EXPECT_TRUE(list.canGenerate());
  list.sections[0] = list.sections[1] = list.sections[2] = false;
  EXPECT_FALSE(list.canGenerate());
  // From a screen its own section is the report's, whatever the hidden boxes hold.
  stored.includeRegistry = stored.includeFiles = stored.includeApplications = 0;
  DifferencesOptionsForm screen(stored, kSectionFiles, u"C:\\Work");
  EXPECT_TRUE(screen.canGenerate());
  screen.limitBinary = false;
  screen.split = false;
  EXPECT_FALSE(screen.binaryFieldEnabled());
  EXPECT_FALSE(screen.linesFieldEnabled());
  EXPECT_TRUE(screen.stringFieldEnabled());
}

// What one dialog stores, the settings file keeps, and the next dialog shows.
TEST(DifferencesOptionsFormTest, OptionsSurviveTheSettingsFile) {
  TempFolder dir;
  {
    Settings settings(dir.str());
    DifferencesOptionsForm form(settings.report, kOriginSnapshotList, u"");
    form.binaryText = "64";
    form.stringText = "";
    form.limitString = false;
    form.modified = false;
    form.sections[kSectionFiles] = false;
    form.linesText = "500";  // below the smallest page
    form.onlyPath = true;    // not offered from the list: not kept
    form.store(&settings.report);
    ASSERT_TRUE(settings.save());
  }
  Settings settings(dir.str());
  ASSERT_TRUE(settings.load());
  const Settings::Report& r = settings.report;
  EXPECT_EQ(r.binaryLimit, 64);
  EXPECT_EQ(r.stringLimit, 0);
  EXPECT_EQ(r.limitString, 0);
  EXPECT_EQ(r.includeModified, 0);
  EXPECT_EQ(r.includeAdded, 1);
  EXPECT_EQ(r.includeFiles, 0);
  EXPECT_EQ(r.includeRegistry, 1);
  EXPECT_EQ(r.linesPerFile, kMinLinesPerFile);
  EXPECT_EQ(r.currentPathOnly, 0);
  int32_t raw = 0;
  ASSERT_TRUE(settings.getInt("te11", &raw));
  EXPECT_EQ(raw, 0);
  ASSERT_TRUE(settings.getInt("teh4", &raw));
  EXPECT_EQ(raw, kMinLinesPerFile);

  // From a screen: the range is kept, the sections (hidden there) are not touched.
  DifferencesOptionsForm screen(settings.report, kSectionRegistry, u"HKEY_LOCAL_MACHINE\\Software");
  EXPECT_EQ(screen.binaryText, "64");
  EXPECT_FALSE(screen.modified);
  EXPECT_FALSE(screen.onlyPath);
  screen.onlyPath = true;
  screen.store(&settings.report);
  ASSERT_TRUE(settings.save());
  Settings again(dir.str());
  ASSERT_TRUE(again.load());
  EXPECT_EQ(again.report.currentPathOnly, 1);
  EXPECT_EQ(again.report.includeFiles, 0);
  EXPECT_TRUE(DifferencesOptionsForm(again.report, kSectionFiles, u"C:\\x").onlyPath);
  // Without a path the choice is "all", and the kept choice stays for the next time.
  DifferencesOptionsForm noPath(again.report, kSectionFiles, u"");
  EXPECT_FALSE(noPath.onlyPath);
  noPath.store(&again.report);
  EXPECT_EQ(again.report.currentPathOnly, 1);
}

TEST(DifferencesOptionsFormTest, FieldNumbers) {
  EXPECT_EQ(fieldNumber(""), 0);
  EXPECT_EQ(fieldNumber("300"), 300);
  EXPECT_EQ(fieldNumber("12ab"), 12);
  EXPECT_EQ(fieldNumber("-5"), 0);
  EXPECT_EQ(fieldNumber("99999999999999"), INT32_MAX);
}

// Two snapshots of a registry with changes under two keys, one of them below the other's name
// ("Software\Test" and "Software\TestOld").
class OptionsReportTest : public ::testing::Test {
 protected:
  static SnapSpec spec(bool newer) {
    auto r = MemoryRegistry::create();
    r->setValue(kHiveLocalMachine, u"Software\\Test", u"v", kRegSz, utf16(newer ? u"2" : u"1"));
    r->setValue(kHiveLocalMachine, u"Software\\Test\\Deep", u"d", kRegSz, utf16(newer ? u"b" : u"a"));
    r->setValue(kHiveLocalMachine, u"Software\\TestOld", u"w", kRegSz, utf16(newer ? u"y" : u"x"));
    if (newer) r->setValue(kHiveLocalMachine, u"Software\\Other", u"o", kRegSz, utf16(u"o"));
    SnapSpec s;
    s.name = newer ? "after" : "before";
    s.registry = r;
    s.drives = {{u"c:\\", {{u"Work", {}, {{u"f.txt", newer ? 2u : 1u, 1}}}}, {}}};
    return s;
  }
  void SetUp() override {
    ASSERT_TRUE(writeSnapshot(dir / "a.snp", spec(false)));
    ASSERT_TRUE(writeSnapshot(dir / "b.snp", spec(true)));
    ASSERT_TRUE(context.openFiles(dir / "a.snp", dir / "b.snp", kModeCompare, false));
  }
  std::string report(const DifferencesOptionsForm& form) {
    ReportWriter w;
    std::string message;
    EXPECT_TRUE(generateDifferencesReport(&context, form.options(), dir / "r.htm", &w, &message)) << message;
    return readUtf16(dir / "r.htm");
  }
  TempFolder dir;
  ComparisonContext context;
  Settings::Report stored;
};

TEST_F(OptionsReportTest, RegistryScreenWithItsKeyReportsThatKeyOnly) {
  DifferencesOptionsForm form(stored, kSectionRegistry, u"hkey_local_machine\\SOFTWARE\\test");
  form.onlyPath = true;
  std::string page = report(form);
  EXPECT_NE(page.find("HKEY_LOCAL_MACHINE\\Software\\Test<"), std::string::npos) << page;
  EXPECT_NE(page.find("HKEY_LOCAL_MACHINE\\Software\\Test\\Deep"), std::string::npos);
  EXPECT_EQ(page.find("TestOld"), std::string::npos);
  EXPECT_EQ(page.find("Other"), std::string::npos);
  EXPECT_EQ(page.find("f.txt"), std::string::npos) << "the screen's section only";
  // "All" reports every key of the section.
  form.onlyPath = false;
  page = report(form);
  EXPECT_NE(page.find("TestOld"), std::string::npos);
  EXPECT_NE(page.find("Other"), std::string::npos);
}

TEST_F(OptionsReportTest, SnapshotListReportsTheCheckedSectionsWithoutAPath) {
  stored.includeRegistry = 0;
  stored.currentPathOnly = 1;
  DifferencesOptionsForm form(stored, kOriginSnapshotList, u"");
  std::string page = report(form);
  EXPECT_EQ(page.find("Software"), std::string::npos);
  EXPECT_NE(page.find("f.txt"), std::string::npos);
}

TEST(SnapshotExportFormTest, FolderNameAndPageLimit) {
  Settings::Report stored;
  SnapshotExportForm form(stored, "/home/u/Documents");
  EXPECT_EQ(form.folder, std::string("/home/u/Documents") + pathSeparator());
  EXPECT_EQ(form.name, "export");
  EXPECT_EQ(form.reportPath(), form.folder + "export.htm");
  EXPECT_EQ(form.pageLimit(), 30000);
  struct Case {
    bool split;
    const char* lines;
    int limit;
  } cases[] = {{true, "0", 0}, {true, "", 0}, {true, "1", 10000}, {true, "9999", 10000},
               {true, "10001", 10001}, {false, "20000", 0}};
  for (const Case& c : cases) {
    form.split = c.split;
    form.linesText = c.lines;
    EXPECT_EQ(form.pageLimit(), c.limit) << c.lines;
  }
  // The lines are kept as typed, not raised; a stored folder wins over the documents folder.
  form.linesText = "500";
  form.folder = "D:\\Reports";  // no trailing backslash: the report still goes inside it
  form.name = "weekly";
  form.openAfter = true;
  EXPECT_EQ(form.reportPath(), std::string("D:\\Reports") + pathSeparator() + "weekly.htm");
  EXPECT_EQ(exportDoneMessage(form.reportPath()), "Export done: " + form.reportPath());
  form.store(&stored);
  EXPECT_EQ(stored.linesPerFile, 500);
  EXPECT_EQ(stored.openAfterExport, 1);
  SnapshotExportForm next(stored, "/home/u/Documents");
  EXPECT_EQ(next.folder, "D:\\Reports");
  EXPECT_EQ(next.name, "weekly");
  EXPECT_EQ(next.linesText, "500");
  EXPECT_TRUE(next.openAfter);
  EXPECT_EQ(SnapshotExportForm::chosenFolder("C:\\x"), std::string("C:\\x") + pathSeparator());
  EXPECT_EQ(SnapshotExportForm::chosenFolder("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(SnapshotExportForm::chosenFolder("/x/"), "/x/");
}

// The export dialog saves its options at once, over the catalog as another process left it.
TEST(SnapshotExportFormTest, KeptOptionsKeepTheOtherProcessesSnapshots) {
  TempFolder dir;
  Settings program(dir.str());
  program.ensureLoaded();
  {
    Settings other(dir.str());  // the command line, say, adds a snapshot meanwhile
    other.ensureLoaded();
    testing_support::addSnapshotTo(&other, 1, "taken elsewhere");
    ASSERT_TRUE(other.save());
  }
  SnapshotExportForm form(program.report, "/docs");
  form.name = "weekly";
  form.store(&program.report);
  ASSERT_TRUE(keepReportOptions(&program));
  Settings reread(dir.str());
  ASSERT_TRUE(reread.load());
  EXPECT_EQ(reread.report.exportName, "weekly");
  ASSERT_EQ(reread.catalog().count(), 1u);
  EXPECT_EQ(reread.catalog().record(0).name, "taken elsewhere");
}

// ---- the viewer and the help pages ----

void heading(ReportWriter* w, const std::string& text) {
  w->countRow(true);
  w->writeAscii("<tr><td>H " + text);
}

// A report of three pages: the registry on pages 0 and 1, the files on page 2.
class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writer.open(dir / "export.htm", 2));
    writer.beginSection(kSectionRegistry, reportSectionRows(kSectionRegistry, kReportDifferences));
    heading(&writer, "r1");
    heading(&writer, "r2");  // reaches the limit: page 1
    writer.beginSection(kSectionFiles, reportSectionRows(kSectionFiles, kReportDifferences));
    heading(&writer, "f1");
    ASSERT_TRUE(writer.finish());
    ASSERT_EQ(writer.lastPageIndex(), 2);
  }
  TempFolder dir;
  ReportWriter writer;
};

TEST_F(ViewerTest, PageBetweenTwoLinkBarsMarksItsLink) {
  ViewerDocument doc;
  ASSERT_TRUE(viewerDocument(writer, 2, &doc));
  const std::string bar = "Go to page: <a href='#000'>1</a> <a href='#001'>2</a>  | "
                          "<a href='#002' class=c>3</a> </div>";
  EXPECT_NE(doc.before.find(bar), std::string::npos) << doc.before;
  EXPECT_NE(doc.after.find(bar), std::string::npos) << doc.after;
  EXPECT_EQ(doc.before.find("$"), std::string::npos);
  EXPECT_EQ(doc.after.find("$"), std::string::npos);
  // The page file's bytes, its mark included, as UTF-16.
  std::string bytes = readText(writer.pageFileName(2));
  std::u16string content;
  for (const std::u16string& c : doc.chunks) content += c;
  ASSERT_EQ(content.size() * 2, bytes.size());
  EXPECT_EQ(content[0], u'\xFEFF');
  EXPECT_NE(toUtf8(content).find("H f1"), std::string::npos);
  EXPECT_EQ(toUtf8(content).find("H r"), std::string::npos);
}

TEST_F(ViewerTest, LargePageComesInEvenChunks) {
  // A page larger than two chunks, with a character above 255 across a chunk border.
  std::u16string page = u"\xFEFF";
  while (page.size() * 2 < 2 * kViewerChunkBytes + 100) page += u"\x0416x";
  ASSERT_TRUE(testing_support::writeText(writer.pageFileName(1), testing_support::utf16File(page.substr(1))));
  ViewerDocument doc;
  ASSERT_TRUE(viewerDocument(writer, 1, &doc));
  ASSERT_EQ(doc.chunks.size(), 3u);
  EXPECT_EQ(doc.chunks[0].size() * 2, kViewerChunkBytes);
  std::u16string joined = doc.chunks[0] + doc.chunks[1] + doc.chunks[2];
  EXPECT_EQ(joined, page);
}

TEST_F(ViewerTest, MissingPageLeavesTheBarsAroundNothing) {
  ASSERT_TRUE(removeFile(writer.pageFileName(1)));
  ViewerDocument doc;
  ASSERT_TRUE(viewerDocument(writer, 1, &doc));
  EXPECT_TRUE(doc.chunks.empty());
  EXPECT_NE(doc.before.find("<a href='#001' class=c>2</a>"), std::string::npos);
}

TEST(ViewerLinkTest, PageOfLink) {
  struct Case {
    std::u16string url;
    int page;
  } cases[] = {
      {u"about:blank#003", 3}, {u"#000", 0},         {u"x#  12y#5", 12}, {u"#", 0},
      {u"#abc", 0},            {u"no hash", -1},     {u"", -1},
      {u"#99999999999999", 2147483647},
  };
  for (const Case& c : cases) EXPECT_EQ(pageOfLink(c.url), c.page) << toUtf8(c.url);
}

TEST(HelpPageTest, ImagesAndVersionAreFilledIn) {
  const std::string exe = "C:\\Program Files\\Keldrun\\Keldrun.exe";
  std::string about = helpPage(kTextAboutPage, exe);
  EXPECT_NE(about.find("src=\"res://C:\\Program Files\\Keldrun\\Keldrun.exe/img/138\""), std::string::npos) << about;
  EXPECT_NE(about.find("src=\"res://C:\\Program Files\\Keldrun\\Keldrun.exe/img/139\""), std::string::npos);
  EXPECT_EQ(about.find(".gif"), std::string::npos);
  EXPECT_EQ(about.find("$ver$"), std::string::npos);
  EXPECT_NE(about.find("Version 1.6<"), std::string::npos);
  // The how-to page is help on every task, the command line included.
  std::string howTo = helpPage(kTextHowToPage, exe);
  for (const char* topic : {"Take snapshot", "Compare", "Search", "Differences list", "Export to HTML",
                            "Export snapshots", "Import snapshots", "keldrun"}) {
    EXPECT_NE(howTo.find(topic), std::string::npos) << topic;
  }
}

}  // namespace
}  // namespace keldrun
