// keldrun compare: the differences between two snapshots as an indented tree, JSON or JSON lines.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/command.h"
#include "cli/printers.h"
#include "cli/snapshot_ref.h"
#include "cli/workspace_noise.h"
#include "engine/compare.h"
#include "engine/section_filter.h"
#include "views/comparison_context.h"
#include "views/screen_model.h"

namespace keldrun {

namespace {

// Walks one section and hands the changed nodes (every node with --full) and their rows to the
// printer. --path keeps the nodes at or below the prefix, and the ones on the way to it, by the
// whole-name rule of the section filters. While noise is hidden, a modified node is printed
// only once something below or in it is: a key whose every change is noise is not a difference.
class DifferenceWalk : public TreeVisitor {
 public:
  DifferenceWalk(ComparisonContext* context, int section, const SectionFilter& prefix, ComparePrinter* printer)
      : context_(context), section_(section), prefix_(prefix), printer_(printer),
        defer_(context->hidesNoise(section) && !context->showNoise() && !context->full()) {}

  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
             const TreeEntry* b, int f) override {
    int place = testPath(prefix_, path);
    if (place == kPathOutside) return false;
    bool inside = place == kPathInside;
    NodeState s = context_->nodeState(a, b, f);
    bool full = context_->full();
    if (!full) {
      if (s.state == kUnchanged) return false;
      if (s.state == kExcluded && !s.expandable) return false;
    }
    int depth = depthOf(path, name);
    Node node{path, name, depth < 0 ? 0 : depth, s.state, s.ownChanged, context_->noiseNode(), inside};
    while (!pending_.empty() && pending_.back().depth >= node.depth) pending_.pop_back();
    bool rows = false;
    if (inside && f == kPathInside && (s.ownChanged || full)) {
      uint32_t ca = a ? a->contentTable : 0, cb = b ? b->contentTable : 0;
      rows = (ca || cb) && context_->compareContent(section_, ca, cb, &content_) &&
             !content_.rows().empty();
    }
    pending_.push_back(std::move(node));
    if (!defer_ || rows || s.state == kAdded || s.state == kDeleted) {
      flushPending();
      if (rows) {
        for (const ContentRow& row : content_.rows()) {
          if (row.state != kUnchanged) differences = true;
          printer_->row(row);
        }
      }
    }
    return s.expandable || (full && ((a && a->childTable) || (b && b->childTable)));
  }

  bool printed = false;
  bool differences = false;

 private:
  struct Node {
    std::u16string path, name;
    int depth, state;
    bool ownChanged, noise, inside;
    bool printed = false;
  };
  // The depth of a node: the backslashes of its path, less a last one. Counted from its
  // parent's, which the depth-first walk left on ancestors_, as a path is long in a deep tree:
  // the path is the parent's, a backslash unless the parent's ends in one, and the name.
  int depthOf(const std::u16string& path, const std::u16string& name) {
    auto backslashes = [](const std::u16string& s, size_t from) {
      int n = 0;
      for (size_t i = from; i < s.size(); i++) n += s[i] == u'\\';
      return n;
    };
    bool endsInBackslash = !path.empty() && path.back() == u'\\';
    size_t parentEnd = name.size() <= path.size() ? path.size() - name.size() : 0;  // where the name starts
    while (!ancestors_.empty() && ancestors_.back().childStart > parentEnd) ancestors_.pop_back();
    int depth = !ancestors_.empty() && ancestors_.back().childStart == parentEnd
                    ? ancestors_.back().depth + 1 + backslashes(path, parentEnd)
                    : backslashes(path, 0);
    depth -= endsInBackslash;
    ancestors_.push_back({path.size() + (endsInBackslash ? 0 : 1), depth});
    return depth;
  }

  // Prints the nodes on the path not printed yet, down to the current one.
  void flushPending() {
    for (Node& n : pending_) {
      if (n.printed) continue;
      printer_->setNodeNoise(n.noise);
      printer_->node(n.path, n.name, n.depth, n.state, n.ownChanged);
      n.printed = printed = true;
      if (n.inside && (n.state == kModified || n.state == kAdded || n.state == kDeleted)) differences = true;
    }
  }

