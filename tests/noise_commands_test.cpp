// The windows' noise commands on a real workspace: noise.txt and its undo file on disk, two
// real snapshots compared through the list the commands leave behind.
#include "shell/noise_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "base/files.h"
#include "tests/report_support.h"
#include "views/screen_commands.h"
#include "views/screen_model.h"
#include "workspace/noise.h"

namespace keldrun {
namespace {

using report_testing::SnapSpec;
using report_testing::writeSnapshot;
using testing_support::readText;
using testing_support::TempFolder;

const char16_t kRunKey[] = u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A workspace without the default list and with two snapshots of C:\Work: "report.txt" grows,
// "gone.txt" is deleted, "new.txt" added, and C:\Logs\a.log changes.
class NoiseCommandsTest : public ::testing::Test {
 protected:
  NoiseCommandsTest() : settings(dir.str()), list(&settings) {
    settings.noiseDefaults = 0;
    makeFolders(settings.catalog().dataFolder());
    context.setDataFolder(settings.catalog().dataFolder());
    add(1, "before", {{u"gone.txt", 5, 1}, {u"report.txt", 5, 10}}, 1);
    add(2, "after", {{u"new.txt", 6, 1}, {u"report.txt", 6, 20}}, 2);
    list.refresh();
  }
  void add(int32_t n, const std::string& name, std::vector<testing_support::FileSpec> files, uint64_t logSize) {
    SnapSpec spec;
    spec.name = name;
    spec.number = n;
    spec.drives = {{u"C:", {{u"Work", {}, files}, {u"Logs", {}, {{u"a.log", logSize, 1}}}}, {}}};
    std::string path = settings.catalog().snapshotPath(n).path;
    ASSERT_TRUE(writeSnapshot(path, spec));
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(path, &info));
    file.close();
    settings.catalog().addSnapshot(info);
  }
  std::vector<std::u16string> listed() {
    NoiseFile file(settings.folder());
    file.load(false, nullptr);
    return file.list().entries();
  }
  std::string noisePath() { return NoiseFile(settings.folder()).path(); }

  TempFolder dir;
  Settings settings;
  SnapshotList list;
  ComparisonContext context;
  std::string message;
};

TEST(NoiseMenu, OffersHideOrShowAgainByWhetherTheNodeIsListedAndUndoWhileThereIsOne) {
  struct Case {
    int mode;
    bool node, listed, undo;
    std::vector<int> commands;
  };
  const Case cases[] = {
      {kModeCompare, true, false, false, {kNoiseHide}},
      {kModeCompare, true, false, true, {kNoiseHide, kNoiseUndo}},
      {kModeCompare, true, true, true, {kNoiseShowAgain, kNoiseUndo}},
      {kModeCompare, true, true, false, {kNoiseShowAgain}},
      {kModeCompare, false, false, true, {kNoiseUndo}},
      {kModeCompare, false, false, false, {}},
      {kModeView, true, false, true, {}},
      {kModeNone, true, false, true, {}},
  };
  const std::map<int, std::u16string> texts = {
      {kNoiseHide, u"Hide as noise"}, {kNoiseShowAgain, u"Show again"}, {kNoiseUndo, u"Undo noise change"}};
  for (const Case& c : cases) {
    std::vector<int> commands;
    for (const MenuEntry& e : noiseMenu(c.mode, c.node, c.listed, c.undo)) {
      commands.push_back(e.command);
      EXPECT_TRUE(e.enabled);
      EXPECT_EQ(e.text, texts.at(e.command));
    }
    EXPECT_EQ(commands, c.commands) << c.mode << c.node << c.listed << c.undo;
  }
}

TEST_F(NoiseCommandsTest, HideShowAgainAndUndoChangeTheFileAndWhatTheComparisonHides) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, false));
  EXPECT_EQ(context.countHidden(kSectionFiles), 0u);
  EXPECT_FALSE(noiseMenuState(settings, u"C:\\Work").canUndo);

  ASSERT_TRUE(runNoiseCommand(settings, kNoiseHide, u"c:\\work\\", &context, &message)) << message;
  EXPECT_EQ(listed(), std::vector<std::u16string>{u"c:\\work"});
  EXPECT_EQ(context.countHidden(kSectionFiles), 1u);  // C:\Work, with all below it
  NoiseMenuState state = noiseMenuState(settings, u"C:\\Work");
  EXPECT_TRUE(state.listed);
  EXPECT_TRUE(state.canUndo);
  EXPECT_FALSE(noiseMenuState(settings, u"C:\\Logs").listed);
  EXPECT_FALSE(runNoiseCommand(settings, kNoiseHide, u"C:\\Work", &context, &message));

  ASSERT_TRUE(runNoiseCommand(settings, kNoiseHide, u"C:\\Logs", &context, &message)) << message;
  EXPECT_EQ(context.countHidden(kSectionFiles), 2u);
  ASSERT_TRUE(runNoiseCommand(settings, kNoiseShowAgain, u"C:\\WORK", &context, &message)) << message;
  EXPECT_EQ(listed(), std::vector<std::u16string>{u"C:\\Logs"});
  EXPECT_EQ(context.countHidden(kSectionFiles), 1u);
  EXPECT_FALSE(runNoiseCommand(settings, kNoiseShowAgain, u"C:\\Work", &context, &message));

  ASSERT_TRUE(runNoiseCommand(settings, kNoiseUndo, std::u16string(), &context, &message));
  EXPECT_EQ(listed(), (std::vector<std::u16string>{u"c:\\work", u"C:\\Logs"}));
  EXPECT_EQ(context.countHidden(kSectionFiles), 2u);
  ASSERT_TRUE(runNoiseCommand(settings, kNoiseUndo, std::u16string(), &context, &message));
  ASSERT_TRUE(runNoiseCommand(settings, kNoiseUndo, std::u16string(), &context, &message));
  EXPECT_FALSE(fileExists(noisePath()));  // the workspace had none
  EXPECT_EQ(context.countHidden(kSectionFiles), 0u);
  EXPECT_FALSE(runNoiseCommand(settings, kNoiseUndo, std::u16string(), &context, &message));
  EXPECT_EQ(message, "Nothing to undo");
}

