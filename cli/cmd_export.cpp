// keldrun export N... --to DIR: packed copies of snapshots, for another computer.
#include <cstdio>
#include <string>

#include "base/files.h"
#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "workspace/catalog_commands.h"

namespace keldrun {

namespace {

int runExport(CommandContext& ctx) {
  std::string folder = ctx.value("--to");
  const std::vector<std::string>& refs = ctx.operands();
  if (folder.empty()) return failUsage(ctx, "export needs --to DIR");
  Settings settings(ctx.home);
  std::string error;
  std::vector<int32_t> numbers;
  if (!openCatalog(&settings, false, &error) || !catalogNumbers(settings, refs, &numbers, &error))
    return fail(error);
  if (!makeFolders(folder)) return fail("cannot create the folder " + folder);
  SnapshotTransfer transfer;
  ShellMessage m = transfer.exportSnapshots(settings, numbers, folder);
  for (const std::string& p : transfer.problems()) std::fprintf(stderr, "keldrun: %s\n", p.c_str());
  if (m.kind == MessageKind::Error) return fail("export error: " + std::to_string(transfer.problems().size()) + " of " +
                                                std::to_string(numbers.size()) + " snapshots not exported");
  for (int32_t n : numbers) std::printf("%s\n", (withSeparator(folder) + snapshotFileName(n)).c_str());
  return kExitOk;
}

const Option kOptions[] = {
    {"--to", "DIR", "the folder to write into (created when missing)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"export", "write snapshots packed into a folder", "N...", 1, -1, kOptions,
                  "Writes each snapshot, compressed, into DIR as snapNNN.snp (replacing a file of\n"
                  "that name), ready to be imported on another computer. DIR is created when\n"
                  "missing; the data folder itself is refused. Prints the files written.\n",
                  "export 3 7 --to /mnt/usb/snapshots", runExport});

}  // namespace

}  // namespace keldrun
