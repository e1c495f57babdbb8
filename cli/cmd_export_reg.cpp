// keldrun export-reg: a registry key of a snapshot, or the script between two snapshots, as a
// registry editor file.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "cli/output.h"
#include "cli/snapshot_ref.h"
#include "reports/reg_export.h"
#include "cli/workspace_noise.h"
#include "views/comparison_context.h"

namespace keldrun {

namespace {

int runExportReg(CommandContext& ctx) {
  const std::vector<std::string>& rest = ctx.operands();
  std::string out = ctx.value("--out");
  std::string modeName = ctx.value("--mode");
  if (out.empty()) return failUsage(ctx, "export-reg needs --out FILE.reg");
  bool two = rest.size() == 3;
  int mode;
  if (modeName.empty()) {
    mode = two ? kRegExportChange : kRegExportContent;
  } else if (modeName == "content") {
    mode = kRegExportContent;
  } else if (modeName == "change") {
    mode = kRegExportChange;
  } else if (modeName == "restore") {
    mode = kRegExportRestore;
  } else {
    return failValue("--mode", modeName, "content, change or restore");
  }
  if (mode != kRegExportContent && !two) return failUsage(ctx, "--mode " + modeName + " needs two snapshots");
  if (mode == kRegExportContent && two) return failUsage(ctx, "--mode content takes one snapshot");

  std::string pathA, pathB, error;
  if (!resolveSnapshotRef(ctx.home, rest[0], &pathA, &error)) return fail(error);
  if (two && !resolveSnapshotRef(ctx.home, rest[1], &pathB, &error)) return fail(error);
  if (!checkOutputTarget(ctx.home, out, {pathA, pathB}, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(pathA, pathB, two ? kModeCompare : kModeView, true)) {
    return fail(two ? "Cannot open snapshots " + pathA + " and " + pathB : "Cannot open snapshot " + pathA);
  }
  if (two) useWorkspaceNoise(ctx, &context);
  checkSnapshots(&context);
  std::string message;
  std::vector<std::u16string> leftOut;
  if (!exportKey(&context, mode, fromUtf8(rest.back()), out, &message, &leftOut)) return fail(message);
  for (const std::u16string& name : leftOut) {
    std::fprintf(stderr, "keldrun: left out, a .reg file cannot name it: %s\n", printable(name).c_str());
  }
  if (!leftOut.empty()) {
    damageStatus(&context, rest[0], two ? rest[1] : std::string(), kExitOk);
    return fail("Key exported without " + std::to_string(leftOut.size()) + " keys or values");
  }
  std::printf("Key exported\n");
  return damageStatus(&context, rest[0], two ? rest[1] : std::string(), kExitOk);
}

const Option kOptions[] = {
    {"--out", "FILE", "the .reg file to write"},
    {"--mode", "M", "content (one snapshot), change (the default with two) or restore"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"export-reg", "export a registry key to a .reg file (content, CHANGE or RESTORE)",
                  "A [B] KEY", 2, 3, kOptions,
                  "With one snapshot, writes KEY and all its subkeys as the snapshot recorded them\n"
                  "(mode content). With two (A older, B newer), writes a script of what differs:\n"
                  "change turns A's state of the key into B's (the default), restore turns B's\n"
                  "back into A's. KEY is a full path such as HKEY_LOCAL_MACHINE\\Software\\Vendor.\n"
                  "A script leaves alone the keys and values on the workspace's noise list.\n",
                  "export-reg 1 2 'HKEY_CURRENT_USER\\Software' --out undo.reg --mode restore", runExportReg});

}  // namespace

}  // namespace keldrun
