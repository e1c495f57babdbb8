#include "shell/snapshot_commands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/files.h"
#include "base/native_file.h"
#include "shell/report_options.h"
#include "tests/report_support.h"

namespace keldrun {
namespace {

using report_testing::readUtf16;
using report_testing::SnapSpec;
using report_testing::writeSnapshot;
using testing_support::readText;
using testing_support::TempFolder;
using testing_support::writeText;

// A workspace with two real snapshots of one folder: "report.txt" grows from the first to the
// second, "gone.txt" is deleted and "new.txt" added.
class SnapshotCommandsTest : public ::testing::Test {
 protected:
  SnapshotCommandsTest() : settings(dir.str()), list(&settings) {
    makeFolders(settings.catalog().dataFolder());
    context.setDataFolder(settings.catalog().dataFolder());
    add(1, "before", {{u"gone.txt", 5, 1}, {u"report.txt", 5, 10}});
    add(2, "after", {{u"new.txt", 6, 1}, {u"report.txt", 6, 20}});
    list.refresh();
  }
  void add(int32_t n, const std::string& name, std::vector<testing_support::FileSpec> files) {
    SnapSpec spec;
    spec.name = name;
    spec.number = n;
    spec.drives = {{u"C:", {{u"Work", {}, files}}, {}}};
    std::string path = settings.catalog().snapshotPath(n).path;
    ASSERT_TRUE(writeSnapshot(path, spec));
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(path, &info));
    file.close();
    settings.catalog().addSnapshot(info);
  }
  // Overwrites the whole file in place: Windows refuses to shorten a file the context has mapped.
  void damage(int32_t n) {
    NativeHandle h;
    uint64_t size = 0;
    ASSERT_TRUE(nativeOpen(settings.catalog().snapshotPath(n).path, WriteMode::kUpdate, &h, &size));
    std::string junk(size_t(size), 'x');
    EXPECT_TRUE(nativeWriteAt(h, 0, junk.data(), junk.size()));
    EXPECT_TRUE(nativeClose(h));
  }

