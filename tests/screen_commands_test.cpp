// The screens' menus, the file path "Open file" hands to the shell with its error texts, and
// the keystrokes that walk the registry editor to a key.
#include "views/screen_commands.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/compare.h"
#include "engine/snapshot.h"
#include "resources/resource_ids.h"

namespace keldrun {
namespace {

std::vector<std::u16string> texts(const std::vector<MenuEntry>& menu) {
  std::vector<std::u16string> out;
  for (const MenuEntry& e : menu) out.push_back(e.text);
  return out;
}

TEST(ScreenMenus, KeyMenuHasTwoItemsInViewFourInCompareNoneInModeZero) {
  EXPECT_TRUE(registryKeyMenu(kModeNone, true).empty());
  std::vector<MenuEntry> view = registryKeyMenu(kModeView, false);
  EXPECT_EQ(texts(view), (std::vector<std::u16string>{u"Jump to this key", u"Export key to .reg file"}));
  EXPECT_FALSE(view[0].enabled);  // follows "Jump to"
  EXPECT_TRUE(view[1].enabled);
  EXPECT_EQ(view[0].icon, 19);
  EXPECT_EQ(view[1].command, kRegistryExportContent);
  std::vector<MenuEntry> compare = registryKeyMenu(kModeCompare, true);
  EXPECT_EQ(texts(compare), (std::vector<std::u16string>{u"Jump to this key", u"Differences list",
                                                         u"Export key to .reg file - RESTORE",
                                                         u"Export key to .reg file - CHANGE"}));
  EXPECT_TRUE(compare[0].enabled);
  EXPECT_EQ(compare[1].command, kRegistryDifferences);
  EXPECT_EQ(compare[2].command, kRegistryExportRestore);
  EXPECT_EQ(compare[3].command, kRegistryExportChange);
}

TEST(ScreenMenus, FileMenuOffersOpenFileOnlyForASelectedRow) {
  EXPECT_TRUE(filesFolderMenu(kModeNone, true).empty());
  EXPECT_TRUE(filesFileMenu(kModeNone, true, true).empty());
  EXPECT_EQ(texts(filesFolderMenu(kModeView, true)),
            (std::vector<std::u16string>{u"Jump to this folder", u"Differences list"}));
  EXPECT_EQ(texts(filesFolderMenu(kModeCompare, false)).size(), 2u);
  // The differences list needs two snapshots, as the screen's button does.
  EXPECT_FALSE(filesFolderMenu(kModeView, true)[1].enabled);
  EXPECT_TRUE(filesFolderMenu(kModeCompare, false)[1].enabled);
  EXPECT_EQ(texts(filesFileMenu(kModeCompare, true, false)), std::vector<std::u16string>{u"Jump to file folder"});
  std::vector<MenuEntry> withRow = filesFileMenu(kModeView, false, true);
  EXPECT_EQ(texts(withRow), (std::vector<std::u16string>{u"Jump to file folder", u"Open file"}));
  EXPECT_FALSE(withRow[0].enabled);
  EXPECT_TRUE(withRow[1].enabled);
}

TEST(ScreenMenus, SearchResultMenusByScreenAndOnlyWithRows) {
  EXPECT_TRUE(searchResultMenu(kSectionFiles, false).empty());
  EXPECT_EQ(texts(searchResultMenu(kSectionFiles, true)),
            (std::vector<std::u16string>{u"Locate folder in tree", u"Jump to folder", u"Open file"}));
  std::vector<MenuEntry> keys = searchResultMenu(kSectionRegistry, true);
  EXPECT_EQ(texts(keys), (std::vector<std::u16string>{u"Locate key in tree", u"Jump to key"}));
  for (const MenuEntry& e : keys) EXPECT_TRUE(e.enabled);
  EXPECT_EQ(keys[1].command, kRegistryJumpToResult);
}

// Each menu a screen shows, with the text and the command of every entry in order.
struct MenuCase {
  const char* menu;
  std::vector<MenuEntry> entries;
  std::vector<std::pair<std::u16string, int>> named;
};

std::vector<std::pair<std::u16string, int>> named(const std::vector<MenuEntry>& menu) {
  std::vector<std::pair<std::u16string, int>> out;
  for (const MenuEntry& e : menu) out.push_back({e.text, e.command});
  return out;
}

// Every menu of a screen (its fullest form) and every command the screen has.
struct ScreenCase {
  const char* screen;
  std::vector<MenuCase> menus;
  std::vector<int> commands;
};

std::vector<ScreenCase> screens() {
  return {
      {"Registry",
       {{"key menu, one snapshot",
         registryKeyMenu(kModeView, true),
         {{u"Jump to this key", kRegistryJumpToKey}, {u"Export key to .reg file", kRegistryExportContent}}},
        {"key menu, comparison",
         registryKeyMenu(kModeCompare, true),
         {{u"Jump to this key", kRegistryJumpToKey},
          {u"Differences list", kRegistryDifferences},
          {u"Export key to .reg file - RESTORE", kRegistryExportRestore},
          {u"Export key to .reg file - CHANGE", kRegistryExportChange}}},
        {"search results",
         searchResultMenu(kSectionRegistry, true),
         {{u"Locate key in tree", kRegistryLocateResult}, {u"Jump to key", kRegistryJumpToResult}}}},
       {kRegistryJumpToKey, kRegistryExportContent, kRegistryExportRestore, kRegistryExportChange,
        kRegistryDifferences, kRegistryLocateResult, kRegistryJumpToResult}},
      {"Files",
       {{"folder menu",
         filesFolderMenu(kModeCompare, true),
         {{u"Jump to this folder", kFilesJumpToFolder}, {u"Differences list", kFilesDifferences}}},
        {"file menu",
         filesFileMenu(kModeView, true, true),
         {{u"Jump to file folder", kFilesJumpToFolder}, {u"Open file", kFilesOpenFile}}},
        {"search results",
         searchResultMenu(kSectionFiles, true),
         {{u"Locate folder in tree", kFilesLocateResult},
          {u"Jump to folder", kFilesJumpToResult},
          {u"Open file", kFilesOpenResult}}}},
       {kFilesJumpToFolder, kFilesDifferences, kFilesOpenFile, kFilesLocateResult, kFilesJumpToResult,
        kFilesOpenResult}},
  };
}

TEST(ScreenCommands, EveryMenuEntryCarriesTheCommandItNames) {
  for (const ScreenCase& screen : screens()) {
    for (const MenuCase& m : screen.menus) {
      EXPECT_EQ(named(m.entries), m.named) << screen.screen << ", " << m.menu;
    }
  }
}

// One number means one command on a screen, whichever menu it comes from: "Open file" of the
// list and of a search result are two commands, "Jump to" of the folder and of the file menu
// one. The numbers stay below the controls' ids, which a WM_COMMAND without a control may not
// reach, and never 0, a menu closed without a choice.
TEST(ScreenCommands, EachScreensCommandsAreDistinctAndEveryOneIsOffered) {
  for (const ScreenCase& screen : screens()) {
    std::set<int> distinct(screen.commands.begin(), screen.commands.end());
    EXPECT_EQ(distinct.size(), screen.commands.size()) << screen.screen;
    EXPECT_EQ(distinct.count(0), 0u) << screen.screen;
    EXPECT_LT(*distinct.rbegin(), IDC_SCREEN_TREE) << screen.screen;
    std::set<int> offered;
    for (const MenuCase& m : screen.menus) {
      for (const MenuEntry& e : m.entries) offered.insert(e.command);
    }
    EXPECT_EQ(offered, distinct) << screen.screen;
  }
}

TEST(SearchPane, GrowsOnlyFromItsSmallHeightAndOnlyWhenSomethingWasFound) {
  EXPECT_EQ(searchPaneHeight(50, 1), 200);
  EXPECT_EQ(searchPaneHeight(30, 7), 200);
  EXPECT_EQ(searchPaneHeight(50, 0), 50);
  EXPECT_EQ(searchPaneHeight(120, 3), 120);  // the user made it larger: it stays
  // At 150 % scale the pane and its growth are half as large again.
  EXPECT_EQ(searchPaneHeight(75, 1, 144), 300);
  EXPECT_EQ(searchPaneHeight(76, 1, 144), 76);
  EXPECT_EQ(searchPaneHeight(62, 2, 120), 250);
}

TEST(OpenFile, PathJoinsFolderAndNameWithOneBackslash) {
  EXPECT_EQ(openFilePath(u"", u"C:\\", u"boot.ini"), u"C:\\boot.ini");
  EXPECT_EQ(openFilePath(u"", u"C:\\Windows", u"win.ini"), u"C:\\Windows\\win.ini");
  // A search result's folder wins over the path box.
  EXPECT_EQ(openFilePath(u"D:\\x\\", u"C:\\Windows", u"a b.txt"), u"D:\\x\\a b.txt");
  EXPECT_EQ(openFilePath(u"", u"", u"lost.txt"), u"");
}

TEST(OpenFile, ErrorTextsFollowTheShellsResult) {
  EXPECT_EQ(openFileError(33), "");
  EXPECT_EQ(openFileError(42), "");
  EXPECT_EQ(openFileError(2), "Cannot open file.\nFile not found.");
  EXPECT_EQ(openFileError(3), "Cannot open file.\nFile not found.");
  EXPECT_EQ(openFileError(31), "Cannot open file.\nThere is no application associated with this file extension.");
  EXPECT_EQ(openFileError(0), "Cannot open file.");
  EXPECT_EQ(openFileError(32), "Cannot open file.");
}

TEST(RegistryEditorJump, ClimbsThenTypesEveryComponentAndStepsIntoEach) {
  EXPECT_EQ(registryEditorLastKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE"), u"My computer\\HKEY_LOCAL_MACHINE\\SOFTWARE");
  std::vector<EditorKey> keys = registryEditorKeys(u"HKEY_LOCAL_MACHINE\\Software");
  ASSERT_EQ(keys.size(), size_t(kEditorClimbPresses) + 18 + 1 + 8 + 1);
  for (int i = 0; i < kEditorClimbPresses; i++) EXPECT_EQ(keys[size_t(i)].kind, EditorKey::Left);
  std::u16string typed;
  int rights = 0;
  for (size_t i = kEditorClimbPresses; i < keys.size(); i++) {
    if (keys[i].kind == EditorKey::Right) {
      typed.push_back(u'\\');
      rights++;
    } else {
      ASSERT_EQ(keys[i].kind, EditorKey::Char);
      typed.push_back(keys[i].character);
    }
  }
  EXPECT_EQ(typed, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\");
  EXPECT_EQ(rights, 2);
  EXPECT_EQ(keys.back().kind, EditorKey::Right);
}

}  // namespace
}  // namespace keldrun
