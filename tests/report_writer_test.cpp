// The report writer, the report rows and the report generation, on real files and snapshots.
#include "reports/report_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text_table.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"
#include "reports/export_damage.h"
#include "reports/reg_export.h"
#include "reports/report_generation.h"
#include "reports/report_rows.h"
#include "tests/report_support.h"
#include "views/screen_model.h"

namespace keldrun {
namespace {

using namespace report_testing;

const char kPageEnd[] = "</table><br></body></html>";

// A heading row or an item row, counted as the views count them.
void heading(ReportWriter* w, const std::string& text) {
  w->countRow(true);
  w->writeAscii("<tr><td>H " + text);
}
void item(ReportWriter* w, const std::string& text) {
  w->countRow(false);
  w->writeAscii("<tr><td>I " + text);
}
// Starts a section with the title, header and row writers of the report rows.
void begin(ReportWriter* w, int section, int mode = kReportDifferences) {
  w->beginSection(section, reportSectionRows(section, mode));
}

TEST(ReportWriterTest, UnsplitReportIsOneFileWithTitleAndClosingMarkup) {
  TempFolder dir;
  std::string path = dir / "export.htm";
  {
    ReportWriter w;
    w.setSource(nullptr);
    ASSERT_TRUE(w.open(path, 0));
    begin(&w, kSectionRegistry, kReportData);
    for (int i = 0; i < 25000; i++) heading(&w, std::to_string(i));
    EXPECT_TRUE(w.finish());
    EXPECT_EQ(w.lastPageIndex(), 0);
  }
  EXPECT_EQ(dir.names(), std::vector<std::string>{"export.htm"});
  std::string page = readUtf16(path);
  EXPECT_EQ(page.find("<html><head><META http-equiv=Content-Type content='text/html; charset=unicode'>"), 0u);
  EXPECT_NE(page.find("<title>Keldrun export</title></head><body>"), std::string::npos);
  EXPECT_NE(page.find("<div id=tit>Registry data - $snap_name$</div><br><table"), std::string::npos);
  EXPECT_EQ(page.substr(page.size() - sizeof kPageEnd + 1), kPageEnd);
  EXPECT_EQ(countOf(page, "<tr><td>H "), 25000u);
}

TEST(ReportWriterTest, SplitReportMovesFirstPageAndWritesIndex) {
  TempFolder dir;
  std::string path = dir / "export.htm";
  ReportWriter w;
  w.setSource(nullptr);
  ASSERT_TRUE(w.open(path, 3));
  begin(&w, kSectionRegistry);
  // Group 1 reaches the limit inside itself: its rows stay on page 0.
  heading(&w, "g1");
  for (int i = 0; i < 5; i++) item(&w, "g1." + std::to_string(i));
  heading(&w, "g2");  // opens page 1
  item(&w, "g2.0");
  EXPECT_TRUE(w.finish());
  EXPECT_EQ(w.lastPageIndex(), 1);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"export.htm", "export_000.htm", "export_001.htm"}));
  EXPECT_EQ(w.pageFileName(1), dir / "export_001.htm");

  std::string p0 = readUtf16(dir / "export_000.htm");
  std::string p1 = readUtf16(dir / "export_001.htm");
  EXPECT_EQ(countOf(p0, "I g1."), 5u);
  EXPECT_EQ(p0.find("g2"), std::string::npos);
  EXPECT_NE(p0.find("<title>Keldrun export</title>"), std::string::npos);
  EXPECT_NE(p1.find("<title></title>"), std::string::npos);
  // The continuation page repeats the header row but not the title.
  std::string header = reportSectionRows(kSectionRegistry, kReportDifferences).header;
  EXPECT_NE(p1.find("<body>" + header + "<tr><td>H g2<tr><td>I g2.0" + kPageEnd), std::string::npos);
  EXPECT_EQ(p1.find("id=tit"), std::string::npos);

  std::string index = readText(path);
  EXPECT_EQ(index.find('\r'), std::string::npos);
  EXPECT_NE(index.find("Go to page: \n<a href='#' id=a0 onclick=\"return go('000',this)\" class=c>1</a> "
                       "<a href='#' id=a1 onclick=\"return go('001',this)\">2</a> \n"),
            std::string::npos);
  EXPECT_NE(index.find("src='export_000.htm'"), std::string::npos);
  EXPECT_NE(index.find("document.getElementById('f').src='export_'+x+'.htm';"), std::string::npos);
  EXPECT_EQ(index.find("$"), std::string::npos);
  EXPECT_EQ(w.pageLinks(1, LinkForm::kViewer), "<a href='#000'>1</a> <a href='#001' class=c>2</a> ");
}

