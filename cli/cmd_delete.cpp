// keldrun delete N...: deletes snapshots and their files.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "workspace/catalog_commands.h"

namespace keldrun {

namespace {

int runDelete(CommandContext& ctx) {
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, true, &error, ctx.noWait) || !catalogNumbers(settings, ctx.operands(), &numbers, &error))
    return fail(error);
  std::vector<std::string> remaining;
  if (!deleteSnapshots(&settings, numbers, &remaining))
    return fail("cannot write " + settings.settingsPath() + "; the snapshot files are deleted but the catalog still lists them");
  for (const std::string& path : remaining)
    std::fprintf(stderr, "keldrun: cannot delete %s; it remains in the data folder, out of the catalog\n", path.c_str());
  if (!remaining.empty()) return fail(std::to_string(remaining.size()) + " snapshot files could not be deleted");
  return kExitOk;
}

Registration reg({"delete", "delete snapshots", "N...", 1, -1, kNoOptions,
                  "Deletes the snapshot files of the given numbers and removes them from the\n"
                  "catalog. Numbers are not given out again. Nothing is deleted when any number\n"
                  "is not in the catalog.\n",
                  "delete 2 5", runDelete});

}  // namespace

}  // namespace keldrun
