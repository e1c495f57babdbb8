// keldrun compare: the differences between two snapshots as an indented tree, JSON or JSON lines.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/command.h"
#include "cli/printers.h"
#include "cli/snapshot_ref.h"
#include "engine/compare.h"
#include "engine/section_filter.h"
#include "views/comparison_context.h"
#include "views/screen_model.h"

namespace keldrun {

namespace {

// Walks one section and hands the changed nodes (every node with --full) and their rows to the
// printer. --path keeps the nodes at or below the prefix, and the ones on the way to it, by the
// whole-name rule of the section filters.
class DifferenceWalk : public TreeVisitor {
 public:
  DifferenceWalk(ComparisonContext* context, int section, const SectionFilter& prefix, ComparePrinter* printer)
      : context_(context), section_(section), prefix_(prefix), printer_(printer) {}

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
    int depth = 0;
    for (char16_t c : path) depth += c == u'\\';
    if (!path.empty() && path.back() == u'\\') depth--;
    printer_->node(path, name, depth < 0 ? 0 : depth, s.state, s.ownChanged);
    printed = true;
    if (inside && (s.state == kModified || s.state == kAdded || s.state == kDeleted)) differences = true;
    if (inside && f == kPathInside && (s.ownChanged || full)) {
      uint32_t ca = a ? a->contentTable : 0, cb = b ? b->contentTable : 0;
      if ((ca || cb) && context_->compareContent(section_, ca, cb, &content_)) {
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
  ComparisonContext* context_;
  int section_;
  const SectionFilter& prefix_;
  ComparePrinter* printer_;
  ContentComparison content_;
};

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

  Output out(stdout);
  std::unique_ptr<ComparePrinter> printer = makeComparePrinter(form, &out, ctx.color);
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
    printer->endSection(message);
  }
  printer->end(differences);
  if (!out.finish()) return fail("cannot write the output");
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
                  "Exit status: 0 no differences, 1 differences, 2 error or a damaged snapshot\n"
                  "(only the tables whose digests differ are read, and checked).\n",
                  "compare 1 2 --section files --path 'c:\\program files'", runCompare});

}  // namespace

}  // namespace keldrun
