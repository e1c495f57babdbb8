// Compares two snapshots of a 300,000-file tree: after a small mutation, after a change in three
// folders and after every file changed, on both trees of bench/make_tree.py: "wide" (9,930 folders, 30 files a folder) and
// "real" (30,000 folders, 10 files a folder, long, non-ASCII and non-BMP names). Prints, for each,
// the times and table reads of the comparison and, in the same run, the time mtree takes to
// compare its two specs of the same two trees.
//
// usage: compare_bench [--compare-only] [WORK_FOLDER]
//   WORK_FOLDER defaults to /tmp/keldrun_compare_bench; each tree, its snapshots (a.snp, b.snp
//   after the small change, f.snp after the three folders' change to b, c.snp after every file
//   changed) and the mtree specs stay in
//   WORK_FOLDER/SHAPE. --compare-only reuses them and runs only the comparisons.
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
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

// The time mtree takes to compare two specs, or a negative time when it fails to read them (it
// exits 1: on the real tree's deep paths of mixed names it stops with "no parent node"). It
// exits 2 when it has compared them, whether or not they differ.
double mtreeCompare(const std::string& specA, const std::string& specB) {
  auto t = Clock::now();
  int status = run("mtree -f '" + specA + "' -f '" + specB + "' > /dev/null 2>&1");
  double seconds = since(t);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1 ? -seconds : seconds;
}

void printMtree(const char* what, double seconds) {
  if (seconds < 0)
    std::printf("mtree %s: failed after %.1f ms (cannot read its own specs of this tree)\n", what, -seconds * 1e3);
  else
    std::printf("mtree %s: %.1f ms\n", what, seconds * 1e3);
}

// The tree generator and its changes: make_tree.py ARGS... on the tree at top.
bool makeTree(const std::string& what, const std::string& top) {
  return run("python3 '" KELDRUN_SOURCE_DIR "/bench/make_tree.py' " + what + " '" + top + "'") == 0;
}

// Makes the three snapshots of one shape's tree in work; false when a step fails.
bool prepare(const std::string& shape, const std::string& work) {
  std::string top = work + "/tree";
  mkdir(work.c_str(), 0755);
  run("rm -rf '" + top + "'");
  auto t = Clock::now();
  if (!makeTree(shape, top)) return false;
  std::printf("generated the %s tree: %.1f s\n", shape.c_str(), since(t));
  std::unique_ptr<Env> env = newPosixEnv("");
  auto specOf = [&](const std::string& spec) {
    run("cd '" + top + "' && mtree -c -p . -k type,size,time > '" + spec + "' 2>/dev/null");
  };
  t = Clock::now();
  if (!scan(work + "/a.snp", env.get(), top)) return false;
  std::printf("scan A: %.2f s\n", since(t));
  specOf(work + "/a.mtree");
  if (!makeTree("change-some", top) || !scan(work + "/b.snp", env.get(), top)) return false;
  specOf(work + "/b.mtree");
  if (!makeTree("change-few", top) || !scan(work + "/f.snp", env.get(), top)) return false;
  t = Clock::now();
  if (!makeTree("change-all", top)) return false;
  std::printf("touched every file: %.1f s\n", since(t));
  if (!scan(work + "/c.snp", env.get(), top)) return false;
  specOf(work + "/c.mtree");
  return true;
}

void report(const std::string& shape, const std::string& work) {
  const std::string snapA = work + "/a.snp", snapB = work + "/b.snp", snapC = work + "/c.snp";
  std::printf("\n== %s tree (%s)\n", shape.c_str(), work.c_str());
  Result small = compare(snapA, snapB, 20);
  std::printf("small mutation: %.3f ms, %llu changed nodes, %llu rows, table reads A %llu B %llu\n",
              small.seconds * 1e3, (unsigned long long)small.nodes, (unsigned long long)small.rows,
              (unsigned long long)small.readsA, (unsigned long long)small.readsB);
  Result few = compare(snapB, work + "/f.snp", 20);
  std::printf("three folders changed: %.3f ms, %llu changed nodes, %llu rows, table reads A %llu B %llu\n",
              few.seconds * 1e3, (unsigned long long)few.nodes, (unsigned long long)few.rows,
              (unsigned long long)few.readsA, (unsigned long long)few.readsB);
  Result every = compare(snapA, snapC, 5);
  struct stat st;
  stat(snapA.c_str(), &st);
  double entries = double(every.rows);
  std::printf("every file changed: %.1f ms, %llu changed nodes, %llu rows (%.2f million rows/s), "
              "table reads A %llu B %llu\n",
              every.seconds * 1e3, (unsigned long long)every.nodes, (unsigned long long)every.rows,
              entries / every.seconds / 1e6, (unsigned long long)every.readsA,
              (unsigned long long)every.readsB);
  printMtree("-f a.mtree -f b.mtree (small mutation)", mtreeCompare(work + "/a.mtree", work + "/b.mtree"));
  printMtree("-f a.mtree -f c.mtree (every file changed)", mtreeCompare(work + "/a.mtree", work + "/c.mtree"));
  std::printf("snapshot size %.1f MB\n", double(st.st_size) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  bool compareOnly = argc > 1 && std::string(argv[1]) == "--compare-only";
  std::string work = argc > (compareOnly ? 2 : 1) ? argv[compareOnly ? 2 : 1] : "/tmp/keldrun_compare_bench";
  mkdir(work.c_str(), 0755);
  for (const char* shape : {"wide", "real"}) {
    if (!compareOnly && !prepare(shape, work + "/" + shape)) {
      std::fprintf(stderr, "cannot prepare the %s tree in %s\n", shape, work.c_str());
      return 2;
    }
  }
  for (const char* shape : {"wide", "real"}) report(shape, work + "/" + shape);
  return 0;
}
