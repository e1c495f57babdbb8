// What a noise list of 1,000 entries costs a comparison: the differences walk of the 300,000-file
// bench tree (the snapshots bench/compare_bench.cpp leaves in its work folder) with no list,
// then with the list, best of several runs each. The list is what a learned list looks like:
// exact paths, "*" components and name patterns, a few of which hide parts of the tree.
//
// Then what a comparison screen's refresh costs for its hidden-count line with the shipped
// default list: the first count after a comparison opens walks the section's differences, the
// refreshes after it take the kept count.
//
// usage: noise_bench [WORK_FOLDER]   (default /tmp/keldrun_compare_bench; run compare_bench
// first). Exits 1 when the list costs more than 1.2 x the walk without it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/compare.h"
#include "views/comparison_context.h"
#include "workspace/noise.h"

using namespace keldrun;

namespace {

using Clock = std::chrono::steady_clock;

// Every changed node, and the rows of those whose own files changed.
class ChangedRows : public TreeVisitor {
 public:
  explicit ChangedRows(ComparisonContext* context) : context_(context) {}
  bool visit(const std::u16string&, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    NodeState s = context_->nodeState(a, b, f);
    if (s.state == kUnchanged) return false;
    seen++;
    bool content = f == kPathInside && s.ownChanged &&
                   context_->compareContent(kSectionFiles, a ? a->contentTable : 0,
                                            b ? b->contentTable : 0, &rows_);
    if (content) seen += rows_.rows().size();
    return s.expandable;
  }
  size_t seen = 0;

 private:
  ComparisonContext* context_;
  ContentComparison rows_;
};

struct Run {
  double seconds = 1e9;
  size_t seen = 0, hidden = 0;
};

Run best(const std::string& a, const std::string& b, std::shared_ptr<const NoiseMatcher> noise, int runs) {
  Run out;
  for (int r = 0; r < runs; r++) {
    ComparisonContext context;
    if (!context.openFiles(a, b, kModeCompare, false)) {
      std::fprintf(stderr, "noise_bench: cannot open %s or %s (run compare_bench first)\n", a.c_str(), b.c_str());
      std::exit(2);
    }
    context.setNoise(noise);
    auto t = Clock::now();
    ChangedRows walk(&context);
    context.walkSection(kSectionFiles, &walk);
    double s = std::chrono::duration<double>(Clock::now() - t).count();
    if (s < out.seconds) out = {s, walk.seen, context.hiddenTotal()};
  }
  return out;
}

// 1,000 entries: most name places outside the tree (other drives, the registry), some lie in
// it: d7's e3 folder, every "top9.dat", and the "file1?.txt" files of f4 below any d and e.
std::vector<std::u16string> learnedList(const std::u16string& tree) {
  std::vector<std::u16string> out = {tree + u"\\d7\\e3", tree + u"\\*\\top9.dat",
                                     tree + u"\\*\\*\\f4\\file1?.txt"};
  for (int i = 0; out.size() < 1000; i++) {
    std::u16string n = widen(std::to_string(i));
    out.push_back(u"c:\\Users\\*\\AppData\\Local\\Vendor" + n + u"\\Cache");
    out.push_back(u"HKEY_LOCAL_MACHINE\\Software\\Vendor" + n + u"\\*\\Stamp");
    out.push_back(tree + u"\\d" + n + u"\\nothing\\*.tmp");
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string work = argc > 1 ? argv[1] : "/tmp/keldrun_compare_bench";
  std::u16string tree = u"z:";
  for (char c : work + "/tree") tree.push_back(c == '/' ? u'\\' : char16_t(uint8_t(c)));
  std::vector<std::u16string> entries = learnedList(tree);
  auto noise = std::make_shared<NoiseMatcher>(entries);
  bool within = true;
  for (const char* other : {"b.snp", "c.snp"}) {
    std::string a = work + "/a.snp", b = work + "/" + other;
    // Alternated, best of each: a busy machine slows runs, never speeds them up.
    Run plain, listed;
    for (int round = 0; round < 7; round++) {
      Run p = best(a, b, nullptr, 1), l = best(a, b, noise, 1);
      if (p.seconds < plain.seconds) plain = p;
      if (l.seconds < listed.seconds) listed = l;
    }
    double ratio = listed.seconds / plain.seconds;
    std::printf("a.snp vs %s: %.1f ms without a list (%zu nodes and rows), %.1f ms with %zu entries "
                "(%zu shown, %zu hidden): %.2f x\n",
                other, plain.seconds * 1e3, plain.seen, listed.seconds * 1e3, entries.size(),
                listed.seen, listed.hidden, ratio);
    within = within && ratio <= 1.2;
  }
  std::printf("%s\n", within ? "within 1.2 x" : "MORE than 1.2 x");
  NoiseList defaults;
  defaults.parse(defaultNoiseText(), "default", nullptr);
  auto shipped = std::make_shared<NoiseMatcher>(defaults.entries());
  for (const char* other : {"b.snp", "c.snp"}) {
    ComparisonContext context;
    if (!context.openFiles(work + "/a.snp", work + "/" + other, kModeCompare, false)) continue;
    double first = 1e9, again = 1e9;
    size_t hidden = 0;
    for (int round = 0; round < 5; round++) {
      context.setNoise(shipped);  // a new list: counted anew
      auto t = Clock::now();
      hidden = context.countHidden(kSectionFiles);
      first = std::min(first, std::chrono::duration<double>(Clock::now() - t).count());
      t = Clock::now();
      context.countHidden(kSectionFiles);
      again = std::min(again, std::chrono::duration<double>(Clock::now() - t).count());
    }
    std::printf("a.snp vs %s, default list (%zu entries): the screen's count %.1f ms when the "
                "comparison or the list changed, %.3f ms on a refresh (%zu hidden)\n",
                other, defaults.entries().size(), first * 1e3, again * 1e3, hidden);
  }
  return within ? 0 : 1;
}
