// keldrun show: one snapshot as the screens show it in view mode, one node at a time.
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/command.h"
#include "cli/printers.h"
#include "cli/snapshot_ref.h"
#include "views/comparison_context.h"
#include "views/screen_model.h"
#include "views/tree_fill.h"

namespace keldrun {

namespace {

// Lets the tree expand through the screen model but keeps selection from filling the model's
// list: show prints the node's rows straight from the content table, without the list's
// strings per row.
class ExpandOnly : public TreeEvents {
 public:
  explicit ExpandOnly(TreeEvents* model) : model_(model) {}
  void itemExpanding(TreeItem item) override { model_->itemExpanding(item); }
  void selectionChanged(TreeItem) override {}

 private:
  TreeEvents* model_;
};

int runShow(CommandContext& ctx) {
  const std::vector<std::string>& positional = ctx.operands();
  int section = -1;
  OutputForm form;
  if (!sectionOption(ctx.options, "--section", kAnySection, &section) || !chooseOutputForm(ctx, &form))
    return kExitError;
  std::string path, error;
  if (!resolveSnapshotRef(ctx.home, positional[0], &path, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(path, std::string(), kModeView, true)) {
    return fail("cannot open snapshot " + path + " (missing, unreadable, or not a complete snapshot file)");
  }
  checkSnapshots(&context);
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
  ExpandOnly events(&model);
  tree.setEvents(&events);
  model.refresh(kViewFull);
  TreeItem node = tree.root();
  if (model.message().empty() && positional.size() == 2) {
    node = locateItem(&tree, fromUtf8(positional[1]));
    if (!node) return fail("no key, folder or group '" + positional[1] + "' in " + path);
  }
  std::u16string nodePath = node != tree.root() ? itemPath(&tree, node) : std::u16string();

  Output out(stdout);
  std::unique_ptr<ShowPrinter> printer = makeShowPrinter(form, &out);
  printer->begin({path, &info}, section, nodePath, model.message());
  if (model.message().empty()) {
    for (TreeItem child = tree.firstChild(node); child; child = tree.nextSibling(child))
      printer->child(tree.text(child), tree.firstChild(child) != 0);
    // The list the screen shows when the node is selected.
    const NodeRecord* record = model.records().get(tree.data(node));
    ContentComparison content;
    if (node != tree.root() && record &&
        context.compareContent(section, record->contentA, record->contentB, &content)) {
      for (const ContentRow& row : content.rows()) printer->row(row);
    }
  }
  printer->end();
  if (!out.finish()) return fail("cannot write the output");
  return damageStatus(&context, positional[0], std::string(), kExitOk);
}

const Option kOptions[] = {
    {"--section", "S", "registry, files or apps (default: the first one the snapshot recorded)"},
    {"--json", nullptr, "one JSON document instead of the text (see docs/cli.md)"},
    {"--jsonl", nullptr, "one JSON object per line for each child and row (see docs/cli.md)"},
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
