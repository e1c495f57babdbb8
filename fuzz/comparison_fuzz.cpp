// Two arbitrary snapshot files through everything that reads their content tables: the
// comparison walk with every node's merged rows and list columns (the registry values, files and
// application records readers), the differences or snapshot report, and search.
//
// Input: one flag byte (bit 0: compare two files rather than view one; bit 1: unchanged rows
// too), a 2-byte length of the first file, the first file, then the second file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/compare.h"
#include "fuzz/scratch.h"
#include "reports/report_generation.h"
#include "reports/report_writer.h"
#include "views/comparison_context.h"
#include "views/list_columns.h"
#include "views/search.h"

namespace {

using namespace keldrun;

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

// Visits every node the walk offers, merges its content tables and renders every row.
class EveryNode : public TreeVisitor {
 public:
  EveryNode(ComparisonContext* context, int section) : context_(context), section_(section) {}
  bool visit(const std::u16string&, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int filterResult) override {
    NodeState state = context_->nodeState(a, b, filterResult);
    ContentComparison rows;
    if (context_->compareContent(section_, a ? a->contentTable : 0, b ? b->contentTable : 0, &rows)) {
      for (const ContentRow& r : rows.rows()) {
        if (listColumns(section_, r.item).size() + 1 != columnTitles(section_).size()) __builtin_trap();
      }
    }
    return state.expandable;
  }

 private:
  ComparisonContext* context_;
  int section_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  bool compare = data[0] & 1, full = (data[0] & 2) != 0;
  size_t firstSize = size_t(data[1] | (data[2] << 8));
  data += 3;
  size -= 3;
  if (firstSize > size) firstSize = size;
  const std::string& folder = fuzz_support::scratchFolder();
  std::string a = folder + "/a.snp", b = folder + "/b.snp";
  writeFile(a, data, firstSize);
  writeFile(b, data + firstSize, size - firstSize);

  ComparisonContext context;
  if (!context.openFiles(a, compare ? b : std::string(), compare ? kModeCompare : kModeView, full))
    return 0;
  for (int section = 0; section < kSectionCount; section++) {
    EveryNode visitor(&context, section);
    context.walkSection(section, &visitor);
  }

  ReportWriter writer;
  std::string message;
  std::string report = folder + "/report.htm";
  if (compare) {
    DifferencesReportOptions options;
    options.linesPerFile = 10;  // raised to the minimum: the page logic runs as for users
    generateDifferencesReport(&context, options, report, &writer, &message);
  } else {
    generateSnapshotReport(&context, report, 0, &writer, &message);
  }

  if (!compare) {
    SearchOptions options;
    options.paths = true;
    searchFiles(&context, u"a", options);
    searchRegistry(&context, u"a", options);
  }
  return 0;
}
