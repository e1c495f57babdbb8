// keldrun dump: the whole state of one snapshot as JSON lines, one per key, value, folder, file,
// application group and record, for a table that holds many machines.
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/item_columns.h"
#include "cli/printers.h"
#include "cli/snapshot_ref.h"
#include "engine/compare.h"
#include "engine/section_filter.h"
#include "views/comparison_context.h"

namespace keldrun {

namespace {

// Walks one section depth-first, the tree's order, and writes each node inside the --path
// prefix and then its items. Only the tables on the walk's current path are held, so memory
// does not grow with the snapshot.
class DumpWalk : public TreeVisitor {
 public:
  DumpWalk(ComparisonContext* context, const SnapshotRef& snapshot, int section, const SectionFilter& prefix,
           Output* out)
      : context_(context), section_(section), prefix_(prefix), out_(out), columns_(section),
        head_(jsonLineHead(snapshot, section)) {}

  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a, const TreeEntry*,
             int) override {
    int place = testPath(prefix_, path);
    if (place == kPathOutside || !a) return false;
    if (place != kPathInside) return true;  // on the way to the prefix
    std::string& t = out_->text();
    t += head_;
    t += ",\"kind\":\"node\",\"path\":";
    appendJson(&t, path.data(), path.size());
    t += ",\"name\":";
    appendJson(&t, name.data(), name.size());
    t += "}\n";
    out_->flushIfFull();
    // The start of the node's item lines, made once for them all.
    item_.assign(head_).append(",\"kind\":\"item\",\"path\":");
    appendJson(&item_, path.data(), path.size());
    if (a->contentTable && context_->compareContent(section_, a->contentTable, 0, &content_)) {
      for (const ContentRow& row : content_.rows()) {
        {
          std::string& t = out_->text();
          t += item_;  // appended whole, not copied into room cleared for it
          RowWriter r(&t, RowWriter::kRowGuess);
          r.put(',');
          columns_.json(r, row.item);
          r.put("}\n");
        }
        out_->flushIfFull();
      }
    }
    return true;
  }

 private:
  ComparisonContext* context_;
  int section_;
  const SectionFilter& prefix_;
  Output* out_;
  ItemColumns columns_;
  ContentComparison content_;
  std::string head_, item_;
};

int runDump(CommandContext& ctx) {
  int only = -1;
  if (!sectionOption(ctx.options, "--section", kAnySection, &only)) return kExitError;
  if (!ctx.has("--jsonl")) return failUsage(ctx, "dump writes JSON lines only: give --jsonl");
  std::string path, error;
  if (!resolveSnapshotRef(ctx.home, ctx.operands()[0], &path, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(path, std::string(), kModeView, true)) {
    return fail("cannot open snapshot " + path + " (missing, unreadable, or not a complete snapshot file)");
  }
  SectionFilter prefix = pathOption(ctx.options);
  SnapshotRef snapshot{path, &context.infoA()};
  Output out(stdout);
  for (int section = 0; section < kSectionCount; section++) {
    if (only >= 0 && section != only) continue;
    DumpWalk walk(&context, snapshot, section, prefix, &out);
    context.walkSection(section, &walk);
  }
  if (!out.finish()) return fail("cannot write the output");
  return damageStatus(&context, ctx.operands()[0], std::string(), kExitOk);
}

const Option kOptions[] = {
    {"--section", "S", "only this section: registry, files or apps"},
    {"--path", "P", "only keys, folders or groups at or below the path P (whole names; case does not matter)"},
    {"--jsonl", nullptr, "one JSON object per line (the only form; see docs/cli.md)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"dump", "write a whole snapshot as JSON lines, one per node and item",
                  "N", 1, 1, kOptions,
                  "Writes the whole state of snapshot N, section by section in the tree's order:\n"
                  "one line per key, folder or application group (\"kind\":\"node\") followed by\n"
                  "one line per value, file or application record it holds (\"kind\":\"item\"),\n"
                  "each carrying the snapshot's computer, name, number, date and identity, so that\n"
                  "the lines of many machines can share one table. N is a snapshot number of the\n"
                  "workspace or the path of a snapshot file. The output streams: memory does not\n"
                  "grow with the snapshot.\n",
                  "dump 3 --section apps --jsonl", runDump});

}  // namespace

}  // namespace keldrun
