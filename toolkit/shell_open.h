// The Windows shell's part in the program: opening files, folders and web pages with the "open"
// verb, and the user's documents folder.
#ifndef KELDRUN_TOOLKIT_SHELL_OPEN_H_
#define KELDRUN_TOOLKIT_SHELL_OPEN_H_

#include <string>

namespace keldrun {

// Opens a file or folder with the shell's "open" verb in a normal window. shellResult, when
// given, receives what the shell answered (above 32 when it took the file).
bool openWithShell(const std::string& path, long long* shellResult = nullptr);

// The user's documents folder with a trailing backslash; empty when the shell knows none.
std::string documentsFolder();

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_SHELL_OPEN_H_