TEST(ReportWriterTest, SectionsAfterASplitStartOnNewPagesBehindSeparators) {
  TempFolder dir;
  ReportWriter w;
  w.setSource(nullptr);
  ASSERT_TRUE(w.open(dir / "r.htm", 2));
  begin(&w, kSectionRegistry);
  for (int i = 0; i < 3; i++) heading(&w, "k" + std::to_string(i));  // pages 0 and 1
  begin(&w, kSectionFiles);    // page 2
  heading(&w, "f");
  begin(&w, kSectionApps);     // page 3
  heading(&w, "a");
  EXPECT_TRUE(w.finish());
  EXPECT_EQ(w.lastPageIndex(), 3);
  std::string links = w.pageLinks(0, LinkForm::kViewer);
  EXPECT_EQ(links, "<a href='#000' class=c>1</a> <a href='#001'>2</a>  | <a href='#002'>3</a>  | "
                   "<a href='#003'>4</a> ");
  std::string p2 = readUtf16(dir / "r_002.htm");
  EXPECT_NE(p2.find("<div id=tit>Files and folders differences: $pg_title$</div><br>"), std::string::npos);
}

TEST(ReportWriterTest, SectionsOnTheFirstPageFollowEachOther) {
  TempFolder dir;
  ReportWriter w;
  w.setSource(nullptr);
  ASSERT_TRUE(w.open(dir / "r.htm", 100));
  begin(&w, kSectionFiles, kReportData);
  heading(&w, "f");
  begin(&w, kSectionApps, kReportData);
  heading(&w, "a");
  EXPECT_TRUE(w.finish());
  EXPECT_EQ(w.lastPageIndex(), 0);
  EXPECT_EQ(w.pageLinks(0, LinkForm::kViewer), " | <a href='#000' class=c>1</a> ");
  std::string page = readUtf16(dir / "r.htm");
  EXPECT_NE(page.find("<tr><td>H f</table><br><div id=tit>Applications data"), std::string::npos);
}

TEST(ReportWriterTest, HtmlPathKeepsItsDotInPageNames) {
  TempFolder dir;
  ReportWriter w;
  ASSERT_TRUE(w.open(dir / "rep.html", 10000));
  EXPECT_EQ(w.pageFileName(7), dir / "rep._007.htm");
  EXPECT_EQ(w.pageFileName(1234), dir / "rep._1234.htm");
}

TEST(ReportWriterTest, IndexPageCarriesAwkwardFileNamesSafely) {
#ifdef _WIN32
  GTEST_SKIP() << "'<' cannot stand in a Windows file name";
#endif
  TempFolder dir;
  ReportWriter w;
  ASSERT_TRUE(w.open(dir / "it's a <x>.htm", 1));
  begin(&w, kSectionRegistry);
  heading(&w, "1");
  heading(&w, "2");
  EXPECT_TRUE(w.finish());
  std::string index = readText(dir / "it's a <x>.htm");
  EXPECT_NE(index.find("src='it%27s%20a%20%3Cx%3E_000.htm'"), std::string::npos);
  // A heading that reaches the limit goes to the next page: "1" on page 1, "2" on page 2.
  EXPECT_NE(readUtf16(dir / "it's a <x>_002.htm").find("H 2"), std::string::npos);
}

TEST(ReportWriterTest, EscapeHtml) {
  struct Case {
    std::u16string in, out;
  } cases[] = {
      {u"", u""},
      {u"plain > \"quoted\" 'x'", u"plain > \"quoted\" 'x'"},
      {u"<script>", u"&lt;script>"},
      {u"a&b", u"a&amp;b"},
      {u"&lt;", u"&amp;lt;"},
      {u"<<&&", u"&lt;&lt;&amp;&amp;"},
      {std::u16string(u"x\0<y", 4), std::u16string(u"x\0&lt;y", 7)},
  };
  for (const Case& c : cases) {
    std::u16string buffer;
    const std::u16string& r = ReportWriter::escapeHtml(c.in, &buffer);
    EXPECT_EQ(r, c.out) << toUtf8(c.in);
    if (c.in == c.out) {
      EXPECT_EQ(&r, &c.in) << "text without < or & is not copied";
    }
  }
}

