// The installer's decisions: which run a start of the program is, what installation writes,
// what the second uninstall stage removes, and the command line that starts that stage.
//
// Paths are UTF-8 in the platform's native form (base/files.h), folders with a trailing
// separator. The windows, the shell links and the registry are in the _win files; everything
// here works on real folders and is tested natively.
#ifndef KELDRUN_SETUP_INSTALLATION_H_
#define KELDRUN_SETUP_INSTALLATION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace keldrun {

constexpr const char* kInstalledExeName = "Keldrun.exe";
constexpr const char* kInstallFolderName = "Keldrun";
constexpr const char* kStartMenuFolderName = "Corvellan Software";
constexpr const char* kShortcutFileName = "Keldrun.lnk";
constexpr const char* kUninstallCopyName = "uninst_keldrun.exe";

// What a start of the program runs.
enum class StartMode { MainWindow, SetupWindow, UninstallFirstStage, UninstallSecondStage };

struct StartDecision {
  StartMode mode = StartMode::MainWindow;
  std::u16string folderArgument;  // the second stage's program folder, as it arrived
};

// arguments: the command line's arguments after the executable's own; runningFileName: the
// running executable's file name without its folder. "-uninstall" (exact bytes) alone is the
// first stage, followed by anything the second; otherwise a file name other than the installed
// one (ignoring case) is the setup window.
StartDecision decideStart(const std::vector<std::u16string>& arguments,
                          const std::u16string& runningFileName);

// The program folder named by the second stage's argument, with a trailing separator. The
// argument may end in a stray quote (an older first stage let the command line's parser read
// the folder's last backslash and quote as a literal quote); it is dropped. Empty when nothing
// is left.
std::string secondStageFolder(const std::u16string& argument);

// One argument quoted for a Windows command line, so that the system's parser gives back
// exactly argument: backslashes before a quote or the end are doubled, quotes escaped.
std::u16string quoteArgument(const std::u16string& argument);
// The command line of the second stage: the copy's path and the program folder, each quoted.
std::u16string secondStageCommandLine(const std::u16string& copyPath,
                                      const std::u16string& programFolder);

// The shell's folders for the shortcuts, each with a trailing separator; empty when unknown
// (then that shortcut is neither made nor removed).
struct ShellFolders {
  std::string desktop;
  std::string programs;
};

struct Shortcut {
  std::string linkPath;       // the ".lnk" file
  std::string target;         // the installed executable
  std::string workingFolder;  // the target's folder, without a trailing separator
  std::string description;
  int iconIndex = 0;
};

// What installation into one target folder writes.
struct InstallPlan {
  std::string targetFolder;
  std::string dataFolder;
  std::string programFile;
  std::string startMenuFolder;      // empty when the Programs folder is unknown
  std::vector<Shortcut> shortcuts;  // desktop (when chosen and known), then start menu
  std::string uninstallKey;         // under HKEY_LOCAL_MACHINE
  std::string displayName;          // "Keldrun v1.6"
  std::string uninstallString;      // "\"<programFile>\" -uninstall"
  uint32_t noModify = 1;
};

// Whether an uninstall entry's UninstallString starts the installed program file of
// programFolder: the quoted path (unquoted: all before " -uninstall") must be that path, compared without regard to
// ASCII case or to the kind of separator. The entry is shared by every installation of the
// program, so the second stage deletes it only when it belongs to the folder it removes.
bool uninstallEntryBelongsTo(const std::string& uninstallString, const std::string& programFolder);

// programFilesFolder + "Keldrun" with a trailing separator; the folder chosen in the folder
// browser gives the target the same way.
std::string targetFolderIn(const std::string& programFilesFolder);

InstallPlan planInstall(const std::string& targetFolder, const ShellFolders& shell, bool desktopIcon);

// The file steps of installation: the target and data folders, the carry-over of an older
// installation, the byte copy of sourceExe, the start-menu folder. False with the message in
// *error when a folder cannot be created or the copy fails; a start-menu folder that cannot be
// created sets *error but is not a failure.
bool installFiles(const InstallPlan& plan, const std::string& sourceExe,
                  const std::string& computerName, std::string* error);

// Copies the bytes of source to destination (created or truncated). False with the message
// "Cannot copy\n<source> to\n<destination>" in *error when either cannot be opened or a read or
// write falls short.
bool copyProgramFile(const std::string& source, const std::string& destination, std::string* error);

// What the second stage removes: only what installation and the program write there.
struct UninstallPlan {
  std::string programFile;           // the installed program the shortcuts must point at
  std::vector<std::string> shortcuts;  // removed when they point at programFile, else kept
  std::vector<std::string> files;    // removed; one still present afterwards is a failure
  std::vector<std::string> folders;  // removed when empty (innermost first); one left is a failure
  std::vector<std::string> sharedFolders;  // removed when empty; other programs may keep them
};

// Plans the removal of the installation in programFolder: the snapshot files its catalog lists
// under "data", the report pages in "tmp", the log, settings, scan filter and program files, what
// the program leaves beside them (a damaged settings file set aside, the temporary file of a
// write that was cut short), both shortcuts, then the folders "data", "tmp" and the program
// folder. False with the reason in *error when programFolder is not a folder holding the
// installed program file.
bool planUninstall(const std::string& programFolder, const ShellFolders& shell, UninstallPlan* plan,
                   std::string* error);

// Where the shortcut file at link points; false when it cannot be read as a shortcut.
using ShortcutReader = std::function<bool(const std::string& link, std::string* target)>;

// Removes what plan names; a shortcut only when readShortcut says it points at plan.programFile
// (another installation's shortcut of the same name stays, and is no failure). True when every
// file and folder of plan.files and plan.folders is gone afterwards (one that was never there
// counts as removed). *left, when given, receives what kept the removal from being complete:
// each file that could not be removed and each entry still inside a folder that stays.
bool removeInstalled(const UninstallPlan& plan, const ShortcutReader& readShortcut,
                     std::vector<std::string>* left = nullptr);

// The message of an incomplete uninstall: the text table's, then what was left, one a line
// (the first ten, then how many more).
std::string uninstallIncompleteMessage(const std::vector<std::string>& left);

}  // namespace keldrun

#endif  // KELDRUN_SETUP_INSTALLATION_H_
