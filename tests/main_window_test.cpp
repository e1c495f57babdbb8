#include "shell/main_window.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/files.h"
#include "tests/report_support.h"

namespace keldrun {
namespace {

using report_testing::SnapSpec;
using report_testing::writeSnapshot;
using testing_support::TempFolder;

TEST(MainWindowTexts, TitleAndTabs) {
  EXPECT_EQ(mainWindowTitle(""), "Corvellan Software Keldrun v1.6");
  EXPECT_EQ(mainWindowTitle("view S"), "Corvellan Software Keldrun v1.6 - view S");
  const char* tabs[kTabCount] = {"Snapshots", "Registry", "Files", "Applications", "Help"};
  for (int t = 0; t < kTabCount; t++) EXPECT_EQ(mainTabText(t), tabs[t]) << t;
  EXPECT_EQ(mainTabText(kTabCount), "");
  // The system keeps the low four bits of a menu command: 16 to 31 are all About.
  for (unsigned id : {16u, 17u, 31u}) EXPECT_TRUE(isAboutCommand(id)) << id;
  for (unsigned id : {15u, 32u, 0xF060u}) EXPECT_FALSE(isAboutCommand(id)) << id;
}

// Two real snapshots in a workspace, opened through the context as the screens open them.
class MainWindowModelTest : public ::testing::Test {
 protected:
  MainWindowModelTest() : settings(dir.str()), model(&settings, &context) {
    makeFolders(settings.catalog().dataFolder());
    context.setDataFolder(settings.catalog().dataFolder());
    for (int n = 1; n <= 2; n++) {
      SnapSpec spec;
      spec.name = n == 1 ? "before" : "after";
      spec.number = n;
      spec.drives = {{u"C:", {{u"Windows", {}, {{u"a.txt", 1, uint64_t(n)}}}}, {}}};
      EXPECT_TRUE(writeSnapshot(settings.catalog().snapshotPath(n).path, spec));
    }
  }
  TempFolder dir;
  Settings settings;
  ComparisonContext context;
  MainWindowModel model;
};

TEST_F(MainWindowModelTest, ViewingShowsTheRegistryTabInFullModeWhateverViewMode) {
  settings.viewMode = 1;
  model.setUp();
  EXPECT_EQ(model.visibleTab(), kTabSnapshots);
  EXPECT_EQ(model.title(), "Corvellan Software Keldrun v1.6");
  ASSERT_TRUE(context.open(1, 0, kModeView, false));
  model.showComparison();
  EXPECT_EQ(model.title(), "Corvellan Software Keldrun v1.6 - view before");
  EXPECT_EQ(model.visibleTab(), kTabRegistry);
  EXPECT_TRUE(context.full());
}

TEST_F(MainWindowModelTest, ComparingFollowsViewModeAndItsChanges) {
  settings.viewMode = 1;
  ASSERT_TRUE(context.open(1, 2, kModeCompare, true));
  model.showComparison();
  EXPECT_EQ(model.title(), "Corvellan Software Keldrun v1.6 - before vs after");
  EXPECT_FALSE(context.full());
  // A screen switches its radio pair to Full; the tab stays where the user is.
  model.selectTab(kTabFiles);
  settings.viewMode = 0;
  model.viewModeChanged();
  EXPECT_TRUE(context.full());
  EXPECT_EQ(model.visibleTab(), kTabFiles);
  EXPECT_EQ(model.title(), "Corvellan Software Keldrun v1.6 - before vs after");
}

TEST_F(MainWindowModelTest, ClosingKeepsTheTabAndDropsTheDocumentTitle) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, true));
  model.showComparison();
  model.selectTab(kTabApplications);
  model.closeComparison();
  EXPECT_EQ(context.mode(), kModeNone);
  EXPECT_EQ(model.title(), "Corvellan Software Keldrun v1.6");
  EXPECT_EQ(model.visibleTab(), kTabApplications);
}

TEST_F(MainWindowModelTest, AboutAndHelpKeyOpenTheHelpTabWithoutClosingTheComparison) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, true));
  model.showComparison();
  EXPECT_FALSE(model.systemCommand(0xF060));  // SC_CLOSE: the default handling
  EXPECT_EQ(model.visibleTab(), kTabRegistry);
  EXPECT_TRUE(model.systemCommand(kAboutCommand));
  EXPECT_EQ(model.visibleTab(), kTabHelp);
  EXPECT_EQ(model.helpTopic(), HelpTopic::About);
  EXPECT_EQ(context.mode(), kModeCompare);
  EXPECT_EQ(model.title(), "Corvellan Software Keldrun v1.6 - before vs after");
  model.selectTab(kTabSnapshots);
  model.helpKey();
  EXPECT_EQ(model.visibleTab(), kTabHelp);
  EXPECT_EQ(model.helpTopic(), HelpTopic::HowToUse);
  model.selectTab(kTabCount);  // out of range: ignored
  EXPECT_EQ(model.visibleTab(), kTabHelp);
}

// The workspace read at start-up on a thread of its own ends as the reading on the program's own
// thread did: the catalog from the snapshot files, the report temp folder emptied.
TEST_F(MainWindowModelTest, TheStartUpReadingEndsWithTheWholeCatalog) {
  settings.catalog().addListed("2,1");
  ASSERT_TRUE(settings.save());
  std::string viewed = settings.reportTempFolder() + "report.htm";
  ASSERT_TRUE(testing_support::writeText(viewed, "x"));
  Settings started(dir.str());
  StartupLoad load(&started);
  EXPECT_TRUE(load.wait().empty());
  EXPECT_TRUE(load.wait().empty());  // once read, at once
  ASSERT_EQ(started.catalog().count(), 2u);
  EXPECT_EQ(started.catalog().record(0).name, "after");
  EXPECT_EQ(started.catalog().record(1).name, "before");
  EXPECT_EQ(started.loadStatus(), SettingsLoad::Read);
  EXPECT_FALSE(std::filesystem::exists(viewed));
}

TEST(StartupLoad, ADamagedSettingsFileIsSetAsideAndItsMessageKept) {
  TempFolder dir;
  const std::string garbage(40, '\x5A');
  ASSERT_TRUE(testing_support::writeText(dir / "Keldrun.cfg", garbage));
  Settings settings(dir.str());
  ShellMessage m;
  {
    StartupLoad load(&settings);
    m = load.wait();
  }
  EXPECT_EQ(m.kind, MessageKind::Warning);
  EXPECT_NE(m.text.find(dir / "Keldrun.cfg.damaged"), std::string::npos) << m.text;
  EXPECT_EQ(testing_support::readText(dir / "Keldrun.cfg.damaged"), garbage);
  EXPECT_EQ(settings.catalog().count(), 0u);
}

}  // namespace
}  // namespace keldrun
