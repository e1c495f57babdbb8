// keldrun export N... --to DIR: packed copies of snapshots, for another computer.
#include <cstdio>
#include <string>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "platform/env.h"
#include "shell/catalog.h"

namespace keldrun {

namespace {

int runExport(CommandContext& ctx) {
  std::string folder;
  std::vector<std::string> refs;
  const std::vector<std::string>& a = ctx.args;
  for (size_t i = 0; i < a.size(); i++) {
    if (a[i] == "--to" && i + 1 < a.size())
      folder = a[++i];
    else if (a[i].rfind("--to=", 0) == 0)
      folder = a[i].substr(5);
    else if (!a[i].empty() && a[i][0] == '-')
      return fail("export: unknown option '" + a[i] + "' (see 'keldrun export --help')");
    else
      refs.push_back(a[i]);
  }
  if (refs.empty() || folder.empty()) return fail("export: give snapshot numbers and --to DIR (see 'keldrun export --help')");
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

Registration reg({"export", "write snapshots packed into a folder",
                  "usage: keldrun [--home DIR] export N... --to DIR\n"
                  "\n"
                  "Writes each snapshot, compressed, into DIR as snapNNN.snp (replacing a file of\n"
                  "that name), ready to be imported on another computer. DIR is created when\n"
                  "missing; the data folder itself is refused. Prints the files written.\n"
                  "\n"
                  "example: keldrun export 3 7 --to /mnt/usb/snapshots\n",
                  runExport});

}  // namespace

}  // namespace keldrun
