#include "views/screen_commands.h"

#include "engine/compare.h"
#include "engine/snapshot.h"

namespace keldrun {

std::vector<MenuEntry> registryKeyMenu(int screenMode, bool jumpEnabled) {
  if (screenMode == kModeView) {
    return {{u"Jump to this key", kRegistryJumpToKey, 19, jumpEnabled},
            {u"Export key to .reg file", kRegistryExportContent, 7, true}};
  }
  if (screenMode == kModeCompare) {
    return {{u"Jump to this key", kRegistryJumpToKey, 19, jumpEnabled},
            {u"Differences list", kRegistryDifferences, -1, true},
            {u"Export key to .reg file - RESTORE", kRegistryExportRestore, -1, true},
            {u"Export key to .reg file - CHANGE", kRegistryExportChange, -1, true}};
  }
  return {};
}

std::vector<MenuEntry> noiseMenu(int screenMode, bool nodeSelected, bool listed, bool canUndo) {
  std::vector<MenuEntry> menu;
  if (screenMode != kModeCompare) return menu;
  if (nodeSelected) {
    menu.push_back(listed ? MenuEntry{u"Show again", kNoiseShowAgain, -1, true}
                          : MenuEntry{u"Hide as noise", kNoiseHide, -1, true});
  }
  if (canUndo) menu.push_back({u"Undo noise change", kNoiseUndo, -1, true});
  return menu;
}

std::vector<MenuEntry> filesFolderMenu(int screenMode, bool jumpEnabled) {
  if (screenMode != kModeView && screenMode != kModeCompare) return {};
  return {{u"Jump to this folder", kFilesJumpToFolder, 0, jumpEnabled},
          {u"Differences list", kFilesDifferences, -1, screenMode == kModeCompare}};
}

std::vector<MenuEntry> filesFileMenu(int screenMode, bool jumpEnabled, bool rowSelected) {
  if (screenMode != kModeView && screenMode != kModeCompare) return {};
  std::vector<MenuEntry> menu = {{u"Jump to file folder", kFilesJumpToFolder, 0, jumpEnabled}};
  if (rowSelected) menu.push_back({u"Open file", kFilesOpenFile, 0, true});
  return menu;
}

std::vector<MenuEntry> searchResultMenu(int section, bool hasRows) {
  if (!hasRows) return {};
  if (section == kSectionFiles) {
    return {{u"Locate folder in tree", kFilesLocateResult, 0, true},
            {u"Jump to folder", kFilesJumpToResult, 0, true},
            {u"Open file", kFilesOpenResult, 0, true}};
  }
  return {{u"Locate key in tree", kRegistryLocateResult, 0, true}, {u"Jump to key", kRegistryJumpToResult, 0, true}};
}

std::u16string openFilePath(const std::u16string& folder, const std::u16string& pathBox,
                            const std::u16string& name) {
  std::u16string path = folder.empty() ? pathBox : folder;
  if (path.empty()) return path;
  if (path.back() != u'\\') path.push_back(u'\\');
  return path + name;
}

std::string openFileError(long long shellResult) {
  if (shellResult > 32) return std::string();
  std::string text = "Cannot open file.";
  if (shellResult == 2 || shellResult == 3) text += "\nFile not found.";
  if (shellResult == 31) text += "\nThere is no application associated with this file extension.";
  return text;
}

std::u16string registryEditorLastKey(const std::u16string& keyPath) {
  return u"My computer\\" + keyPath;
}

std::vector<EditorKey> registryEditorKeys(const std::u16string& keyPath) {
  std::vector<EditorKey> keys(kEditorClimbPresses, EditorKey{EditorKey::Left, 0});
  std::u16string typed = keyPath + u"\\";
  for (char16_t c : typed) {
    if (c == u'\\') {
      keys.push_back({EditorKey::Right, 0});
    } else {
      keys.push_back({EditorKey::Char, (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c});
    }
  }
  return keys;
}

}  // namespace keldrun
