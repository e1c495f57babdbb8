#include "engine/log.h"

#include <cstdio>

#include "base/files.h"

namespace keldrun {

bool appendLog(const std::string& text, const std::string& path) {
  FILE* f = openFile(path, "a+t");
  if (!f) return false;
  bool ok = std::fprintf(f, "%s\n", text.c_str()) >= 0;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace keldrun
