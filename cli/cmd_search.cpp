// keldrun search: folders and files, or keys and values, of one snapshot that contain a text.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/command.h"
#include "cli/printers.h"
#include "cli/snapshot_ref.h"
#include "views/comparison_context.h"
#include "views/search.h"

namespace keldrun {

namespace {

int runSearch(CommandContext& ctx) {
  const std::vector<std::string>& rest = ctx.operands();
  int section = kSectionRegistry;
  if (!sectionOption(ctx.options, "--section", kRegistryOrFiles, &section)) return kExitError;
  SearchOptions options;
  options.matchCase = ctx.has("--match-case");
  bool paths = ctx.has("--paths"), names = ctx.has("--names"), data = ctx.has("--data");
  // Without any of the three, the registry search looks everywhere, like the pane's defaults.
  if (!paths && !names && !data && section == kSectionRegistry) names = data = paths = true;
  options.paths = paths;
  options.names = names;
  options.data = data;
  if (section == kSectionFiles && (names || data))
    return failConflict(names ? "--names" : "--data", "--section files");

  OutputForm form;
  if (!chooseOutputForm(ctx, &form)) return kExitError;
  std::string path, error;
  if (!resolveSnapshotRef(ctx.home, rest[0], &path, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(path, std::string(), kModeView, true)) {
    return fail("cannot open snapshot " + path + " (missing, unreadable, or not a complete snapshot file)");
  }
  std::u16string text = fromUtf8(rest[1]);
  Output out(stdout);
  std::unique_ptr<SearchPrinter> printer = makeSearchPrinter(form, &out);
  printer->begin({path, &context.infoA()}, section, text);
  SearchResult result = searchSection(&context, section, text, options, printer.get());
  printer->end(result);
  if (!out.finish()) return fail("cannot write the output");
  if (!result.searched) return fail("search: " + result.status);
  if (form == OutputForm::kText) std::fprintf(stderr, "%s\n", result.status.c_str());
  return result.count == 0 ? kExitDifferences : kExitOk;
}

const Option kOptions[] = {
    {"--section", "S", "registry (the default) or files"},
    {"--match-case", nullptr, "match the case of A-Z too"},
    {"--paths", nullptr, "search key paths, or with files folder paths"},
    {"--names", nullptr, "search value names (registry)"},
    {"--data", nullptr, "search value data (registry)"},
    {"--json", nullptr, "one JSON document instead of the lines (see docs/cli.md)"},
    {"--jsonl", nullptr, "one JSON object per line for each match (see docs/cli.md)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"search", "find folders and files, or keys and values, in one snapshot", "N TEXT", 2, 2,
                  kOptions,
                  "Prints one tab-separated line per match: path and name (\"*\" when the path\n"
                  "itself matched), and for the registry the value's data. Case is ignored for\n"
                  "A-Z unless --match-case. The registry search looks at key paths, value names\n"
                  "and value data (all three when none of --paths, --names, --data is given);\n"
                  "the files search at file names, and with --paths at folder paths. The status\n"
                  "line goes to standard error. Exit status 0 when something was found, 1 when\n"
                  "nothing, 2 on error.\n",
                  "search 3 readme --section files", runSearch});

}  // namespace

}  // namespace keldrun
