#include "cli/snapshot_ref.h"

#include <cstdio>

#include "base/files.h"
#include "cli/workspace.h"

namespace keldrun {

bool resolveSnapshotRef(const std::string& home, const std::string& ref, std::string* path,
                        std::string* error) {
  bool number = !ref.empty() && ref.size() <= 6 && ref.find_first_not_of("0123456789") == std::string::npos;
  if (number) {
    char name[32];
    std::snprintf(name, sizeof name, "snap%03d.snp", std::stoi(ref));
    *path = joinPath(joinPath(home, "data"), name);
    if (fileExists(*path)) return true;
    // A file of that name in the current folder still counts.
    if (fileExists(ref)) {
      *path = ref;
      return true;
    }
    *error = "no snapshot " + ref + " (" + *path + " does not exist)";
    return false;
  }
  *path = ref;
  if (fileExists(ref)) return true;
  *error = "cannot find snapshot file " + ref;
  return false;
}

int sectionFromName(const std::string& name) {
  if (name == "registry" || name == "0") return 0;
  if (name == "files" || name == "1") return 1;
  if (name == "apps" || name == "applications" || name == "2") return 2;
  return -1;
}

const char* sectionName(int section) {
  static const char* const names[] = {"registry", "files", "apps"};
  return section >= 0 && section < 3 ? names[section] : "?";
}

}  // namespace keldrun
