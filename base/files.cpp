#include "base/files.h"

namespace keldrun {

char pathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

std::string withSeparator(const std::string& folder) {
  if (folder.empty()) return folder;
  char last = folder.back();
  if (last == '/' || last == '\\') return folder;
  return folder + pathSeparator();
}

bool readWholeFile(FILE* f, std::string* out, size_t maxBytes) {
  out->clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    out->append(buf, n);
    if (out->size() > maxBytes) return false;
  }
  return !std::ferror(f);
}

bool readWholeFile(const std::string& path, std::string* out, size_t maxBytes) {
  FILE* f = openFile(path, "rb");
  if (!f) return false;
  bool ok = readWholeFile(f, out, maxBytes);
  std::fclose(f);
  return ok;
}

}  // namespace keldrun
