// What the screens' commands decide, apart from their windows: the context menus of the
// Registry and Files screens, the file path that "Open file" hands to the shell and the message
// of a failed open, and the keystrokes that walk the system's registry editor to a key.
#ifndef KELDRUN_VIEWS_SCREEN_COMMANDS_H_
#define KELDRUN_VIEWS_SCREEN_COMMANDS_H_

#include <string>
#include <vector>

namespace keldrun {

struct MenuEntry {
  std::u16string text;
  int command;
  int icon;  // index into the menu pictures; -1 for none
  bool enabled;
};

// The Registry screen's commands, one number each, from its key menu and its search results'
// menu. A WM_COMMAND without a control carries these numbers to the screen too, so that tools
// and tests reach the commands without driving a menu.
enum RegistryCommand {
  kRegistryJumpToKey = 1,
  kRegistryExportContent = 2,
  kRegistryExportRestore = 3,
  kRegistryExportChange = 4,
  kRegistryDifferences = 5,
  kRegistryLocateResult = 6,
  kRegistryJumpToResult = 7,
};
// The Files screen's commands, numbered as the Registry screen's: its folder menu, its file menu
// and its search results' menu.
enum FilesCommand {
  kFilesJumpToFolder = 1,  // the path box's folder, from the folder and the file menu alike
  kFilesDifferences = 2,
  kFilesOpenFile = 3,  // the selected row's file
  kFilesLocateResult = 4,
  kFilesJumpToResult = 5,
  kFilesOpenResult = 6,
};

// The noise commands of the Registry and Files screens, numbered apart from both screens' own.
enum NoiseCommand {
  kNoiseHide = 20,       // "Hide as noise": the selected node's path joins the noise list
  kNoiseShowAgain = 21,  // "Show again": it leaves the list
  kNoiseUndo = 22,       // "Undo noise change": the list as it was before its last change
};

// The noise part of the key and folder menus, offered in a comparison (screen mode 1) only and
// only what applies, so that the menus hold no entry that cannot act: "Hide as noise" for a
// selected node whose path is not listed, "Show again" for one that is, "Undo noise change"
// while the list has a change to take back.
std::vector<MenuEntry> noiseMenu(int screenMode, bool nodeSelected, bool listed, bool canUndo);

// The key menu: "Jump to this key" and the content export in screen mode 2 (one snapshot);
// "Jump to this key", the differences list and the RESTORE and CHANGE exports in screen mode 1
// (a comparison). Empty in screen mode 0 (nothing is shown, so there is nothing to act on).
std::vector<MenuEntry> registryKeyMenu(int screenMode, bool jumpEnabled);

// Files screen: the folder menu (jump; the differences list, enabled only in a comparison as
// the screen's button is) and the file menu (jump to the file's folder, open file, offered only
// when a row is selected). Empty in screen mode 0.
std::vector<MenuEntry> filesFolderMenu(int screenMode, bool jumpEnabled);
std::vector<MenuEntry> filesFileMenu(int screenMode, bool jumpEnabled, bool rowSelected);

// The menu of a search result in the section's screen (Files: locate, jump to folder, open
// file; Registry: locate, jump to key); every item enabled. Empty while there are no results.
std::vector<MenuEntry> searchResultMenu(int section, bool hasRows);
// The pane's height after a search, in pixels of a display of `dpi`: a pane of 50 pixels or less
// at 100 % scale (96 DPI) grows to 200 when something was found; both scale with the DPI.
constexpr int kSearchPaneHeight = 50;
constexpr int kSearchPaneGrown = 200;
inline int searchPaneHeight(int height, size_t found, int dpi = 96) {
  return found > 0 && height <= kSearchPaneHeight * dpi / 96 ? kSearchPaneGrown * dpi / 96 : height;
}

// The path "Open file" opens: folder (the path box's when folder is empty), a '\' unless the
// folder ends in one, then the name. Empty when there is no folder.
std::u16string openFilePath(const std::u16string& folder, const std::u16string& pathBox,
                            const std::u16string& name);
// The error text for the shell's result of an open; empty for success (a result above 32).
std::string openFileError(long long shellResult);

// The registry editor's "LastKey" text for a key path.
std::u16string registryEditorLastKey(const std::u16string& keyPath);

// One keystroke sent or posted to the registry editor's key tree.
struct EditorKey {
  enum Kind { Left, Right, Char } kind;
  char16_t character;  // for Char: the key path's character in upper case
};
// The climb to the top (31 presses of Left) and then, for every character of the key path and
// a final '\': Right for '\' (step into the children), the upper-case character otherwise
// (type-ahead selection).
std::vector<EditorKey> registryEditorKeys(const std::u16string& keyPath);
constexpr int kEditorClimbPresses = 31;

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_SCREEN_COMMANDS_H_
