#include "shell/main_window.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace keldrun
