// keldrun show: one snapshot as the screens show it in view mode, one node at a time.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "cli/json_items.h"
#include "cli/snapshot_ref.h"
#include "engine/text.h"
#include "views/comparison_context.h"
#include "views/list_columns.h"
#include "views/screen_model.h"
#include "views/tree_fill.h"

namespace keldrun {

namespace {

// The digits of a grouped size text ("1,234" gives 1234); -1 when it is not one.
long long sizeOfText(const std::u16string& text) {
  long long n = 0;
  bool any = false;
  for (char16_t c : text) {
    if (c == u',') continue;
    if (c < u'0' || c > u'9' || n > (1LL << 56)) return -1;
    n = n * 10 + (c - u'0');
    any = true;
  }
  return any ? n : -1;
}

int runShow(CommandContext& ctx) {
  const std::vector<std::string>& positional = ctx.operands();
  int section = -1;
  if (ctx.has("--section")) {
    section = sectionFromName(ctx.value("--section"));
    if (section < 0) return failValue("--section", ctx.value("--section"), "registry, files or apps");
  }
  bool json = ctx.has("--json");
  std::string path, error;
  if (!resolveSnapshotRef(ctx.home, positional[0], &path, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(path, std::string(), kModeView, true)) {
    return fail("cannot open snapshot " + path + " (missing, unreadable, or not a complete snapshot file)");
  }
  const SnapshotInfo& info = context.infoA();
  if (section < 0) {
    section = kSectionFiles;
    for (int s = 0; s < kSectionCount; s++) {
      if (info.sectionOffset[s]) {
        section = s;
        break;
      }
    }
  }
  MemoryTree tree;
  SnapshotScreenModel model(section, &context, &tree);
  tree.setEvents(&model);
  model.refresh(kViewFull);
  TreeItem node = tree.root();
  if (model.message().empty() && positional.size() == 2) {
    node = locateItem(&tree, fromUtf8(positional[1]));
    if (!node) return fail("no key, folder or group '" + positional[1] + "' in " + path);
  }
  std::u16string nodePath = node != tree.root() ? itemPath(&tree, node) : std::u16string();

  if (json) {
    std::string out = "{\"snapshot\":" + snapshotJson(path, info) + ",\"section\":" +
                      jsonString(std::string(sectionName(section))) + ",\"sectionNumber\":" +
                      std::to_string(section) + ",\"path\":" + jsonString(nodePath) + ",\"message\":" +
                      (model.message().empty() ? std::string("null") : jsonString(model.message())) +
                      columnTitlesJson(section) + ",\"children\":[";
    bool first = true;
    if (model.message().empty()) {
      for (TreeItem child = tree.firstChild(node); child; child = tree.nextSibling(child)) {
        out += std::string(first ? "" : ",") + "\n{\"name\":" + jsonString(tree.text(child)) +
               ",\"hasChildren\":" + (tree.firstChild(child) ? "true" : "false") + "}";
        first = false;
      }
    }
    out += "],\"rows\":[";
    first = true;
    if (model.message().empty() && node != tree.root()) {
      std::vector<std::string> titles = columnTitles(section);
      for (const ListRow& row : model.rows()) {
        out += std::string(first ? "" : ",") + "\n{\"label\":" + jsonString(std::string(row.label)) +
               ",\"name\":" + jsonString(row.columns.empty() ? std::u16string() : row.columns[0]);
        // "size": the Size (files) or File size (apps) column as a number.
        size_t sizeColumn = section == kSectionFiles ? 1 : section == kSectionApps ? 6 : 0;
        if (sizeColumn && sizeColumn < row.columns.size()) {
          long long n = sizeOfText(row.columns[sizeColumn]);
          if (n >= 0) out += ",\"size\":" + std::to_string(n);
        }
        out += ",\"columns\":[";
        for (size_t c = 0; c + 1 < row.columns.size() && c + 1 < titles.size(); c++)
          out += (c ? "," : "") + jsonString(row.columns[c]);
        out += "]}";
        first = false;
      }
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return kExitOk;
  }

  std::printf("%s  %s  %s  (%s)\n", info.name.c_str(), info.date.c_str(), info.computer.c_str(),
              sectionName(section));
  if (!model.message().empty()) {
    std::printf("%s\n", toUtf8(model.message()).c_str());
    return kExitOk;
  }
  if (positional.size() == 2) std::printf("%s\n", toUtf8(nodePath).c_str());
  for (TreeItem child = tree.firstChild(node); child; child = tree.nextSibling(child)) {
    bool more = tree.firstChild(child) != 0;
    std::printf("  %s %s\n", more ? "+" : " ", toUtf8(tree.text(child)).c_str());
  }
  if (node != tree.root() && !model.rows().empty()) {
    std::vector<std::string> titles = columnTitles(section);
    std::string line;
    for (const std::string& t : titles) line += (line.empty() ? "  " : " | ") + t;
    std::printf("\n%s\n", line.c_str());
    for (const ListRow& row : model.rows()) {
      std::string text;
      for (const std::u16string& c : row.columns) text += (text.empty() ? "  " : " | ") + toUtf8(c);
      std::printf("%s\n", text.c_str());
    }
  }
  return kExitOk;
}

const Option kOptions[] = {
    {"--section", "S", "registry, files or apps (default: the first one the snapshot recorded)"},
    {"--json", nullptr, "one JSON document instead of the text (see docs/cli.md)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"show", "show the keys, folders or groups of one snapshot and their items", "N [PATH]", 1, 2,
                  kOptions,
                  "Prints one snapshot as the screens show it in view mode: the children of the\n"
                  "node at PATH (the roots when no PATH is given; a '+' marks children that have\n"
                  "children of their own) and the list of that node: values, files or application\n"
                  "records with the columns of the screens. N is a snapshot number of the\n"
                  "workspace (DIR/data/snapNNN.snp) or the path of a snapshot file. PATH is matched\n"
                  "without regard to case.\n",
                  "show 3 --section registry 'HKEY_LOCAL_MACHINE\\SOFTWARE'", runShow});

}  // namespace

}  // namespace keldrun