  ComparisonContext* context_;
  int section_;
  const SectionFilter& prefix_;
  ComparePrinter* printer_;
  bool defer_;
  ContentComparison content_;
  std::vector<Node> pending_;  // the nodes on the path to the current one, printed or not
  struct Ancestor {
    size_t childStart;  // where the names of its children start in their paths
    int depth;          // before the clamp at 0
  };
  std::vector<Ancestor> ancestors_;  // the nodes visited on the path to the current one
};

// "N differences hidden as noise (registry N, files N; --with-noise shows them)" on stderr.
void reportHidden(const ComparisonContext& context) {
  if (context.hiddenTotal() == 0) return;
  std::string parts;
  for (int section = 0; section < kSectionCount; section++) {
    if (context.hiddenCount(section) == 0) continue;
    parts += std::string(parts.empty() ? "" : ", ") + sectionName(section) + " " +
             std::to_string(context.hiddenCount(section));
  }
  std::fprintf(stderr, "%s (%s; --with-noise shows them)\n",
               toUtf8(hiddenNoiseText(context.hiddenTotal())).c_str(), parts.c_str());
}

int runCompare(CommandContext& ctx) {
  const std::vector<std::string>& refs = ctx.operands();
  int only = -1;
  OutputForm form;
  if (!sectionOption(ctx.options, "--section", kAnySection, &only) || !chooseOutputForm(ctx, &form))
    return kExitError;
  std::string pathA, pathB, error;
  if (!resolveSnapshotRef(ctx.home, refs[0], &pathA, &error)) return fail(error);
  if (!resolveSnapshotRef(ctx.home, refs[1], &pathB, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(pathA, pathB, kModeCompare, ctx.has("--full"))) {
    return fail("cannot open snapshots " + pathA + " and " + pathB +
                " (missing, unreadable, or not a complete snapshot file)");
  }
  context.setNormalise(ctx.has("--normalise"));
  SectionFilter prefix = pathOption(ctx.options);
  useWorkspaceNoise(ctx, &context);

  Output out(stdout);
  std::unique_ptr<ComparePrinter> printer = printInBackground(makeComparePrinter(form, &out, ctx.color));
  printer->begin({pathA, &context.infoA()}, {pathB, &context.infoB()});
  bool differences = false;
  for (int section = 0; section < kSectionCount; section++) {
    if (only >= 0 && section != only) continue;
    const char16_t* uncompared = uncomparedMessage(&context, section);
    std::string message = uncompared ? toUtf8(uncompared) : std::string();
    printer->beginSection(section);
    if (message.empty()) {
      DifferenceWalk walk(&context, section, prefix, printer.get());
      context.walkSection(section, &walk);
      if (!walk.printed) message = toUtf8(kMessageNoDifferences);
      differences = differences || walk.differences;
    }
    printer->setHiddenNoise(context.hiddenCount(section));
    printer->endSection(message);
  }
  printer->end(differences);
  if (!out.finish()) return fail("cannot write the output");
  reportHidden(context);
  return damageStatus(&context, refs[0], refs[1], differences ? kExitDifferences : kExitOk);
}

const Option kOptions[] = {
    {"--section", "S", "only this section: registry, files or apps"},
    {"--full", nullptr, "also the unchanged nodes and rows (\"-\")"},
    {"--path", "P", "only nodes at or below the path P (whole names; case does not matter)"},
    {"--normalise", nullptr,
     "compare across machines: user SIDs, profile folders and the computer name (in values) "
     "become placeholders on both sides (see docs/cli.md)"},
    {"--json", nullptr, "one JSON document instead of the tree (see docs/cli.md)"},
    {"--jsonl", nullptr, "one JSON object per line for each node and row (see docs/cli.md)"},
    {"--with-noise", nullptr, "also what the noise list hides, marked as noise"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"compare", "show what changed between two snapshots", "A B", 2, 2, kOptions,
                  "Compares snapshot A (older) with snapshot B (newer), each given by its number in\n"
                  "the workspace (the file DIR/data/snapNNN.snp) or by the path of a snapshot file,\n"
                  "and prints, per section, the changed keys, folders and application groups as an\n"
                  "indented tree with their state (modified, added, deleted, or excluded: on the\n"
                  "way to the paths both snapshots recorded). Below a node whose own values, files\n"
                  "or records changed come its rows: \"del\" and \"add\" for items of one side,\n"
                  "\"old\" and \"new\" for an item that changed, with the columns of the screens\n"
                  "(registry: name, type, data; files: name, size, date; apps: name, version,\n"
                  "company, status, startup, file, size, date). Colours follow the screens on a\n"
                  "terminal.\n"
                  "Differences on the workspace's noise list (noise.txt, else the default list;\n"
                  "see 'keldrun noise --help') are left out and counted on standard error;\n"
                  "--with-noise shows them marked as noise.\n"
                  "Exit status: 0 no differences, 1 differences, 2 error or a damaged snapshot\n"
                  "(only the tables whose digests differ are read, and checked).\n",
                  "compare 1 2 --section files --path 'c:\\program files'", runCompare});

}  // namespace

}  // namespace keldrun
