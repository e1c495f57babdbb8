// Installation and both uninstall stages on Windows: the shell's folders and links, the
// uninstall entry in the registry, and the second start from the temporary folder. What is
// written and removed is decided by setup/installation.h.
#ifndef KELDRUN_SETUP_INSTALLATION_WIN_H_
#define KELDRUN_SETUP_INSTALLATION_WIN_H_

#include <string>

#include "setup/installation.h"
#include "workspace/message.h"

namespace keldrun {

// The running executable's full path and file name (UTF-8).
std::string runningExecutable();
std::u16string runningFileName();

// "ProgramFilesDir" of HKLM "Software\Microsoft\Windows\CurrentVersion" with a trailing
// backslash, or "C:\Program Files\" when it cannot be read.
std::string programFilesFolder();
// The "Desktop" and "Programs" values of the current user's shell folders.
ShellFolders shellFolders();

// One installation: the target folder and the desktop-icon choice of the setup window.
class Installation {
 public:
  Installation();  // target folder: the program files folder + "Keldrun\"
  std::string targetFolder;
  bool desktopIcon = true;
  std::string errorText;  // the first failure's message

  // Copies the running executable into the target folder with the data folder, the carry-over
  // of an older installation, the shortcuts and the uninstall entry. False with errorText set
  // when a folder cannot be created or the copy fails; shortcut and registry failures are not
  // reported.
  bool install();
};

// Writes the link file through the shell's link object. True when it was saved.
bool createShortcut(const Shortcut& link);
// Where the shell link at link points (its path as stored, variables not expanded).
bool readShortcut(const std::string& link, std::string* target);
// The uninstall entry of plan under HKEY_LOCAL_MACHINE. False when the key cannot be created.
bool writeUninstallEntry(const InstallPlan& plan);
// Deletes the uninstall entry when its UninstallString starts the program in programFolder
// (another installation's entry stays). True when no entry of this folder is left.
bool deleteUninstallEntry(const std::string& programFolder);

// Runs the first stage: asks, copies the program to the temporary folder and starts the copy on
// the program folder. Returns once the copy has started, the user has cancelled, or with the
// message of a failure (shown by the caller).
ShellMessage uninstallFirstStage();
// Runs the second stage on the folder argument and returns the message to show.
ShellMessage uninstallSecondStage(const std::u16string& folderArgument);

}  // namespace keldrun

#endif  // KELDRUN_SETUP_INSTALLATION_WIN_H_
