// The screens' menus, the file path "Open file" hands to the shell with its error texts, and
// the keystrokes that walk the registry editor to a key.
#include "views/screen_commands.h"

#include <gtest/gtest.h>

#include "engine/compare.h"
#include "engine/snapshot.h"

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
  EXPECT_EQ(view[1].command, kMenuExportContent);
  std::vector<MenuEntry> compare = registryKeyMenu(kModeCompare, true);
  EXPECT_EQ(texts(compare), (std::vector<std::u16string>{u"Jump to this key", u"Differences list",
                                                         u"Export key to .reg file - RESTORE",
                                                         u"Export key to .reg file - CHANGE"}));
  EXPECT_TRUE(compare[0].enabled);
  EXPECT_EQ(compare[1].command, kMenuRegistryDifferences);
  EXPECT_EQ(compare[2].command, kMenuExportRestore);
  EXPECT_EQ(compare[3].command, kMenuExportChange);
}

TEST(ScreenMenus, FileMenuOffersOpenFileOnlyForASelectedRow) {
  EXPECT_TRUE(filesFolderMenu(kModeNone, true).empty());
  EXPECT_TRUE(filesFileMenu(kModeNone, true, true).empty());
  EXPECT_EQ(texts(filesFolderMenu(kModeView, true)),
            (std::vector<std::u16string>{u"Jump to this folder", u"Differences list"}));
  EXPECT_EQ(texts(filesFolderMenu(kModeCompare, false)).size(), 2u);
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
  EXPECT_EQ(keys[1].command, kMenuJumpFromResult);
}

TEST(SearchPane, GrowsOnlyFromItsSmallHeightAndOnlyWhenSomethingWasFound) {
  EXPECT_EQ(searchPaneHeight(50, 1), 200);
  EXPECT_EQ(searchPaneHeight(30, 7), 200);
  EXPECT_EQ(searchPaneHeight(50, 0), 50);
  EXPECT_EQ(searchPaneHeight(120, 3), 120);  // the user made it larger: it stays
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