TEST(ReportWriterTest, OpenFailsWhenTheFileCannotBeCreated) {
  TempFolder dir;
  ReportWriter w;
  EXPECT_FALSE(w.open(dir / "missing/r.htm", 0));
  begin(&w, kSectionRegistry);  // writes nothing, does not crash
  EXPECT_FALSE(w.finish());
  EXPECT_EQ(dir.names(), std::vector<std::string>{});
}

TEST(ReportWriterTest, UnfinishedReportIsClosedByTheDestructor) {
  TempFolder dir;
  {
    ReportWriter w;
    ASSERT_TRUE(w.open(dir / "r.htm", 1));
    begin(&w, kSectionRegistry);
    heading(&w, "1");
    heading(&w, "2");
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"r.htm", "r_001.htm", "r_002.htm"}));
  std::string page = readUtf16(dir / "r_002.htm");
  EXPECT_EQ(page.substr(page.size() - sizeof kPageEnd + 1), kPageEnd);
}

// Two snapshots that differ in every way a report shows, with hostile names.
class ReportGenerationTest : public ::testing::Test {
 protected:
  static std::shared_ptr<MemoryRegistry> registry(bool newer) {
    auto r = MemoryRegistry::create();
    const std::u16string key = u"Software\\Test";
    r->setValue(kHiveLocalMachine, key, u"same", kRegSz, utf16(u"unchanged"));
    r->setValue(kHiveLocalMachine, key, u"<b>name</b>", kRegSz, utf16(newer ? u"new <script>" : u"old & gone"));
    if (!newer) r->setValue(kHiveLocalMachine, key, u"deleted", kRegDword, {1, 0, 0, 0});
    if (newer) r->setValue(kHiveLocalMachine, key, u"added", kRegBinary, std::vector<uint8_t>(200, 0xAB));
    r->setValue(kHiveLocalMachine, key + u"\\Sub&Key", u"v", kRegSz, utf16(u"x"));
    if (newer) r->createKey(kHiveLocalMachine, key + u"\\NewEmpty");
    // Walked before Software\Test: an added group outside a prefix on Software\Test.
    if (newer) r->setValue(kHiveLocalMachine, u"Software\\Aaa", u"a", kRegSz, utf16(u"a"));
    r->setValue(kHiveLocalMachine, u"Software\\TestOld", u"v", kRegSz, utf16(newer ? u"2" : u"1"));
    return r;
  }
  static SnapSpec spec(bool newer) {
    SnapSpec s;
    s.name = newer ? "after <i>" : "before & x";
    s.registry = registry(newer);
    DirSpec c{u"c:\\", {}, {}};
    DirSpec docs{u"A&B <docs>", {}, {{u"same.txt", 10, 1}, {u"<img src=x>.txt", newer ? 20u : 10u, 1234567}}};
    if (newer) docs.files.push_back({u"new&file", 1, 5});
    c.dirs.push_back(docs);
    s.drives.push_back(c);
    AppRecord svc;
    svc.kind = kAppService;
    svc.name = u"<svc>";
    svc.company = u"Evil & Co";
    svc.file = u"c:\\x.exe";
    svc.startType = kStartAuto;
    svc.state = newer ? kStateRunning : kStateStopped;
    svc.size = 4096;
    s.apps = {{u"Startup", {}}, {u"Services", {svc}}, {u"Drivers", {}}};
    return s;
  }
  void SetUp() override {
    ASSERT_TRUE(writeSnapshot(dir_ / "a.snp", spec(false)));
    ASSERT_TRUE(writeSnapshot(dir_ / "b.snp", spec(true)));
    ASSERT_TRUE(context_.openFiles(dir_ / "a.snp", dir_ / "b.snp", kModeCompare, false));
  }
  std::string differences(const DifferencesReportOptions& options, const std::string& name = "d.htm") {
    ReportWriter w;
    std::string message;
    EXPECT_TRUE(generateDifferencesReport(&context_, options, dir_ / name, &w, &message)) << message;
    return readUtf16(dir_ / name);
  }
  // The cell of the added binary value's data.
  static std::string addedData(const std::string& page) {
    const std::string row = "<tr id=c2><td>added<td>REG_BINARY<td>";
    size_t at = page.find(row);
    if (at == std::string::npos) return "(no added value)";
    at += row.size();
    return page.substr(at, page.find("<td>", at) - at);
  }

