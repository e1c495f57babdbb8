// keldrun compare: the differences between two snapshots as an indented tree.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "cli/json_items.h"
#include "cli/snapshot_ref.h"
#include "engine/compare.h"
#include "engine/section_filter.h"
#include "engine/text.h"
#include "views/comparison_context.h"
#include "views/list_columns.h"
#include "views/screen_model.h"
#include "views/tree_fill.h"

namespace keldrun {

namespace {

const char* const kStateWords[kDiffStateCount] = {"unchanged", "modified", "added", "deleted",
                                                  "excluded"};

// The screens' colours as 24-bit terminal colours; unchanged keeps the terminal's own.
std::string colorOn(int state, bool bold, bool color) {
  if (!color) return std::string();
  std::string s = bold ? "\033[1m" : "";
  if (state != kUnchanged) {
    uint32_t rgb = stateColor(state);
    char buf[32];
    std::snprintf(buf, sizeof buf, "\033[38;2;%u;%u;%um", (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    s += buf;
  }
  return s;
}

std::string colorOff(bool color) { return color ? "\033[0m" : ""; }

// Folded path with a trailing '\', for prefix tests.
std::u16string slashed(const std::u16string& path) {
  std::u16string p = foldPath(path);
  if (p.empty() || p.back() != u'\\') p.push_back(u'\\');
  return p;
}

bool startsWith(const std::u16string& s, const std::u16string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

class Printer : public TreeVisitor {
 public:
  // With json set, nothing is printed: the nodes are appended to `json` as objects.
  Printer(ComparisonContext* context, int section, const std::u16string& prefix, bool color,
          std::string* json)
      : context_(context), section_(section), prefix_(prefix.empty() ? prefix : slashed(prefix)),
        color_(color), json_(json) {}

  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
             const TreeEntry* b, int f) override {
    NodeState s = context_->nodeState(a, b, f);
    bool full = context_->full();
    bool inside = true;  // at or below the --path prefix
    if (!prefix_.empty()) {
      std::u16string p = slashed(path);
      if (startsWith(prefix_, p) && p.size() < prefix_.size()) {
        inside = false;
      } else if (!startsWith(p, prefix_)) {
        return false;
      }
    }
    if (!full) {
      if (s.state == kUnchanged) return false;
      if (s.state == kExcluded && !s.expandable) return false;
    }
    int depth = 0;
    for (char16_t c : path) depth += c == u'\\';
    if (!path.empty() && path.back() == u'\\') depth--;
    if (depth < 0) depth = 0;
    std::string indent(size_t(depth) * 2, ' ');
    if (json_) {
      if (printed) *json_ += ",";
      *json_ += "\n{\"path\":" + jsonString(path) + ",\"name\":" + jsonString(name) +
                ",\"depth\":" + std::to_string(depth) + ",\"state\":\"" + kStateWords[s.state] +
                "\",\"stateNumber\":" + std::to_string(s.state) + ",\"ownChanged\":" +
                (s.ownChanged ? "true" : "false") + ",\"rows\":[";
    } else {
      std::printf("%s%s%s%s  [%s%s]\n", indent.c_str(), colorOn(s.state, s.ownChanged, color_).c_str(),
                  toUtf8(name).c_str(), colorOff(color_).c_str(), kStateWords[s.state],
                  s.ownChanged ? ", own content" : "");
    }
    printed = true;
    if (inside && (s.state == kModified || s.state == kAdded || s.state == kDeleted)) differences = true;
    if (inside && f == kPathInside && (s.ownChanged || full)) {
      uint32_t ca = a ? a->contentTable : 0, cb = b ? b->contentTable : 0;
      if ((ca || cb) && context_->compareContent(section_, ca, cb, &content_)) {
        bool first = true;
        for (const ContentRow& row : content_.rows()) {
          if (row.state != kUnchanged) differences = true;
          if (json_) {
            *json_ += std::string(first ? "" : ",") + "\n {\"label\":\"" + row.label +
                      "\",\"state\":\"" + stateWord(row.state) + "\",\"stateNumber\":" +
                      std::to_string(row.state) + ",\"side\":\"" + (row.fromB ? "B" : "A") +
                      "\"," + itemJsonFields(section_, row.item) + "}";
            first = false;
            continue;
          }
          std::vector<std::u16string> cols = listColumns(section_, row.item);
          std::string line = indent + "    " + colorOn(row.state, false, color_) + row.label;
          for (const std::u16string& c : cols) line += "  " + toUtf8(c);
          line += colorOff(color_);
          std::printf("%s\n", line.c_str());
        }
      }
    }
    if (json_) *json_ += "]}";
    return s.expandable || (full && ((a && a->childTable) || (b && b->childTable)));
  }

  bool printed = false;
  bool differences = false;

 private:
  ComparisonContext* context_;
  int section_;
  std::u16string prefix_;
  bool color_;
  std::string* json_;
  ContentComparison content_;
};

int runCompare(CommandContext& ctx) {
  const std::vector<std::string>& refs = ctx.operands();
  int only = -1;
  if (ctx.has("--section")) {
    only = sectionFromName(ctx.value("--section"));
    if (only < 0) return failValue("--section", ctx.value("--section"), "registry, files or apps");
  }
  bool full = ctx.has("--full");
  bool json = ctx.has("--json");
  std::string prefix = ctx.value("--path");
  std::string pathA, pathB, error;
  if (!resolveSnapshotRef(ctx.home, refs[0], &pathA, &error)) return fail(error);
  if (!resolveSnapshotRef(ctx.home, refs[1], &pathB, &error)) return fail(error);
  ComparisonContext context;
  if (!context.openFiles(pathA, pathB, kModeCompare, full)) {
    return fail("cannot open snapshots " + pathA + " and " + pathB +
                " (missing, unreadable, or not a complete snapshot file)");
  }

  bool differences = false;
  std::string out;
  if (json) {
    out = "{\"a\":" + snapshotJson(pathA, context.infoA()) + ",\"b\":" +
          snapshotJson(pathB, context.infoB()) + ",\"sections\":[";
  }
  bool firstSection = true;
  for (int section = 0; section < kSectionCount; section++) {
    if (only >= 0 && section != only) continue;
    EmptyReason why = context.emptyReason(section);
    std::string message;
    if (why.noSnapshot) message = toUtf8(kMessageNoSnapshot);
    else if (why.noCommonPaths) message = toUtf8(kMessageNoCommonPaths);
    if (json) {
      out += std::string(firstSection ? "" : ",") + "\n{\"section\":" + jsonString(std::string(sectionName(section))) +
             ",\"sectionNumber\":" + std::to_string(section) + columnTitlesJson(section) + ",\"nodes\":[";
      firstSection = false;
    } else {
      std::printf("%s\n", sectionName(section));
    }
    if (message.empty()) {
      Printer printer(&context, section, fromUtf8(prefix), ctx.color, json ? &out : nullptr);
      context.walkSection(section, &printer);
      if (!printer.printed) message = toUtf8(kMessageNoDifferences);
      differences = differences || printer.differences;
    }
    if (json) {
      out += "],\"message\":" + (message.empty() ? std::string("null") : jsonString(message)) + "}";
    } else if (!message.empty()) {
      std::printf("  %s\n", message.c_str());
    }
  }
  if (json) {
    out += "],\n\"differences\":" + std::string(differences ? "true" : "false") + "}\n";
    std::fputs(out.c_str(), stdout);
  }
  return differences ? kExitDifferences : kExitOk;
}

const Option kOptions[] = {
    {"--section", "S", "only this section: registry, files or apps"},
    {"--full", nullptr, "also the unchanged nodes and rows (\"-\")"},
    {"--path", "P", "only nodes at or below the path P (whole names; case does not matter)"},
    {"--json", nullptr, "one JSON document instead of the tree (see docs/cli.md)"},
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
                  "Exit status: 0 no differences, 1 differences, 2 error.\n",
                  "compare 1 2 --section files --path 'c:\\program files'", runCompare});

}  // namespace

}  // namespace keldrun
