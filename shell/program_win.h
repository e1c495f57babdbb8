// The windowed program's process-wide objects: the settings with the snapshot catalog, read from
// and written to the program folder (the folder of the running executable, the same workspace
// the command line uses), and the main comparison context over its data folder.
#ifndef KELDRUN_SHELL_PROGRAM_WIN_H_
#define KELDRUN_SHELL_PROGRAM_WIN_H_

#include <string>

#include "shell/message.h"
#include "shell/settings.h"
#include "views/comparison_context.h"

namespace keldrun {

// Both live until the process ends; made on first use.
Settings& programSettings();
ComparisonContext& programContext();

// The program folder with its trailing backslash.
std::string programFolder();
// The user's documents folder with a trailing backslash; empty when the shell knows none.
std::string documentsFolder();

// Shows a model's message in the program's message box (nothing for an empty one).
void showShellMessage(const ShellMessage& message);

// Opens a file or folder with the shell's "open" verb in a normal window. shellResult, when
// given, receives what the shell answered (above 32 when it took the file).
bool openWithShell(const std::string& path, long long* shellResult = nullptr);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_PROGRAM_WIN_H_
