// keldrun report: the HTML report of one snapshot's data, or of the differences between two.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/snapshot_ref.h"
#include "engine/text.h"
#include "reports/report_generation.h"
#include "reports/report_writer.h"
#include "views/comparison_context.h"

namespace keldrun {

namespace {

bool parseCount(const std::string& text, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < 0 || v > 0x7FFFFFFF) return false;
  *out = v;
  return true;
}

// "registry,files,apps" (any of them, in any order) into the three flags.
bool parseSections(const std::string& text, bool sections[kSectionCount]) {
  for (int i = 0; i < kSectionCount; i++) sections[i] = false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    int s = sectionFromName(text.substr(start, end - start));
    if (s < 0) return false;
    sections[s] = true;
    start = end + 1;
  }
  return true;
}

int runReport(CommandContext& ctx) {
  std::vector<std::string> refs;
  std::string out;
  DifferencesReportOptions options;
  options.split = false;
  bool splitGiven = false;
  for (size_t i = 0; i < ctx.args.size(); i++) {
    const std::string& a = ctx.args[i];
    bool hasValue = i + 1 < ctx.args.size();
    long n = 0;
    if (a == "--out" && hasValue) {
      out = ctx.args[++i];
    } else if (a == "--split" && hasValue) {
      if (!parseCount(ctx.args[++i], &n)) return fail("--split needs a number of lines");
      options.split = true;
      splitGiven = true;
      options.linesPerFile = int(n);
    } else if (a == "--no-added") {
      options.added = false;
    } else if (a == "--no-modified") {
      options.modified = false;
    } else if (a == "--no-deleted") {
      options.deleted = false;
    } else if (a == "--sections" && hasValue) {
      if (!parseSections(ctx.args[++i], options.sections)) {
        return fail("unknown section in '" + ctx.args[i] + "' (registry, files, apps)");
      }
    } else if (a == "--path" && hasValue) {
      options.pathPrefix = fromUtf8(ctx.args[++i]);
    } else if ((a == "--binary-limit" || a == "--string-limit") && hasValue) {
      if (!parseCount(ctx.args[++i], &n)) return fail(a + " needs a number (0 = no limit)");
      bool binary = a == "--binary-limit";
      (binary ? options.limitBinary : options.limitString) = n != 0;
      (binary ? options.binaryLimit : options.stringLimit) = uint32_t(n);
    } else if (!a.empty() && a[0] == '-') {
      return fail("unknown option '" + a + "' (see 'keldrun report --help')");
    } else {
      refs.push_back(a);
    }
  }
  if (refs.empty() || refs.size() > 2) return fail("report needs one or two snapshots (see 'keldrun report --help')");
  if (out.empty()) return fail("report needs --out FILE.htm");
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

  ComparisonContext context;
  ReportWriter writer;
  std::string message;
  bool ok;
  if (refs.size() == 1) {
    if (!context.openFiles(pathA, std::string(), kModeView, true)) return fail("Cannot open snapshot " + pathA);
    int limit = splitGiven ? snapshotExportPageLimit(true, options.linesPerFile) : 0;
    ok = generateSnapshotReport(&context, out, limit, &writer, &message);
  } else {
    if (!context.openFiles(pathA, pathB, kModeCompare, false)) {
      return fail("Cannot open snapshots " + pathA + " and " + pathB);
    }
    ok = generateDifferencesReport(&context, options, out, &writer, &message);
  }
  if (!ok) return fail(message);
  std::printf("%s\n", exportDoneMessage(writer).c_str());
  return kExitOk;
}

Registration reg({"report", "write an HTML report of a snapshot or of the differences of two",
                  "usage: keldrun report A [B] --out FILE.htm [options]\n"
                  "\n"
                  "With one snapshot, writes all of its data; with two (A older, B newer), what\n"
                  "changed from A to B. A snapshot is a catalog number or a snapshot file path.\n"
                  "\n"
                  "  --split LINES       split into pages of at least LINES rows (at least 10000;\n"
                  "                      for one snapshot, 0 = no split) with an index page\n"
                  "  --no-added          leave out added items\n"
                  "  --no-modified       leave out modified items\n"
                  "  --no-deleted        leave out deleted items\n"
                  "  --sections LIST     sections to include: registry,files,apps (default all)\n"
                  "  --path PREFIX       only keys or folders at or below PREFIX\n"
                  "  --binary-limit N    bytes of binary data shown per value (default 50; 0 = all)\n"
                  "  --string-limit N    characters of string data per value (default 300; 0 = all)\n"
                  "\n"
                  "example: keldrun report 1 2 --out changes.htm --split 30000 --no-deleted\n",
                  runReport});

}  // namespace

}  // namespace keldrun
