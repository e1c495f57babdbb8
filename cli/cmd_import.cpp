// keldrun import FILE...: adds exported snapshots to the catalog under new numbers.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "workspace/catalog_commands.h"

namespace keldrun {

namespace {

int runImport(CommandContext& ctx) {
  Settings settings(ctx.home);
  std::string error;
  if (!openCatalog(&settings, true, &error, ctx.noWait)) return fail(error);
  SnapshotTransfer transfer;
  ShellMessage m = transfer.importSnapshots(&settings, ctx.operands());
  for (int32_t n : transfer.imported())
    std::printf("%d %s\n", int(n), settings.catalog().snapshotPath(n).path.c_str());
  for (const std::string& p : transfer.problems()) std::fprintf(stderr, "keldrun: %s\n", p.c_str());
  if (m.kind == MessageKind::Error)
    return fail("import error: " + std::to_string(transfer.problems().size()) + " of " +
                std::to_string(ctx.operands().size()) + " files not imported");
  return kExitOk;
}

Registration reg({"import", "add exported snapshot files to the catalog", "FILE...", 1, -1, kNoOptions,
                  "Unpacks each exported snapshot file into the data folder under the next free\n"
                  "number, in the order given, and adds it to the catalog. Prints the number and\n"
                  "file of each imported snapshot. A file that is not an exported snapshot is\n"
                  "reported and uses up no number; existing snapshot files are never replaced.\n",
                  "import /mnt/usb/snapshots/snap003.snp", runImport});

}  // namespace

}  // namespace keldrun
