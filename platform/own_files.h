// Folder listing and file identity for the program's own files (report temp folder, snapshot
// exports), beside the file helpers of base/files.h. UTF-8 paths in the platform's native form.
#ifndef KELDRUN_PLATFORM_OWN_FILES_H_
#define KELDRUN_PLATFORM_OWN_FILES_H_

#include <string>
#include <vector>

namespace keldrun {

// The names of the entries directly inside folder that are not folders themselves. False when
// the folder cannot be listed.
bool listFileNames(const std::string& folder, std::vector<std::string>* names);

// True when both paths name one existing file, however they are spelt (links, "..", case on
// Windows). False when either does not exist.
bool sameFile(const std::string& a, const std::string& b);

// The folder of the running executable, without a trailing separator except at a drive's root;
// "." when it cannot be found.
std::string executableFolder();

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_OWN_FILES_H_
