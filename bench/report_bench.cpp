// Rows per second of a differences report: two snapshots of a 300,000-file tree (the shape of
// compare_bench's tree) in which every file changed, written as a report split at 30,000 lines.
//
// usage: report_bench [WORK_FOLDER]   (default /tmp/keldrun_report_bench; removed afterwards)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/file_entry.h"
#include "engine/snapshot.h"
#include "reports/report_generation.h"
#include "reports/report_writer.h"
#include "views/comparison_context.h"

using namespace keldrun;

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Fields {
  uint32_t childHash = 0, contentHash = 0, childTable = 0, contentTable = 0;
};

// Writes a folder's file table with n files named prefix<i><suffix>, times shifted by `shift`.
uint32_t fileTable(SnapshotFile* file, const std::string& prefix, const std::string& suffix, int n,
                   uint64_t shift, uint32_t* digest) {
  std::vector<std::u16string> names;
  for (int i = 0; i < n; i++) names.push_back(widen(prefix + std::to_string(i) + suffix));
  std::sort(names.begin(), names.end(),
            [](const std::u16string& a, const std::u16string& b) { return compareNames(a, b) < 0; });
  std::vector<uint8_t> entries;
  for (size_t i = 0; i < names.size(); i++) {
    appendFileEntry(&entries, names[i].data(), names[i].size(), 132000000000000000ull + i + shift, i * 7);
  }
  *digest = uint32_t(crc32(0, entries.data(), uInt(entries.size())));
  return file->appendTable(entries.data(), entries.size());
}

// 30 x 30 x 10 folders; 33 files in each leaf, 3 in each middle folder, 10 in each top folder.
bool writeTree(const std::string& path, uint64_t shift) {
  SnapshotFile file;
  if (!file.create(path)) return false;
  TableBuilder top, mid, leaf;
  for (int a = 0; a < 30; a++) {
    for (int b = 0; b < 30; b++) {
      for (int c = 0; c < 10; c++) {
        Fields f;
        f.contentTable = fileTable(&file, "file", ".txt", 33, shift, &f.contentHash);
        size_t at = leaf.addTreeEntry(widen("f" + std::to_string(c)));
        leaf.setTreeFields(at, 0, f.contentHash, 0, f.contentTable);
      }
      Fields m;
      m.childTable = file.writeTable(&leaf, true, &m.childHash);
      m.contentTable = fileTable(&file, "mid", ".dat", 3, shift, &m.contentHash);
      size_t at = mid.addTreeEntry(widen("e" + std::to_string(b)));
      mid.setTreeFields(at, m.childHash, m.contentHash, m.childTable, m.contentTable);
    }
    Fields t;
    t.childTable = file.writeTable(&mid, true, &t.childHash);
    t.contentTable = fileTable(&file, "top", ".dat", 10, shift, &t.contentHash);
    size_t at = top.addTreeEntry(widen("d" + std::to_string(a)));
    top.setTreeFields(at, t.childHash, t.contentHash, t.childTable, t.contentTable);
  }
  Fields root;
  root.childTable = file.writeTable(&top, true, &root.childHash);
  file.addRoot(kSectionFiles, u"z:\\", root.childHash, 0, root.childTable, 0);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  info.fillNew(shift ? "after" : "before", 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path work = argc > 1 ? argv[1] : "/tmp/keldrun_report_bench";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::string a = (work / "a.snp").string(), b = (work / "b.snp").string();
  if (!writeTree(a, 0) || !writeTree(b, 1000)) {
    std::fprintf(stderr, "report_bench: cannot write the snapshots in %s\n", work.string().c_str());
    return 2;
  }
  ComparisonContext context;
  if (!context.openFiles(a, b, kModeCompare, false)) return 2;
  DifferencesReportOptions options;
  options.split = true;
  options.linesPerFile = 30000;
  ReportWriter writer;
  std::string message;
  Clock::time_point t = Clock::now();
  bool ok = generateDifferencesReport(&context, options, (work / "report.htm").string(), &writer, &message);
  double seconds = since(t);
  if (!ok) {
    std::fprintf(stderr, "report_bench: %s\n", message.c_str());
    return 2;
  }
  // Rows: every file twice (old and new) and one heading per folder with files.
  const double rows = 300000.0 * 2 + 30 + 900 + 9000;
  uintmax_t bytes = 0;
  for (int i = 0; i <= writer.lastPageIndex(); i++) bytes += std::filesystem::file_size(writer.pageFileName(i));
  std::printf("differences report, 300,000 files changed: %.0f rows in %.3f s = %.0f rows/s, "
              "%d pages, %.1f MB\n",
              rows, seconds, rows / seconds, writer.lastPageIndex() + 1, bytes / 1e6);
  std::filesystem::remove_all(work);
  return 0;
}