TEST_F(NoiseCommandsTest, HideRefusesANeverHiddenLocationNamingItAndWritesNothing) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, false));
  for (std::u16string path : {std::u16string(kRunKey), std::u16string(kRunKey) + u"\\Vendor"}) {
    message.clear();
    EXPECT_FALSE(runNoiseCommand(settings, kNoiseHide, path, &context, &message));
    EXPECT_NE(message.find("never hidden"), std::string::npos) << message;
    EXPECT_NE(message.find("CurrentVersion\\Run"), std::string::npos) << message;
    EXPECT_FALSE(fileExists(noisePath()));
  }
}

TEST_F(NoiseCommandsTest, TheNoiseLineSaysTheCountWhileHiddenAndThatNoiseIsShownWhileShown) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, false));
  MemoryTree tree;
  SnapshotScreenModel model(kSectionFiles, &context, &tree);
  auto line = [&] { return noiseLine(model.hiddenNoiseLine(), context.showNoise(), context.hidesNoise(kSectionFiles)); };
  EXPECT_EQ(line(), u"");  // no list
  context.setNoise(std::make_shared<NoiseMatcher>(std::vector<std::u16string>{u"C:\\Work", u"C:\\Logs"}));
  EXPECT_EQ(line(), u"2 differences hidden as noise");
  context.setShowNoise(true);
  EXPECT_EQ(line(), kNoiseShownLine);
  context.setNoise(std::make_shared<NoiseMatcher>(std::vector<std::u16string>{u"C:\\Logs"}));
  context.setShowNoise(false);
  EXPECT_EQ(line(), u"1 difference hidden as noise");
  context.setNoise(nullptr);
  context.setShowNoise(true);
  EXPECT_EQ(line(), u"");
}

TEST_F(NoiseCommandsTest, LearnWritesTheCheckedProposalsOnlyAsOneUndoableChange) {
  EXPECT_FALSE(learnNoiseEnabled(list));
  list.setSelection({0});
  EXPECT_FALSE(learnNoiseEnabled(list));
  NoiseLearning learning;
  std::string names;
  ShellMessage shellMessage;
  EXPECT_FALSE(learnFromSelectedPair(list, settings, &learning, &names, &shellMessage));
  EXPECT_EQ(shellMessage.text, "Cannot open snapshots");
  list.setSelection({0, 1});
  EXPECT_TRUE(learnNoiseEnabled(list));
  ASSERT_TRUE(learnFromSelectedPair(list, settings, &learning, &names, &shellMessage));
  EXPECT_EQ(names, "before and after");
  std::vector<std::u16string> proposed;
  for (const NoiseProposal& p : learning.proposals) proposed.push_back(p.entry);
  ASSERT_EQ(proposed, (std::vector<std::u16string>{u"C:\\Logs\\a.log", u"C:\\Work"}));

  // Nothing checked: nothing written, not even an empty file.
  std::vector<NoiseProposal> none = learning.proposals;
  for (NoiseProposal& p : none) p.checked = false;
  EXPECT_EQ(writeCheckedProposals(settings, none, names, &message), 0);
  EXPECT_FALSE(fileExists(noisePath()));

  std::vector<NoiseProposal> some = learning.proposals;
  some[0].checked = false;
  EXPECT_EQ(writeCheckedProposals(settings, some, names, &message), 1);
  EXPECT_EQ(listed(), std::vector<std::u16string>{u"C:\\Work"});
  EXPECT_EQ(readText(noisePath()), "# learned from before and after\nC:\\Work\n");

  EXPECT_EQ(writeCheckedProposals(settings, learning.proposals, names, &message), 1);  // a.log
  EXPECT_EQ(listed(), (std::vector<std::u16string>{u"C:\\Work", u"C:\\Logs\\a.log"}));
  ASSERT_TRUE(runNoiseCommand(settings, kNoiseUndo, std::u16string(), &context, &message));
  EXPECT_EQ(listed(), std::vector<std::u16string>{u"C:\\Work"});
}