  TempFolder dir_;
  ComparisonContext context_;
};

TEST_F(ReportGenerationTest, DifferencesReportRowsStatesAndEscaping) {
  DifferencesReportOptions options;
  options.split = false;
  std::string page = differences(options);
  const char* expected[] = {
      "<div id=tit>Registry differences: before &amp; x vs after &lt;i></div><br>",
      "<col width='55%'><col width='40px' align=center><tr><td id=h>Name<td id=h>Type<td id=h>Value<td id=h>Info",
      "<tr id=c1><td colspan=3 id=h>HKEY_LOCAL_MACHINE\\Software\\Test<td id=h>mod",
      "<tr id=c1><td>&lt;b>name&lt;/b><td>REG_SZ<td>old &amp; gone<td>old",
      "<tr id=c1><td>&lt;b>name&lt;/b><td>REG_SZ<td>new &lt;script><td>new",
      "<tr id=c2><td>added<td>REG_BINARY<td>",
      "<tr id=c3><td>deleted<td>REG_DWORD<td>",
      "<tr id=c2><td colspan=3 id=h>HKEY_LOCAL_MACHINE\\Software\\Test\\NewEmpty<td id=h>add",
      "<div id=tit>Files and folders differences: ",
      "<tr id=c1><td colspan=3 id=h>c:\\A&amp;B &lt;docs><td id=h>mod",
      "<tr id=c1><td>&lt;img src=x>.txt<td>",
      "<td>1,234,567<td>new",
      "<tr id=c2><td>new&amp;file<td>",
      "<tr id=c1><td colspan=8 id=h>Services<td id=h>mod",
      "<tr id=c1><td>&lt;svc><td><td>Evil &amp; Co<td><td>Auto<td>c:\\x.exe<td>",
      "<td>Run<td>Auto<td>c:\\x.exe",
  };
  for (const char* e : expected) EXPECT_NE(page.find(e), std::string::npos) << e;
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("<svc"), std::string::npos);
  EXPECT_EQ(page.find("same.txt"), std::string::npos) << "unchanged items are not written";
  EXPECT_EQ(page.find("Sub&"), std::string::npos) << "unchanged keys are not written";
  // Binary data is cut to the 50-byte default.
  size_t at = page.find("<tr id=c2><td>added<td>REG_BINARY<td>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(countOf(page.substr(at, page.find("<tr", at + 5) - at), "ab"), 50u);
}

// Each report shows values within its own options' limits, whatever reports came before it in
// the process; a data report shows them whole.
// Keys, values and files on the noise list leave the report, each section saying how many; the
// applications are never hidden.
TEST_F(ReportGenerationTest, NoiseLeavesTheReportAndIsCountedPerSection) {
  context_.setNoise(std::make_shared<NoiseMatcher>(std::vector<std::u16string>{
      u"HKEY_LOCAL_MACHINE\\Software\\Test\\added", u"HKEY_LOCAL_MACHINE\\Software\\Test\\NewEmpty",
      u"c:\\A&B <docs>\\*.txt", u"Services"}));
  DifferencesReportOptions options;
  options.split = false;
  std::string page = differences(options);
  EXPECT_EQ(page.find(">added<"), std::string::npos);
  EXPECT_EQ(page.find("NewEmpty"), std::string::npos);
  EXPECT_EQ(page.find("src=x"), std::string::npos);
  EXPECT_NE(page.find("<tr id=c3><td>deleted<td>REG_DWORD<td>"), std::string::npos);
  EXPECT_NE(page.find("<tr id=c2><td>new&amp;file<td>"), std::string::npos);
  EXPECT_NE(page.find("<tr id=c1><td colspan=8 id=h>Services<td id=h>mod"), std::string::npos);
  EXPECT_NE(page.find("<td colspan=4>2 differences hidden as noise"), std::string::npos) << page;
  EXPECT_NE(page.find("<td colspan=4>1 difference hidden as noise"), std::string::npos) << page;

  context_.setShowNoise(true);
  page = differences(options, "all.htm");
  EXPECT_NE(page.find("<tr id=c2><td>added<td>REG_BINARY<td>"), std::string::npos);
  EXPECT_NE(page.find("NewEmpty"), std::string::npos);
  EXPECT_EQ(page.find("hidden as noise"), std::string::npos);
  context_.setShowNoise(false);

  // Only noise in a group: no heading for it.
  context_.setNoise(std::make_shared<NoiseMatcher>(std::vector<std::u16string>{u"c:\\A&B <docs>"}));
  page = differences(options, "e.htm");
  EXPECT_EQ(page.find("A&amp;B"), std::string::npos) << page;
}

