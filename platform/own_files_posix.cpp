#include "platform/own_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keldrun {

bool listFileNames(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::stat((base + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    names->push_back(name);
  }
  ::closedir(dir);
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string executableFolder() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", &path[0], path.size());
  if (n <= 0 || size_t(n) >= path.size()) return ".";
  path.resize(size_t(n));
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  path.resize(cut == 0 ? 1 : cut);
  return path;
}

}  // namespace keldrun
