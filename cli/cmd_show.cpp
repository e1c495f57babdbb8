// keldrun show: one snapshot as the screens show it in view mode, one node at a time.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/snapshot_ref.h"
#include "engine/text.h"
#include "views/comparison_context.h"
#include "views/list_columns.h"
#include "views/screen_model.h"
#include "views/tree_fill.h"

namespace keldrun {

namespace {

int runShow(CommandContext& ctx) {
  std::vector<std::string> positional;
  int section = -1;
  for (size_t i = 0; i < ctx.args.size(); i++) {
    const std::string& a = ctx.args[i];
    if (a == "--section" && i + 1 < ctx.args.size()) {
      section = sectionFromName(ctx.args[++i]);
      if (section < 0) return fail("unknown section '" + ctx.args[i] + "' (registry, files or apps)");
    } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
      return fail("unknown option '" + a + "' (see 'keldrun show --help')");
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty() || positional.size() > 2) return fail("show needs a snapshot and at most one path");
  std::string path, error;
  if (!resolveSnapshotRef(ctx.home, positional[0], &path, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(path, std::string(), kModeView, true)) return fail("cannot open snapshot " + path);
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
  std::printf("%s  %s  %s  (%s)\n", info.name.c_str(), info.date.c_str(), info.computer.c_str(),
              sectionName(section));

  MemoryTree tree;
  SnapshotScreenModel model(section, &context, &tree);
  tree.setEvents(&model);
  model.refresh(kViewFull);
  if (!model.message().empty()) {
    std::printf("%s\n", toUtf8(model.message()).c_str());
    return kExitOk;
  }
  TreeItem node = tree.root();
  if (positional.size() == 2) {
    std::u16string typed = fromUtf8(positional[1]);
    node = locateItem(&tree, typed);
    if (!node) return fail("no key, folder or group '" + positional[1] + "' in " + path);
    std::printf("%s\n", toUtf8(itemPath(&tree, node)).c_str());
  }
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

Registration reg({"show", "show the keys, folders or groups of one snapshot and their items",
                  "usage: keldrun show N [--section registry|files|apps] [PATH]\n"
                  "\n"
                  "Prints one snapshot as the screens show it in view mode: the children of the\n"
                  "node at PATH (the roots when no PATH is given; a '+' marks children that have\n"
                  "children of their own) and the list of that node: values, files or application\n"
                  "records with the columns of the screens. N is a snapshot number of the\n"
                  "workspace (DIR/data/snapNNN.snp) or the path of a snapshot file. PATH is matched\n"
                  "without regard to case. The section defaults to the first one the snapshot\n"
                  "recorded.\n"
                  "\n"
                  "example: keldrun show 3 --section registry 'HKEY_LOCAL_MACHINE\\SOFTWARE'\n",
                  runShow});

}  // namespace

}  // namespace keldrun