TEST_F(ReportGenerationTest, EachReportKeepsItsOwnDisplayLimits) {
  DifferencesReportOptions tight;
  tight.split = false;
  tight.binaryLimit = 3;
  tight.stringLimit = 3;
  DifferencesReportOptions loose = tight;
  loose.limitBinary = false;
  loose.stringLimit = 300;
  DifferencesReportOptions unset = tight;
  unset.limitString = false;
  const std::string tightBinary = "ab ab ab  ... (200)";
  std::string wholeBinary;
  for (int i = 0; i < 200; i++) wholeBinary += "ab ";

  for (int round = 0; round < 2; round++) {
    SCOPED_TRACE(round);
    std::string first = differences(tight, "tight.htm");
    std::string second = differences(loose, "loose.htm");
    std::string third = differences(unset, "unset.htm");
    EXPECT_EQ(addedData(first), tightBinary);
    EXPECT_NE(first.find("<td>new ... (13)<td>new"), std::string::npos);
    EXPECT_EQ(first.find("new &lt;script>"), std::string::npos);
    EXPECT_EQ(addedData(second), wholeBinary);
    EXPECT_NE(second.find("<td>new &lt;script><td>new"), std::string::npos);
    EXPECT_EQ(second.find(" ... ("), std::string::npos);
    EXPECT_EQ(addedData(third), tightBinary);
    EXPECT_NE(third.find("<td>new &lt;script><td>new"), std::string::npos);
  }

  // A data report shows all 200 bytes, even through a writer that had limits set before.
  differences(tight, "tight.htm");
  ComparisonContext view;
  ASSERT_TRUE(view.openFiles(dir_ / "b.snp", "", kModeView, true));
  ReportWriter w;
  w.setDisplayLimits(tight.displayLimits());
  std::string message;
  ASSERT_TRUE(generateSnapshotReport(&view, dir_ / "data.htm", 0, &w, &message)) << message;
  std::string data = readUtf16(dir_ / "data.htm");
  EXPECT_NE(data.find("<tr><td>added<td>REG_BINARY<td>" + wholeBinary), std::string::npos);
  EXPECT_EQ(data.find(" ... ("), std::string::npos);
}

TEST(DifferencesReportOptionsTest, DisplayLimitsFollowTheirSwitches) {
  DifferencesReportOptions o;
  EXPECT_EQ(o.displayLimits().binaryBytes, 50u);
  EXPECT_EQ(o.displayLimits().stringChars, 300u);
  o.limitBinary = false;
  EXPECT_EQ(o.displayLimits().binaryBytes, kUnlimited);
  EXPECT_EQ(o.displayLimits().stringChars, 300u);
  o.limitString = false;
  o.binaryLimit = 7;
  EXPECT_EQ(o.displayLimits().stringChars, kUnlimited);
  o.limitBinary = true;
  EXPECT_EQ(o.displayLimits().binaryBytes, 7u);
}

