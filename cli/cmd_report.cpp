// keldrun report: the HTML report of one snapshot's data, or of the differences between two.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "cli/snapshot_ref.h"
#include "reports/report_generation.h"
#include "reports/report_writer.h"
#include "cli/workspace_noise.h"
#include "views/comparison_context.h"

namespace keldrun {

namespace {

constexpr int64_t kMaxCount = 0x7FFFFFFF;

int runReport(CommandContext& ctx) {
  const std::vector<std::string>& refs = ctx.operands();
  std::string out = ctx.value("--out");
  DifferencesReportOptions options;
  options.split = false;
  bool splitGiven = ctx.has("--split");
  int64_t n = 0;
  if (!numberOption(ctx.options, "--split", 0, kMaxCount, "a number of lines", &n)) return kExitError;
  if (splitGiven) {
    options.split = true;
    options.linesPerFile = int(n);
  }
  options.added = !ctx.has("--no-added");
  options.modified = !ctx.has("--no-modified");
  options.deleted = !ctx.has("--no-deleted");
  if (!sectionListOption(ctx.options, "--sections", kAnySection, options.sections)) return kExitError;
  options.pathPrefix = fromUtf8(ctx.value("--path"));
  for (const char* limit : {"--binary-limit", "--string-limit"}) {
    if (!ctx.has(limit)) continue;
    if (!numberOption(ctx.options, limit, 0, kMaxCount, "a number, 0 = no limit", &n)) return kExitError;
    bool binary = limit[2] == 'b';
    (binary ? options.limitBinary : options.limitString) = n != 0;
    (binary ? options.binaryLimit : options.stringLimit) = uint32_t(n);
  }
  // The report of one snapshot writes every section with full values: options that would
  // narrow it are refused rather than silently ignored.
  if (refs.size() == 1) {
    for (const char* option : {"--no-added", "--no-modified", "--no-deleted", "--sections", "--path",
                               "--binary-limit", "--string-limit"}) {
      if (ctx.has(option))
        return failUsage(ctx, std::string(option) + " applies to the differences of two snapshots only");
    }
  }
  if (out.empty()) return failUsage(ctx, "report needs --out FILE.htm");
  if (out.size() < 5) return fail("the report file name must end in .htm");
  if (!options.added && !options.modified && !options.deleted) {
    return fail("nothing to report: added, modified and deleted items are all excluded");
  }
  if (!options.sections[0] && !options.sections[1] && !options.sections[2]) {
    return fail("nothing to report: no section chosen");
  }
  std::string pathA, pathB, error;
  if (!resolveSnapshotRef(ctx.home, refs[0], &pathA, &error)) return fail(error);
  if (refs.size() == 2 && !resolveSnapshotRef(ctx.home, refs[1], &pathB, &error)) return fail(error);
  if (!checkOutputTarget(ctx.home, out, {pathA, pathB}, &error)) return fail(error);

  ComparisonContext context;
  ReportWriter writer;
  std::string message;
  bool ok;
  if (refs.size() == 1) {
    if (!context.openFiles(pathA, std::string(), kModeView, true)) return fail("Cannot open snapshot " + pathA);
    checkSnapshots(&context);
    int limit = splitGiven ? snapshotExportPageLimit(true, options.linesPerFile) : 0;
    ok = generateSnapshotReport(&context, out, limit, &writer, &message);
  } else {
    if (!context.openFiles(pathA, pathB, kModeCompare, false)) {
      return fail("Cannot open snapshots " + pathA + " and " + pathB);
    }
    useWorkspaceNoise(ctx, &context);
    checkSnapshots(&context);
    ok = generateDifferencesReport(&context, options, out, &writer, &message);
  }
  if (!ok) return fail(message);
  std::printf("%s\n", exportDoneMessage(writer).c_str());
  return damageStatus(&context, refs[0], refs.size() == 2 ? refs[1] : std::string(), kExitOk);
}

const Option kOptions[] = {
    {"--out", "FILE", "the report file to write (FILE.htm; the pages of a split report are named after it)"},
    {"--split", "LINES", "split into pages of at least LINES rows (at least 10000; for one snapshot, 0 = no split) with an index page"},
    {"--no-added", nullptr, "leave out added items"},
    {"--no-modified", nullptr, "leave out modified items"},
    {"--no-deleted", nullptr, "leave out deleted items"},
    {"--sections", "LIST", "sections to include: registry,files,apps (default all)"},
    {"--path", "PREFIX", "only keys or folders at or below PREFIX"},
    {"--binary-limit", "N", "bytes of binary data shown per value (default 50; 0 = all)"},
    {"--string-limit", "N", "characters of string data per value (default 300; 0 = all)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"report", "write an HTML report of a snapshot or of the differences of two", "A [B]", 1, 2,
                  kOptions,
                  "With one snapshot, writes all of its data; with two (A older, B newer), what\n"
                  "changed from A to B. A snapshot is a catalog number or a snapshot file path.\n"
                  "Differences on the workspace's noise list are left out, each section saying\n"
                  "how many (see 'keldrun noise --help').\n",
                  "report 1 2 --out changes.htm --split 30000 --no-deleted", runReport});

}  // namespace

}  // namespace keldrun