  TempFolder dir;
  Settings settings;
  SnapshotList list;
  ComparisonContext context;
  ShellMessage message;
};

TEST_F(SnapshotCommandsTest, ViewOpensTheSelectedSnapshotAloneOrSaysWhyNot) {
  EXPECT_FALSE(openSelectedSnapshot(list, &context, &message));  // nothing selected
  EXPECT_TRUE(message.empty());
  list.setSelection({1});
  ASSERT_TRUE(openSelectedSnapshot(list, &context, &message));
  EXPECT_EQ(context.mode(), kModeView);
  EXPECT_TRUE(context.full());
  EXPECT_EQ(context.infoA().name, "after");

  damage(1);
  list.setSelection({0});
  EXPECT_FALSE(openSelectedSnapshot(list, &context, &message));
  EXPECT_EQ(message.kind, MessageKind::Error);
  EXPECT_EQ(message.text, "Cannot open snapshot");
  EXPECT_EQ(context.mode(), kModeView);  // the snapshot shown before stays open, whole
  EXPECT_EQ(context.infoA().name, "after");
}

TEST_F(SnapshotCommandsTest, CompareOpensTheOlderFirstWhicheverBoxHoldsIt) {
  list.selectBox(SnapshotList::kFirstBox, 1);
  list.selectBox(SnapshotList::kSecondBox, 0);
  for (int viewMode : {0, 1}) {
    settings.viewMode = viewMode;
    ASSERT_TRUE(openChosenPair(list, settings, &context, &message)) << viewMode;
    EXPECT_EQ(context.mode(), kModeCompare);
    EXPECT_EQ(context.infoA().name, "before");
    EXPECT_EQ(context.infoB().name, "after");
    EXPECT_EQ(context.full(), viewMode == 0);
  }
  list.selectBox(SnapshotList::kSecondBox, 1);  // the same snapshot twice
  EXPECT_FALSE(openChosenPair(list, settings, &context, &message));
  EXPECT_EQ(message.text, "Cannot open snapshots");
  list.selectBox(SnapshotList::kSecondBox, 0);
  damage(2);
  EXPECT_FALSE(openChosenPair(list, settings, &context, &message));
  EXPECT_EQ(message.text, "Cannot open snapshots");
}

// Compare and the differences list see through the workspace's noise.txt.
TEST_F(SnapshotCommandsTest, ComparisonsSeeThroughTheWorkspacesNoiseList) {
  ASSERT_TRUE(writeText(dir / "noise.txt", "# the report grows on its own\nC:\\Work\\report.txt\n"));
  list.selectBox(SnapshotList::kFirstBox, 1);
  list.selectBox(SnapshotList::kSecondBox, 0);
  for (bool differencesList : {false, true}) {
    ComparisonContext c;
    c.setDataFolder(settings.catalog().dataFolder());
    ASSERT_TRUE(differencesList ? openDifferencesPair(list, settings, &c, &message)
                                : openChosenPair(list, settings, &c, &message));
    EXPECT_EQ(c.countHidden(kSectionFiles), 1u) << differencesList;
  }
}

TEST_F(SnapshotCommandsTest, ViewedReportReplacesOlderReportsInTheTempFolder) {
  ComparisonContext pair;
  ASSERT_TRUE(openDifferencesPair(list, settings, &pair, &message)) << message.text;
  EXPECT_EQ(pair.infoA().name, "before");
  EXPECT_EQ(context.mode(), kModeNone);  // the main window's context is not the one used
  std::string tmp = settings.reportTempFolder();
  ASSERT_TRUE(writeText(tmp + "export_004.htm", "left from a longer report"));
  ASSERT_TRUE(writeText(tmp + ".keep.htm", "not ours"));
  std::string path;
  {
    ReportWriter writer;
    ASSERT_TRUE(writeReportToView(&settings, &pair, differencesOptions(settings), &writer, &path, &message))
        << message.text;
  }
  EXPECT_EQ(path, tmp + "export.htm");
  std::string report = readUtf16(path);
  EXPECT_NE(report.find("new.txt"), std::string::npos);
  EXPECT_NE(report.find("gone.txt"), std::string::npos);
  EXPECT_NE(report.find("report.txt"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(tmp + "export_004.htm"));
  EXPECT_TRUE(std::filesystem::exists(tmp + ".keep.htm"));

  settings.report.includeAdded = 0;
  settings.report.includeDeleted = 0;
  {
    ReportWriter writer;
    ASSERT_TRUE(writeReportToView(&settings, &pair, differencesOptions(settings), &writer, &path, &message));
  }
  report = readUtf16(path);
  EXPECT_EQ(report.find("new.txt"), std::string::npos);
  EXPECT_EQ(report.find("gone.txt"), std::string::npos);
  EXPECT_NE(report.find("report.txt"), std::string::npos);
}

TEST_F(SnapshotCommandsTest, DifferencesListFailuresNameTheirCause) {
  ComparisonContext pair;
  ASSERT_TRUE(openDifferencesPair(list, settings, &pair, &message));
  std::string path;
  // The report file cannot be made: a folder stands where it goes.
  std::filesystem::create_directories(settings.reportTempFolder() + "export.htm");
  ReportWriter writer;
  EXPECT_FALSE(writeReportToView(&settings, &pair, differencesOptions(settings), &writer, &path, &message));
  EXPECT_EQ(message.kind, MessageKind::Error);
  EXPECT_EQ(message.text.rfind("Cannot export to file [", 0), 0u) << message.text;
  EXPECT_NE(message.text.find("export.htm]"), std::string::npos) << message.text;
  damage(1);
  ComparisonContext broken;
  EXPECT_FALSE(openDifferencesPair(list, settings, &broken, &message));
  EXPECT_EQ(message.text, "Cannot open snapshots");
}

TEST_F(SnapshotCommandsTest, ExportToHtmlWritesTheFormsNameIntoTheStoredOrDocumentsFolder) {
  TempFolder documents, chosen;
  ComparisonContext one;
  EXPECT_FALSE(openSnapshotForExport(list, settings, &one, &message));
  EXPECT_TRUE(message.empty());  // nothing selected
  list.setSelection({0});
  ASSERT_TRUE(openSnapshotForExport(list, settings, &one, &message));
  EXPECT_EQ(one.mode(), kModeView);
  EXPECT_EQ(context.mode(), kModeNone);

  SnapshotExportForm form(settings.report, documents.str());
  EXPECT_EQ(form.reportPath(), documents / "export.htm");
  std::string error;
  {
    ReportWriter writer;
    ASSERT_TRUE(generateSnapshotReport(&one, form.reportPath(), form.pageLimit(), &writer, &error)) << error;
  }
  std::string report = readUtf16(documents / "export.htm");
  EXPECT_NE(report.find("gone.txt"), std::string::npos);
  EXPECT_EQ(report.find("new.txt"), std::string::npos);  // only the chosen snapshot

  form.folder = withSeparator(chosen.str());
  form.name = "mine";
  form.store(&settings.report);
  SnapshotExportForm next(settings.report, documents.str());
  EXPECT_EQ(next.reportPath(), chosen / "mine.htm");

  next.folder = chosen / "missing" + "/";
  ReportWriter writer;
  EXPECT_FALSE(generateSnapshotReport(&one, next.reportPath(), next.pageLimit(), &writer, &error));
  EXPECT_EQ(error, "Cannot export to file [" + chosen / "missing" + "/mine.htm]");
  damage(1);
  ComparisonContext broken;
  EXPECT_FALSE(openSnapshotForExport(list, settings, &broken, &message));
  EXPECT_EQ(message.text, "Cannot open snapshot");
}

TEST(SettingsAtStartUp, ADamagedSettingsFileIsKeptAsideBeforeAnythingWritesOverIt) {
  TempFolder dir;
  {
    Settings missing(dir.str());
    missing.ensureLoaded();
    EXPECT_TRUE(setAsideDamagedSettings(&missing).empty());
  }
  const std::string garbage(40, '\x5A');
  ASSERT_TRUE(writeText(dir / "Keldrun.cfg", garbage));
  Settings settings(dir.str());
  settings.ensureLoaded();
  ShellMessage m = setAsideDamagedSettings(&settings);
  EXPECT_EQ(m.kind, MessageKind::Warning);
  EXPECT_NE(m.text.find(dir / "Keldrun.cfg.damaged"), std::string::npos) << m.text;
  EXPECT_EQ(readText(dir / "Keldrun.cfg.damaged"), garbage);
  EXPECT_FALSE(std::filesystem::exists(dir / "Keldrun.cfg"));
  // The next save starts a new catalog without touching what was kept.
  ASSERT_TRUE(settings.save());
  EXPECT_EQ(readText(dir / "Keldrun.cfg.damaged"), garbage);
  Settings reread(dir.str());
  reread.ensureLoaded();
  EXPECT_EQ(reread.loadStatus(), SettingsLoad::Read);
  EXPECT_TRUE(setAsideDamagedSettings(&reread).empty());
}

TEST(SettingsAtStartUp, ASaveThatFailsIsReportedWithTheFile) {
  TempFolder dir;
  Settings settings(dir.str());
  // A folder in the settings file's place cannot be replaced: the save fails.
  std::filesystem::create_directories(dir / "Keldrun.cfg");
  EXPECT_FALSE(settings.save());
  ShellMessage m = cannotSaveSettings(settings);
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(m.text, "Cannot save the settings file [" + dir / "Keldrun.cfg" + "]");
}

}  // namespace
}  // namespace keldrun
