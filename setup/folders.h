// Folder checks and removal for the uninstaller (UTF-8 paths, as base/files.h takes them).
#ifndef KELDRUN_SETUP_FOLDERS_H_
#define KELDRUN_SETUP_FOLDERS_H_

#include <string>

namespace keldrun {

// True when path names an existing folder.
bool isFolder(const std::string& path);
// Removes the folder at path when it is empty; false when it is not removed (it holds
// something, it is in use, or it does not exist).
bool removeEmptyFolder(const std::string& path);

}  // namespace keldrun

#endif  // KELDRUN_SETUP_FOLDERS_H_
