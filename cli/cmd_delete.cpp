// keldrun delete N...: deletes snapshots and their files.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "shell/catalog.h"

namespace keldrun {

namespace {

int runDelete(CommandContext& ctx) {
  if (ctx.args.empty()) return fail("delete: give the numbers of the snapshots to delete (see 'keldrun delete --help')");
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, true, &error) || !catalogNumbers(settings, ctx.args, &numbers, &error))
    return fail(error);
  if (!deleteSnapshots(&settings, numbers))
    return fail("cannot write " + settings.settingsPath() + "; the snapshot files are deleted but the catalog still lists them");
  return kExitOk;
}

Registration reg({"delete", "delete snapshots",
                  "usage: keldrun [--home DIR] delete N...\n"
                  "\n"
                  "Deletes the snapshot files of the given numbers and removes them from the\n"
                  "catalog. Numbers are not given out again. Nothing is deleted when any number\n"
                  "is not in the catalog.\n"
                  "\n"
                  "example: keldrun delete 2 5\n",
                  runDelete});

}  // namespace

}  // namespace keldrun
