// keldrun rename N NAME: renames a snapshot in place, as its properties dialog does.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "workspace/catalog_commands.h"

namespace keldrun {

namespace {

int runRename(CommandContext& ctx) {
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, true, &error, ctx.noWait) || !catalogNumbers(settings, {ctx.operands()[0]}, &numbers, &error))
    return fail(error);
  std::string name;
  if (!snapshotNameArgument(ctx.operands()[1], &name, &error)) return fail(error);
  if (name.empty()) return fail("rename: the name must not be empty");
  SnapshotProperties props(&settings, numbers[0]);
  std::string path = settings.catalog().snapshotPath(numbers[0]).path;
  if (!props.open().empty() || !props.ok(name) || !props.renamed())
    return fail("cannot rename snapshot " + ctx.operands()[0] + " (" + path + ")");
  const std::string& kept = props.info().name;
  if (name.size() > kept.size()) {
    // Characters, not bytes: every UTF-8 byte but a continuation byte starts one.
    size_t chars = size_t(std::count_if(kept.begin(), kept.end(), [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
    std::fprintf(stderr, "keldrun: the name was cut to %zu characters\n", chars);
  }
  return kExitOk;
}

Registration reg({"rename", "rename a snapshot", "N NAME", 2, 2, kNoOptions,
                  "Gives snapshot N a new name, written into its file in place. Names are kept to\n"
                  "199 characters, or 199 bytes of UTF-8 when some character is beyond U+00FF.\n",
                  "rename 3 \"after the office update\"", runRename});

}  // namespace

}  // namespace keldrun
