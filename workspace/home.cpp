#include "workspace/home.h"

#include <cstdlib>

#include "base/files.h"
#include "platform/own_files.h"

namespace keldrun {

std::string defaultHome(const std::string& homeOption) {
  if (!homeOption.empty()) return homeOption;
#ifdef _WIN32
  return executableFolder();
#else
  if (const char* h = std::getenv("KELDRUN_HOME"); h && *h) return h;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/keldrun";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/keldrun";
#endif
}

std::string programFolder() { return withSeparator(defaultHome("")); }

}  // namespace keldrun
