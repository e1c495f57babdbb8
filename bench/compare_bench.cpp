// Compares two snapshots of a 300,000-file tree: after a small mutation and after every file
// changed. Prints the times and table reads of the comparison and, in the same run, the time
// mtree takes to compare its two specs of the same two trees.
//
// usage: compare_bench [--compare-only] [WORK_FOLDER]
//   WORK_FOLDER defaults to /tmp/keldrun_compare_bench; the tree, the snapshots and the mtree
//   specs stay there. --compare-only reuses them and runs only the comparisons.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/compare.h"
#include "engine/file_scan.h"
#include "engine/snapshot.h"
#include "platform/env.h"
#include "views/comparison_context.h"

using namespace keldrun;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void touch(const std::string& path, long mtime) {
  struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
  utimes(path.c_str(), tv);
}

void writeFile(const std::string& path, size_t size, long mtime) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  static const std::string bytes(4096, 'k');
  std::fwrite(bytes.data(), 1, std::min(size, bytes.size()), f);
  std::fclose(f);
  touch(path, mtime);
}

std::string leaf(int a, int b, int c) {
  return "d" + std::to_string(a) + "/e" + std::to_string(b) + "/f" + std::to_string(c);
}

// 30 x 30 x 10 folders; 33 files in each of the 9,000 leaves, 3 in each of the 900 middle
// folders and 10 in each of the 30 top folders: 300,000 files.
void generate(const std::string& top) {
  mkdir(top.c_str(), 0755);
  for (int a = 0; a < 30; a++) {
    std::string da = top + "/d" + std::to_string(a);
    mkdir(da.c_str(), 0755);
    for (int i = 0; i < 10; i++) writeFile(da + "/top" + std::to_string(i) + ".dat", size_t(i * 7), 1500000000);
    for (int b = 0; b < 30; b++) {
      std::string db = da + "/e" + std::to_string(b);
      mkdir(db.c_str(), 0755);
      for (int i = 0; i < 3; i++) writeFile(db + "/mid" + std::to_string(i) + ".dat", size_t(i * 11), 1500000000);
      for (int c = 0; c < 10; c++) {
        std::string dc = db + "/f" + std::to_string(c);
        mkdir(dc.c_str(), 0755);
        for (int i = 0; i < 33; i++)
          writeFile(dc + "/file" + std::to_string(i) + ".txt", size_t((a + b + c + i) % 50), 1500000000 + i);
      }
    }
  }
}