// With noise shown, a hidden file is listed again and its Info column says "(noise)"; the
// others are not marked. Hidden, it is not listed at all.
TEST_F(NoiseCommandsTest, ShownNoiseIsMarkedInTheListAndHiddenNoiseIsLeftOut) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, false));
  context.setNoise(std::make_shared<NoiseMatcher>(std::vector<std::u16string>{u"C:\\Work\\gone.txt"}));
  MemoryTree tree;
  SnapshotScreenModel model(kSectionFiles, &context, &tree);
  tree.setEvents(&model);
  for (bool shown : {false, true}) {
    context.setShowNoise(shown);
    model.refresh(kViewDifferences);
    ASSERT_TRUE(model.locatePath(u"C:\\Work", std::u16string()));
    std::vector<std::u16string> infos;
    for (const ListRow& row : model.rows()) infos.push_back(row.columns[0] + u": " + row.columns.back());
    std::vector<std::u16string> expected = {u"new.txt: add", u"report.txt: old", u"report.txt: new"};
    if (shown) expected.insert(expected.begin(), u"gone.txt: del (noise)");
    EXPECT_EQ(infos, expected) << shown;
  }
}

// The tree a screen shows, every level expanded: one line per node, "NAME STATE", with " bold"
// when its own content changed, indented two spaces a level.
std::vector<std::string> shownTree(MemoryTree* tree, TreeItem parent = 0, const std::string& indent = "") {
  if (parent == 0) parent = tree->root();
  std::vector<std::string> out;
  for (TreeItem item = tree->firstChild(parent); item != 0; item = tree->nextSibling(item)) {
    tree->expand(item);
    const TreeItemLook& look = tree->node(item).look;
    int state = 0;
    while (state < kDiffStateCount && stateColor(state) != look.color) state++;
    out.push_back(indent + toUtf8(tree->text(item)) + " " + std::to_string(state) + (look.bold ? " bold" : ""));
    for (std::string& line : shownTree(tree, item, indent + "  ")) out.push_back(std::move(line));
  }
  return out;
}

// A key or folder whose every change is hidden noise is not a difference: its look comes from
// what is shown. States: 0 unchanged, 1 modified, 3 deleted.
TEST_F(NoiseCommandsTest, AFolderWhoseEveryChangeIsHiddenNoiseShowsUnchanged) {
  ASSERT_TRUE(context.open(1, 2, kModeCompare, false));
  MemoryTree tree;
  SnapshotScreenModel model(kSectionFiles, &context, &tree);
  tree.setEvents(&model);
  struct Case {
    std::vector<std::u16string> noise;
    int viewMode;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {{}, kViewDifferences, {"C: 1", "  Logs 1 bold", "  Work 1 bold"}},
      {{u"C:\\Logs\\a.log"}, kViewDifferences, {"C: 1", "  Work 1 bold"}},
      {{u"C:\\Logs\\a.log"}, kViewFull, {"C: 1", "  Logs 0", "  Work 1 bold"}},
      {{u"C:\\Work\\gone.txt"}, kViewDifferences, {"C: 1", "  Logs 1 bold", "  Work 1 bold"}},
      {{u"C:\\Work\\*.txt"}, kViewDifferences, {"C: 1", "  Logs 1 bold"}},
      {{u"C:\\Work\\*.txt", u"C:\\Logs\\*"}, kViewDifferences, {"no differences found 0"}},
      {{u"C:\\Work\\*.txt", u"C:\\Logs\\*"}, kViewFull, {"C: 0", "  Logs 0", "  Work 0"}},
      {{u"C:\\Logs"}, kViewDifferences, {"C: 1", "  Work 1 bold"}},
  };
  for (const Case& c : cases) {
    context.setNoise(c.noise.empty() ? nullptr : std::make_shared<NoiseMatcher>(c.noise));
    context.setFull(c.viewMode == kViewFull);
    model.refresh(c.viewMode);
    EXPECT_EQ(shownTree(&tree), c.shown) << c.noise.size() << " " << c.viewMode;
    // Noise shown again: every change is back, as without a list.
    context.setShowNoise(true);
    model.refresh(c.viewMode);
    std::vector<std::string> all = shownTree(&tree);
    EXPECT_NE(std::find(all.begin(), all.end(), "  Work 1 bold"), all.end()) << c.noise.size();
    EXPECT_NE(std::find(all.begin(), all.end(), "  Logs 1 bold"), all.end()) << c.noise.size();
    context.setShowNoise(false);
  }
}