TEST_F(ReportGenerationTest, ExcludedStatesAndDeferredHeadings) {
  DifferencesReportOptions options;
  options.split = false;
  options.modified = false;
  options.deleted = false;
  std::string page = differences(options);
  // The key's own change is excluded; its heading still stands above the added value.
  EXPECT_NE(page.find("Software\\Test<td id=h>mod<tr id=c2><td>added<td>"), std::string::npos);
  EXPECT_EQ(page.find("<td>old"), std::string::npos);
  EXPECT_EQ(page.find("deleted<td>"), std::string::npos);
  EXPECT_NE(page.find("NewEmpty<td id=h>add"), std::string::npos);
  EXPECT_EQ(page.find("TestOld"), std::string::npos) << "a group with no included row has no heading";

  options.added = false;
  options.deleted = true;
  page = differences(options);
  EXPECT_EQ(page.find("NewEmpty"), std::string::npos);
  EXPECT_NE(page.find("<tr id=c3><td>deleted<td>"), std::string::npos);
}

TEST_F(ReportGenerationTest, PrefixFilterTakesWholeComponents) {
  DifferencesReportOptions options;
  options.split = false;
  options.sections[kSectionFiles] = options.sections[kSectionApps] = false;
  options.pathPrefix = u"hkey_local_machine\\software\\test";
  std::string page = differences(options);
  EXPECT_NE(page.find("Software\\Test<td id=h>mod"), std::string::npos);
  EXPECT_NE(page.find("NewEmpty"), std::string::npos);
  EXPECT_EQ(page.find("TestOld"), std::string::npos);
  EXPECT_EQ(page.find("Files and folders"), std::string::npos);
}

TEST_F(ReportGenerationTest, DeferredHeadingAfterAGroupOutsideThePrefix) {
  // Software\Aaa (added, outside the prefix) is walked before Software\Test, whose own
  // change is excluded: Test's deferred heading and its rows must not inherit Aaa's answer.
  DifferencesReportOptions options;
  options.split = false;
  options.modified = false;
  options.sections[kSectionFiles] = options.sections[kSectionApps] = false;
  options.pathPrefix = u"HKEY_LOCAL_MACHINE\\Software\\Test";
  std::string page = differences(options);
  EXPECT_NE(page.find("Software\\Test<td id=h>mod<tr id=c2><td>added"), std::string::npos);
  EXPECT_EQ(page.find("Aaa"), std::string::npos);
}

TEST_F(ReportGenerationTest, DataReportAndSplitMinimum) {
  ComparisonContext view;
  ASSERT_TRUE(view.openFiles(dir_ / "a.snp", "", kModeView, true));
  ReportWriter w;
  std::string message;
  ASSERT_TRUE(generateSnapshotReport(&view, dir_ / "data.htm", 0, &w, &message));
  EXPECT_EQ(exportDoneMessage(w), "Export done.");
  std::string page = readUtf16(dir_ / "data.htm");
  const char* expected[] = {
      "<div id=tit>Registry data - before &amp; x</div><br>",
      "<tr><td colspan=3 id=h>HKEY_LOCAL_MACHINE\\Software\\Test<tr><td>&lt;b>name&lt;/b><td>REG_SZ<td>old &amp; gone",
      "<tr><td colspan=3 id=h>HKEY_LOCAL_MACHINE\\Software\\Test\\Sub&amp;Key<tr><td>v<td>REG_SZ<td>x",
      "<tr><td colspan=3 id=h>c:\\A&amp;B &lt;docs><tr><td>&lt;img src=x>.txt<td>",
      "<tr><td>same.txt<td>",
      "<tr><td colspan=8 id=h>Services<tr><td>&lt;svc>",
      "<tr><td colspan=8 id=h>Drivers",
  };
  for (const char* e : expected) EXPECT_NE(page.find(e), std::string::npos) << e;
  EXPECT_EQ(page.find("id=c"), std::string::npos);

  EXPECT_EQ(differencesPageLimit(true, 500), 10000);
  EXPECT_EQ(differencesPageLimit(true, 0), 10000);
  EXPECT_EQ(differencesPageLimit(true, 30000), 30000);
  EXPECT_EQ(differencesPageLimit(false, 30000), 0);
  EXPECT_EQ(snapshotExportPageLimit(true, 0), 0);
  EXPECT_EQ(snapshotExportPageLimit(true, 1), 10000);
  EXPECT_EQ(snapshotExportPageLimit(true, 12000), 12000);
}

