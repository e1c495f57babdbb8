#include "setup/folders.h"

#include <windows.h>

#include "base/text_win.h"

namespace keldrun {

bool isFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(toWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool removeEmptyFolder(const std::string& path) { return RemoveDirectoryW(toWide(path).c_str()) != 0; }

}  // namespace keldrun
