// What the two report dialogs decide apart from their windows: the differences report options
// (dialog 909) with its layout by origin, its enabling and the report options it keeps in the
// settings ("te1" .. "te11", "teh3", "teh4"); and the snapshot export (dialog 911) with its
// folder, file name, page limit and "teh1" .. "teh5".
#ifndef KELDRUN_SHELL_REPORT_OPTIONS_H_
#define KELDRUN_SHELL_REPORT_OPTIONS_H_

#include <string>

#include "reports/report_generation.h"
#include "workspace/settings.h"

namespace keldrun {

// Where the differences options dialog was opened from.
constexpr int kOriginSnapshotList = -1;  // two snapshots of the list, every section

// The number in a dialog's number field as the field gives it: leading digits, anything else
// (an empty field included) is 0; capped at the largest setting value.
int fieldNumber(const std::string& text);

class DifferencesOptionsForm {
 public:
  // origin: kOriginSnapshotList or the section of the screen (0 Registry, 1 Files,
  // 2 Applications); pathPrefix: that screen's current key or folder path (empty from the
  // snapshot list and the Applications screen).
  DifferencesOptionsForm(const Settings::Report& stored, int origin, const std::u16string& pathPrefix);

  // The controls' values, set by the window as the user changes them.
  bool added, modified, deleted;
  bool sections[kSectionCount];
  bool limitBinary, limitString, split;
  std::string binaryText, stringText, linesText;
  bool onlyPath;  // view range: only the current path (else all)

  int origin() const { return origin_; }
  const std::u16string& pathPrefix() const { return prefix_; }

  // Which groups show and how far the ones below them move up, in dialog units.
  struct Layout {
    bool sectionsShown;   // the three section check boxes
    bool dataSizeShown;   // the registry data size group
    bool rangeShown;      // the view range group
    bool onlyPathEnabled; // the "only the current path" choice (a path is given)
    int rangeUp;          // the view range group moves up by this
    int lowerUp;          // the split group, the status text and the buttons, and the height
    int narrower;         // the dialog and its buttons move in by this
  };
  Layout layout() const;

  // Enabling after any check box changed.
  bool binaryFieldEnabled() const { return limitBinary; }
  bool stringFieldEnabled() const { return limitString; }
  bool linesFieldEnabled() const { return split; }
  // Export and View: some kind of item and some section chosen.
  bool canGenerate() const;

  // Reading the dialog (Export and View): the report options into the settings. The sections
  // are kept only from the snapshot list, where they are chosen; the view range only from a
  // screen that offers it. The lines are kept raised to the smallest page.
  void store(Settings::Report* report) const;
  // The options of the report the dialog asks for.
  DifferencesReportOptions options() const;

 private:
  int origin_;
  std::u16string prefix_;
};

class SnapshotExportForm {
 public:
  // documentsFolder: the user's documents folder, used when no export folder is stored.
  SnapshotExportForm(const Settings::Report& stored, const std::string& documentsFolder);

  std::string folder;     // as typed; joined to the name as it stands
  std::string name;       // without ".htm"
  bool split;
  std::string linesText;
  bool openAfter;

  bool linesFieldEnabled() const { return split; }
  // 0 when not split or the lines are 0; 1 to 9999 raised to the smallest page.
  int pageLimit() const;
  // The report's first page in the folder: folder, a separator when it has none, name + ".htm";
  // name + ".htm" in the current folder when no folder is given.
  std::string reportPath() const;
  // After a successful export: name, folder, split, the lines as typed, open-after.
  void store(Settings::Report* report) const;
  // A folder chosen with the folder browser, with its trailing backslash.
  static std::string chosenFolder(const std::string& folder);
};

// "Export done: " and where the exported report is.
std::string exportDoneMessage(const std::string& path);
// The error shown when the exported report at path could not be handed to the shell (its
// ShellExecute result is 32 or less): the export itself is done, and the user is told so and
// where the report is. Empty when the shell took it.
std::string exportNotOpenedMessage(const std::string& path, long long shellResult);

// Saves the settings with the report options just stored, under the workspace lock over the
// catalog as the other processes left it. False (nothing written) when another process holds
// the lock or the file cannot be written; the options are saved again when the program closes.
bool keepReportOptions(Settings* settings);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_REPORT_OPTIONS_H_