// A section that cannot be compared says why in its table, in the screens' words, rather than
// leave an empty table that reads as "no differences"; the other sections keep their rows. The
// data report of one snapshot says so too.
TEST_F(ReportGenerationTest, SectionsThatCannotBeComparedSayWhy) {
  const char* const kTitles[] = {"Registry ", "Files and folders ", "Applications ", "</body>"};
  auto part = [&](const std::string& page, int section) {
    size_t from = page.find(kTitles[section]), to = page.find(kTitles[section + 1]);
    EXPECT_TRUE(from != std::string::npos && to != std::string::npos) << section;
    return from == std::string::npos || to == std::string::npos ? std::string() : page.substr(from, to - from);
  };
  SnapSpec noApps = spec(true), onlyTest = spec(false), onlyOld = spec(true);
  noApps.apps.clear();
  onlyTest.registryFilter = {u"HKEY_LOCAL_MACHINE\\Software\\Test"};
  onlyOld.registryFilter = {u"HKEY_LOCAL_MACHINE\\Software\\TestOld"};
  ASSERT_TRUE(writeSnapshot(dir_ / "noapps.snp", noApps));
  ASSERT_TRUE(writeSnapshot(dir_ / "test.snp", onlyTest));
  ASSERT_TRUE(writeSnapshot(dir_ / "old.snp", onlyOld));
  ASSERT_TRUE(writeSnapshot(dir_ / "root.snp", spec(true)));
  {
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(dir_ / "root.snp", &info));
    file.close();
    ASSERT_TRUE(cutTableShort(dir_ / "root.snp", info.sectionOffset[kSectionRegistry]));
  }
  struct Case {
    const char* a;
    const char* b;  // null: a data report of a alone
    int section;
    std::u16string why;
  } cases[] = {
      {"a.snp", "noapps.snp", kSectionApps, kMessageNoSnapshot},
      {"test.snp", "old.snp", kSectionRegistry, kMessageNoCommonPaths},
      {"a.snp", "root.snp", kSectionRegistry, kMessageDamaged},
      {"noapps.snp", nullptr, kSectionApps, kMessageNoSnapshot},
      {"root.snp", nullptr, kSectionRegistry, kMessageDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + (c.b ? c.b : "alone"));
    ComparisonContext context;
    ASSERT_TRUE(context.openFiles(dir_ / c.a, c.b ? dir_ / c.b : "", c.b ? kModeCompare : kModeView, !c.b));
    ReportWriter w;
    std::string message;
    if (c.b) {
      DifferencesReportOptions options;
      options.split = false;
      ASSERT_TRUE(generateDifferencesReport(&context, options, dir_ / "r.htm", &w, &message)) << message;
    } else {
      ASSERT_TRUE(generateSnapshotReport(&context, dir_ / "r.htm", 0, &w, &message)) << message;
    }
    std::string page = readUtf16(dir_ / "r.htm");
    int columns = (c.section == kSectionApps ? 8 : 3) + (c.b ? 1 : 0);
    std::string note = "<tr><td colspan=" + std::to_string(columns) + ">" + toUtf8(c.why) + "<";
    std::string noted = part(page, c.section);
    EXPECT_NE(noted.find(note), std::string::npos) << noted;
    EXPECT_EQ(countOf(noted, "<tr"), 2u) << "the header row and the note alone: " << noted;
    for (int other = 0; other < kSectionCount; other++) {
      if (other == c.section) continue;
      EXPECT_GT(countOf(part(page, other), "<tr"), 1u) << other;
      for (const char16_t* why : {kMessageNoSnapshot, kMessageNoCommonPaths, kMessageDamaged})
        EXPECT_EQ(part(page, other).find(toUtf8(why)), std::string::npos) << other;
    }
  }
}

