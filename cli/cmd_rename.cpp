// keldrun rename N NAME: renames a snapshot in place, as its properties dialog does.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "shell/catalog.h"

namespace keldrun {

namespace {

int runRename(CommandContext& ctx) {
  if (ctx.args.size() != 2) return fail("rename: give a snapshot number and a name (see 'keldrun rename --help')");
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, true, &error) || !catalogNumbers(settings, {ctx.args[0]}, &numbers, &error))
    return fail(error);
  const std::string& name = ctx.args[1];
  if (name.empty()) return fail("rename: the name must not be empty");
  SnapshotProperties props(&settings, numbers[0]);
  std::string path = settings.snapshotPath(numbers[0]).path;
  if (!props.open().empty() || !props.ok(name) || !props.renamed())
    return fail("cannot rename snapshot " + ctx.args[0] + " (" + path + ")");
  if (name.size() > props.info().name.size())
    std::fprintf(stderr, "keldrun: the name was cut to %zu characters\n", props.info().name.size());
  return kExitOk;
}

Registration reg({"rename", "rename a snapshot",
                  "usage: keldrun [--home DIR] rename N NAME\n"
                  "\n"
                  "Gives snapshot N a new name, written into its file in place. Names are kept to\n"
                  "199 characters.\n"
                  "\n"
                  "example: keldrun rename 3 \"after the office update\"\n",
                  runRename});

}  // namespace

}  // namespace keldrun