// The top row's two boxes show the context: offered while comparing, normalising off again
// after every open.
TEST_F(NoiseCommandsTest, ComparisonChoicesFollowTheContext) {
  struct Step {
    const char* what;
    std::function<void()> act;
    bool enabled, showNoise, normalise;
  };
  const Step steps[] = {
      {"nothing open", [] {}, false, false, false},
      {"one snapshot viewed", [&] { ASSERT_TRUE(context.open(1, 0, kModeView, true)); }, false, false, false},
      {"normalise refused in view", [&] { context.setNormalise(true); }, false, false, false},
      {"compared", [&] { ASSERT_TRUE(context.open(1, 2, kModeCompare, false)); }, true, false, false},
      {"normalised", [&] { context.setNormalise(true); }, true, false, true},
      {"noise shown", [&] { context.setShowNoise(true); }, true, true, true},
      {"compared again", [&] { ASSERT_TRUE(context.open(1, 2, kModeCompare, false)); }, true, true, false},
      {"closed", [&] { context.close(); }, false, true, false},
  };
  for (const Step& step : steps) {
    step.act();
    ComparisonChoices c = comparisonChoices(context);
    EXPECT_EQ(c.enabled, step.enabled) << step.what;
    EXPECT_EQ(c.showNoise, step.showNoise) << step.what;
    EXPECT_EQ(c.normalise, step.normalise) << step.what;
  }
}

TEST(SkippedNoiseLine, NamesEachNeverHiddenLocationOnceAndTheApplications) {
  NoiseLearning learning;
  EXPECT_EQ(skippedNoiseLine(learning), u"");
  learning.skipped = {{u"HKLM\\Run\\a", u"HKLM\\Run"}, {u"HKLM\\Run\\b", u"HKLM\\Run"}, {u"C:\\S\\x", u"C:\\S"}};
  EXPECT_EQ(skippedNoiseLine(learning), u"Never hidden, so not proposed: HKLM\\Run, C:\\S");
  learning.applicationChanges = 2;
  EXPECT_EQ(skippedNoiseLine(learning),
            u"Never hidden, so not proposed: HKLM\\Run, C:\\S; 2 differences of the applications (never hidden)");
  learning.skipped.clear();
  EXPECT_EQ(skippedNoiseLine(learning), u"2 differences of the applications (never hidden)");
  learning.applicationChanges = 1;
  EXPECT_EQ(skippedNoiseLine(learning), u"1 difference of the applications (never hidden)");
}

// Every front counts differences in one wording: the dialog's rows, the command line's
// proposals, the screens' hidden line.
TEST(DifferencesText, OneIsSingularEveryOtherCountPlural) {
  struct Case {
    size_t count;
    const char16_t* proposal;
    const char16_t* hidden;
  };
  for (const Case& c : {Case{0, u"X\\*.tmp  (0 differences)", u"0 differences hidden as noise"},
                        Case{1, u"X\\*.tmp  (1 difference)", u"1 difference hidden as noise"},
                        Case{2, u"X\\*.tmp  (2 differences)", u"2 differences hidden as noise"},
                        Case{21, u"X\\*.tmp  (21 differences)", u"21 differences hidden as noise"}}) {
    NoiseProposal p;
    p.entry = u"X\\*.tmp";
    p.changes = c.count;
    EXPECT_EQ(proposalText(p), c.proposal) << c.count;
    EXPECT_EQ(hiddenNoiseText(c.count), c.hidden) << c.count;
  }
}

}  // namespace
}  // namespace keldrun
