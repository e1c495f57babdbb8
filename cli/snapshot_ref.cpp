#include "cli/snapshot_ref.h"

#include <cstdio>

#include "base/files.h"
#include "cli/command.h"
#include "engine/compare.h"
#include "views/comparison_context.h"
#include "workspace/home.h"
#include "workspace/settings.h"

namespace keldrun {

bool resolveSnapshotRef(const std::string& home, const std::string& ref, std::string* path,
                        std::string* error) {
  int64_t number = 0;
  if (parseNumber(ref, 0, 999999, &number)) {
    *path = joinPath(joinPath(home, "data"), snapshotFileName(int32_t(number)));
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

void checkSnapshots(ComparisonContext* context) {
  checkSnapshot(context->fileA(), context->infoA());
  if (context->fileB()) checkSnapshot(context->fileB(), context->infoB());
}

int damageStatus(ComparisonContext* context, const std::string& refA, const std::string& refB,
                 int status) {
  SnapshotFile* files[2] = {context->fileA(), context->fileB()};
  const std::string* refs[2] = {&refA, &refB};
  for (int i = 0; i < 2; i++) {
    if (!files[i] || files[i]->damagedTables() == 0) continue;
    std::string text = "snapshot " + *refs[i] + " is damaged: " +
                       std::to_string(files[i]->damagedTables()) + " tables unreadable, first at offset " +
                       std::to_string(files[i]->firstDamage());
    std::fprintf(stderr, "keldrun: %s\n", text.c_str());
    status = kExitError;
  }
  return status;
}

}  // namespace keldrun
