#include "setup/folders.h"

#include <windows.h>

#include "base/text.h"

namespace keldrun {

namespace {
std::wstring wide(const std::string& utf8) {
  std::u16string s = fromUtf8(utf8);
  return std::wstring(s.begin(), s.end());
}
}  // namespace

bool isFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool removeEmptyFolder(const std::string& path) { return RemoveDirectoryW(wide(path).c_str()) != 0; }

}  // namespace keldrun