// A report that met unreadable tables is not called done: the warning names the snapshot and
// how many tables were left out, for the export and for the viewer; the sound pair's report is
// done. The values of Software\Test, which differ between the two, are cut short in B.
TEST_F(ReportGenerationTest, DamagedTablesMakeTheReportIncomplete) {
  ASSERT_TRUE(writeSnapshot(dir_ / "db.snp", spec(true)));
  {
    ComparisonContext c;
    ASSERT_TRUE(c.openFiles(dir_ / "db.snp", "", kModeView, true));
    LocatedKey k;
    ASSERT_TRUE(locateRegistryKey(&c, u"HKEY_LOCAL_MACHINE\\Software\\Test", &k));
    c.close();
    ASSERT_TRUE(cutTableShort(dir_ / "db.snp", k.a.contentTable));
  }
  const std::string line = "Snapshot [after <i>] is damaged: 1 table could not be read and was left out.";
  DifferencesReportOptions options;
  options.split = false;
  for (const char* b : {"b.snp", "db.snp"}) {
    SCOPED_TRACE(b);
    bool whole = std::string(b) == "b.snp";
    ComparisonContext pair, alone;
    ASSERT_TRUE(pair.openFiles(dir_ / "a.snp", dir_ / b, kModeCompare, false));
    ASSERT_TRUE(alone.openFiles(dir_ / b, "", kModeView, true));
    ReportWriter w;
    std::string message;
    ExportDamage differences(&pair);
    ASSERT_TRUE(generateDifferencesReport(&pair, options, dir_ / "d.htm", &w, &message)) << message;
    ShellMessage exported = differences.result(exportDoneMessage(w));
    ShellMessage viewed = differences.result(std::string(), "The report is incomplete.");
    ExportDamage data(&alone);
    ASSERT_TRUE(generateSnapshotReport(&alone, dir_ / "s.htm", 0, &w, &message)) << message;
    ShellMessage snapshot = data.result("Export done: " + dir_ / "s.htm");
    EXPECT_EQ(differences.met(), !whole);
    if (whole) {
      EXPECT_EQ(exported.kind, MessageKind::Information);
      EXPECT_EQ(exported.text, "Export done.");
      EXPECT_TRUE(viewed.empty());
      EXPECT_EQ(snapshot.kind, MessageKind::Information);
      EXPECT_EQ(snapshot.text, "Export done: " + dir_ / "s.htm");
    } else {
      EXPECT_EQ(exported.kind, MessageKind::Warning);
      EXPECT_EQ(exported.text, "Export incomplete.\n" + line);
      EXPECT_EQ(viewed.kind, MessageKind::Warning);
      EXPECT_EQ(viewed.text, "The report is incomplete.\n" + line);
      EXPECT_EQ(snapshot.kind, MessageKind::Warning);
      EXPECT_EQ(snapshot.text, "Export incomplete.\n" + line);
    }
    // What could be read is in the report all the same.
    EXPECT_NE(readUtf16(dir_ / "d.htm").find("c:\\A&amp;B &lt;docs>"), std::string::npos);
  }
}

TEST_F(ReportGenerationTest, FailedReportIsNotDone) {
  DifferencesReportOptions options;
  ReportWriter w;
  std::string message;
  EXPECT_FALSE(generateDifferencesReport(&context_, options, dir_ / "no/such/d.htm", &w, &message));
  EXPECT_EQ(message, "Cannot export to file [" + dir_ / "no/such/d.htm" + "]");
}

TEST(SnapshotSummaryTest, ListsAndEscapesTheScannedRoots) {
  SnapshotInfo info;
  info.filterList[kSectionRegistry] = {u"hkey_local_machine\\software\\<script>\\"};
  info.filterList[kSectionFiles] = {u"*"};
  std::u16string summary = writeSnapshotSummary(info);
  std::string s = toUtf8(summary);
  EXPECT_EQ(s.find("<style>body, td{font-size: 12px;"), 0u);
  EXPECT_NE(s.find("<b>Registry:</b><br>hkey_local_machine\\software\\&lt;script>\\<br><br>"
                   "<b>Files:</b><br>*<br><br><b>Applications:</b><br>-<br><br></body>"),
            std::string::npos);
  EXPECT_EQ(s.find("<script"), std::string::npos);
  // A character whose low byte is '<' stays itself.
  info.filterList[kSectionFiles] = {u"c:\\\u013c\\"};
  EXPECT_NE(writeSnapshotSummary(info).find(u"c:\\\u013c\\<br>"), std::u16string::npos);
}

}  // namespace
}  // namespace keldrun
