// keldrun search: folders and files, or keys and values, of one snapshot that contain a text.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "cli/json_items.h"
#include "cli/snapshot_ref.h"
#include "engine/text.h"
#include "views/comparison_context.h"
#include "views/search.h"

namespace keldrun {

namespace {

int runSearch(CommandContext& ctx) {
  std::vector<std::string> rest;
  int section = kSectionRegistry;
  SearchOptions options;
  bool paths = false, names = false, data = false, json = false;
  for (size_t i = 0; i < ctx.args.size(); i++) {
    const std::string& a = ctx.args[i];
    if (a == "--section" && i + 1 < ctx.args.size()) {
      section = sectionFromName(ctx.args[++i]);
      if (section != kSectionRegistry && section != kSectionFiles) {
        return fail("search covers the registry and files sections only");
      }
    } else if (a == "--match-case") {
      options.matchCase = true;
    } else if (a == "--paths") {
      paths = true;
    } else if (a == "--names") {
      names = true;
    } else if (a == "--data") {
      data = true;
    } else if (a == "--json") {
      json = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      return fail("unknown option '" + a + "' (see 'keldrun search --help')");
    } else {
      rest.push_back(a);
    }
  }
  if (rest.size() != 2) return fail("search needs a snapshot and a text (see 'keldrun search --help')");
  // Without any of the three, the registry search looks everywhere, like the pane's defaults.
  if (!paths && !names && !data && section == kSectionRegistry) names = data = paths = true;
  options.paths = paths;
  options.names = names;
  options.data = data;
  if (section == kSectionFiles && (names || data)) return fail("--names and --data apply to the registry");

  std::string path, error;
  if (!resolveSnapshotRef(ctx.home, rest[0], &path, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(path, std::string(), kModeView, true)) {
    return fail("cannot open snapshot " + path + " (missing, unreadable, or not a complete snapshot file)");
  }
  std::u16string text = fromUtf8(rest[1]);
  SearchResult result = section == kSectionFiles ? searchFiles(&context, text, options)
                                                 : searchRegistry(&context, text, options);
  if (json) {
    std::string out = "{\"snapshot\":" + snapshotJson(path, context.infoA()) + ",\"section\":" +
                      jsonString(std::string(sectionName(section))) + ",\"sectionNumber\":" +
                      std::to_string(section) + ",\"text\":" + jsonString(text) +
                      ",\"searched\":" + (result.searched ? "true" : "false") + ",\"status\":" +
                      jsonString(result.status) + ",\"count\":" + std::to_string(result.rows.size()) +
                      ",\"matches\":[";
    for (size_t i = 0; i < result.rows.size(); i++) {
      const SearchRow& row = result.rows[i];
      out += std::string(i ? "," : "") + "\n{\"path\":" + jsonString(row.path) + ",\"name\":" +
             jsonString(row.name) + ",\"pathMatched\":" + (row.name == u"*" ? "true" : "false");
      if (section == kSectionRegistry) out += ",\"data\":" + jsonString(row.data);
      out += "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    if (!result.searched) return fail("search: " + result.status);
    return result.rows.empty() ? kExitDifferences : kExitOk;
  }
  for (const SearchRow& row : result.rows) {
    std::string line = toUtf8(row.path) + "\t" + toUtf8(row.name);
    if (section == kSectionRegistry) line += "\t" + toUtf8(row.data);
    std::printf("%s\n", line.c_str());
  }
  std::fprintf(stderr, "%s\n", result.status.c_str());
  if (!result.searched) return kExitError;
  return result.rows.empty() ? kExitDifferences : kExitOk;
}

Registration reg({"search", "find folders and files, or keys and values, in one snapshot",
                  "usage: keldrun search N TEXT [--section registry|files] [--match-case]\n"
                  "                     [--paths] [--names] [--data] [--json]\n"
                  "\n"
                  "Prints one tab-separated line per match: path and name (\"*\" when the path\n"
                  "itself matched), and for the registry the value's data. Case is ignored for\n"
                  "A-Z unless --match-case. Registry: --paths key paths, --names value names,\n"
                  "--data value data (all three when none is given). Files: file names, and\n"
                  "with --paths folder paths. The status line goes to standard error. Exit\n"
                  "status 0 when something was found, 1 when nothing, 2 on error.\n"
                  "\n"
                  "  --json   one JSON document: {\"snapshot\":{\"path\",\"name\",\"computer\",\"date\"},\n"
                  "           \"section\",\"sectionNumber\",\"text\",\"searched\",\"status\",\"count\",\n"
                  "           \"matches\":[{\"path\",\"name\",\"pathMatched\",\"data\"}]}\n"
                  "\n"
                  "example: keldrun search 3 readme --section files\n",
                  runSearch});

}  // namespace

}  // namespace keldrun
