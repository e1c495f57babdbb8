#include "setup/folders.h"

#include <sys/stat.h>
#include <unistd.h>

namespace keldrun {

bool isFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeEmptyFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

}  // namespace keldrun