bool scan(const std::string& snapPath, Env* env, const std::string& top) {
  std::u16string item = u"z:";
  for (char c : top) item.push_back(c == '/' ? u'\\' : char16_t(uint8_t(c)));
  item.push_back(u'\\');
  SnapshotFile file;
  if (!file.create(snapPath)) return false;
  FileStore store(env);
  FilterList list = normalizeFileFilter({item});
  if (!store.startFileScan(&file, list)) return false;
  while (file.runningScans() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  store.releaseWorkers();
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, list, {}};
  info.fillNew("bench", 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// The walk of a differences list: every changed node and the rows of every node whose own
// content changed.
class DiffWalk : public TreeVisitor {
 public:
  explicit DiffWalk(ComparisonContext* c) : c_(c) {}
  bool visit(const std::u16string&, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    NodeState s = c_->nodeState(a, b, f);
    if (s.state == kUnchanged) return false;
    nodes++;
    if (f == kPathInside && s.ownChanged) {
      if (c_->compareContent(kSectionFiles, a ? a->contentTable : 0, b ? b->contentTable : 0, &rows_)) {
        rows += rows_.rows().size();
      }
    }
    return s.expandable;
  }
  uint64_t nodes = 0, rows = 0;

 private:
  ComparisonContext* c_;
  ContentComparison rows_;
};

struct Result {
  double seconds = 1e9;
  uint64_t nodes = 0, rows = 0, readsA = 0, readsB = 0;
};

Result compare(const std::string& a, const std::string& b, int runs) {
  Result best;
  for (int r = 0; r < runs; r++) {
    ComparisonContext context;
    auto t = Clock::now();
    if (!context.openFiles(a, b, kModeCompare, false)) {
      std::fprintf(stderr, "cannot open %s or %s\n", a.c_str(), b.c_str());
      std::exit(2);
    }
    uint64_t ra = context.fileA()->blockReads(), rb = context.fileB()->blockReads();
    DiffWalk walk(&context);
    context.walkSection(kSectionFiles, &walk);
    double s = since(t);
    if (s < best.seconds) {
      best.seconds = s;
      best.nodes = walk.nodes;
      best.rows = walk.rows;
      best.readsA = context.fileA()->blockReads() - ra;
      best.readsB = context.fileB()->blockReads() - rb;
    }
  }
  return best;
}

int run(const std::string& cmd) { return std::system(cmd.c_str()); }

double mtreeCompare(const std::string& specA, const std::string& specB) {
  auto t = Clock::now();
  run("mtree -f '" + specA + "' -f '" + specB + "' > /dev/null 2>&1");
  return since(t);
}

}  // namespace

int main(int argc, char** argv) {
  bool compareOnly = argc > 1 && std::string(argv[1]) == "--compare-only";
  std::string work = argc > (compareOnly ? 2 : 1) ? argv[compareOnly ? 2 : 1] : "/tmp/keldrun_compare_bench";
  std::string top = work + "/tree";
  const std::string snapA = work + "/a.snp", snapB = work + "/b.snp", snapC = work + "/c.snp";
  struct stat st;
  if (!compareOnly) {
  mkdir(work.c_str(), 0755);
  run("rm -rf '" + top + "'");
  auto t = Clock::now();
  generate(top);
  std::printf("generated 300,000 files in 9,930 folders: %.1f s\n", since(t));
  std::unique_ptr<Env> env = newPosixEnv("");
  const std::string mtreeKeys = "-k type,size,time";
  auto specOf = [&](const std::string& spec) {
    run("cd '" + top + "' && mtree -c -p . " + mtreeKeys + " > '" + spec + "'");
  };
  t = Clock::now();
  if (!scan(snapA, env.get(), top)) return 2;
  std::printf("scan A: %.2f s\n", since(t));
  specOf(work + "/a.mtree");

  // The small mutation: 100 files changed, 50 added, 50 deleted, a folder added, one deleted.
  for (int i = 0; i < 100; i++) touch(top + "/" + leaf(i % 30, (i * 7) % 30, i % 10) + "/file" + std::to_string(i % 33) + ".txt", 1700000000 + i);
  for (int i = 0; i < 50; i++) writeFile(top + "/" + leaf((i * 3) % 30, (i * 11) % 30, (i + 5) % 10) + "/new" + std::to_string(i) + ".txt", 10, 1700000000);
  for (int i = 0; i < 50; i++) unlink((top + "/" + leaf((i * 13) % 30, (i * 17) % 30, (i + 3) % 10) + "/file" + std::to_string(32 - i % 10) + ".txt").c_str());
  mkdir((top + "/d5/e5/added").c_str(), 0755);
  writeFile(top + "/d5/e5/added/one.txt", 1, 1700000000);
  run("rm -rf '" + top + "/d29/e29/f9'");
  if (!scan(snapB, env.get(), top)) return 2;
  specOf(work + "/b.mtree");

  // Every file changed.
  t = Clock::now();
  run("find '" + top + "' -type f -exec touch -d '2030-01-01 00:00:00' {} +");
  std::printf("touched every file: %.1f s\n", since(t));
  if (!scan(snapC, env.get(), top)) return 2;
  specOf(work + "/c.mtree");
  }

  Result small = compare(snapA, snapB, 20);
  std::printf("\nsmall mutation: %.3f ms, %llu changed nodes, %llu rows, table reads A %llu B %llu\n",
              small.seconds * 1e3, (unsigned long long)small.nodes, (unsigned long long)small.rows,
              (unsigned long long)small.readsA, (unsigned long long)small.readsB);
  Result every = compare(snapA, snapC, 5);
  stat(snapA.c_str(), &st);
  double entries = double(every.rows);
  std::printf("every file changed: %.1f ms, %llu changed nodes, %llu rows (%.2f million rows/s), "
              "table reads A %llu B %llu\n",
              every.seconds * 1e3, (unsigned long long)every.nodes, (unsigned long long)every.rows,
              entries / every.seconds / 1e6, (unsigned long long)every.readsA,
              (unsigned long long)every.readsB);
  std::printf("\nmtree -f a.mtree -f b.mtree (small mutation): %.1f ms\n", mtreeCompare(work + "/a.mtree", work + "/b.mtree") * 1e3);
  std::printf("mtree -f a.mtree -f c.mtree (every file changed): %.1f ms\n", mtreeCompare(work + "/a.mtree", work + "/c.mtree") * 1e3);
  std::printf("snapshot size %.1f MB\n", double(st.st_size) / 1e6);
  return 0;
}
