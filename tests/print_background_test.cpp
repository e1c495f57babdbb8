#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/printers.h"
#include "engine/file_entry.h"
#include "engine/file_extension.h"
#include "engine/value_entry.h"
#include "platform/thread.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

// Makes the calls of a compare of two sections: nodes with noise and without, rows of every
// state with extensions, digests and marks, a registry row, the hidden-noise counts. Each row's
// item lives in one buffer that is scribbled over once the call returns, as the walk reuses its
// table buffers: a printer that kept the pointer would print the scribble.
void printCompare(ComparePrinter* printer, int files) {
  SnapshotInfo info;
  printer->begin({"a.snp", &info}, {"b.snp", &info});
  std::vector<uint8_t> item;
  auto row = [&](int state, const char* label, bool fromB, uint8_t marks, const FileExt* ext, bool noise) {
    ContentRow r;
    r.item.p = item.data();
    r.item.size = item.size();
    r.item.index = item.size() % 7;
    r.state = state;
    r.label = label;
    r.fromB = fromB;
    r.marks = marks;
    r.ext = ext;
    r.noise = noise;
    printer->row(r);
    std::fill(item.begin(), item.end(), uint8_t(0xEE));
  };

  printer->beginSection(kSectionFiles);
  FileExt digested;
  digested.changeTime = 132000000000000000ull;
  digested.fileId = 77;
  digested.digestState = kDigestSha256;
  for (int k = 0; k < 32; k++) digested.sha256[k] = uint8_t(k * 9);
  for (int i = 0; i < files; i++) {
    std::u16string name = u"f\xe9ichier \"" + widen(std::to_string(i)) + u"\x1b.txt";
    if (i % 10 == 0) {
      printer->setNodeNoise(i % 20 == 0);
      std::u16string folder = u"C:\\dir" + widen(std::to_string(i / 10));
      printer->node(folder, folder.substr(3), 1, kModified, i % 30 == 0);
    }
    item.clear();
    appendFileEntry(&item, name.data(), name.size(), 131000000000000000ull + uint64_t(i) * 10000000, uint64_t(i) * 1000);
    row(kModified, i % 2 ? "new" : "old", i % 2 == 1, kMarkDateKept, i % 3 ? &digested : nullptr, i % 5 == 0);
  }
  item.clear();
  row(kAdded, "add", true, 0, nullptr, false);  // an item too short to parse: empty columns
  printer->setHiddenNoise(3);
  printer->endSection("");

  printer->beginSection(kSectionRegistry);
  printer->setNodeNoise(false);
  printer->node(u"HKLM\\Software", u"Software", 1, kModified, true);
  item.clear();
  const std::vector<uint8_t> data = {'x', 0, 'y', 0, 0, 0};
  appendValueEntry(&item, u"Path", 1, data);
  row(kDeleted, "del", false, 0, nullptr, false);
  printer->setHiddenNoise(0);
  printer->endSection("");
  printer->beginSection(kSectionApps);
  printer->endSection("no differences");
  printer->end(true);
}

std::string printedBy(OutputForm form, bool background, int files, size_t batchCalls, size_t inlineCalls) {
  testing_support::TempFolder dir;
  std::string path = dir / "out.txt";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "cannot write " + path;
  {
    Output out(f);
    std::unique_ptr<ComparePrinter> printer = makeComparePrinter(form, &out, form == OutputForm::kText);
    if (background) printer = printInBackground(std::move(printer), batchCalls, inlineCalls);
    printCompare(printer.get(), files);
    // Everything is written once end() has returned, before the printer goes.
    EXPECT_TRUE(out.finish());
  }
  std::fclose(f);
  return testing_support::readText(path);
}

// Batches of every size against calls straight to the printer, in each form: the same bytes,
// whether the thread started early, late or never.
TEST(PrintBackground, WritesWhatThePrinterWritesAlone) {
  for (OutputForm form : {OutputForm::kText, OutputForm::kJson, OutputForm::kJsonLines}) {
    std::string alone = printedBy(form, false, 500, 0, 0);
    ASSERT_GT(alone.size(), 500u * 40);
    for (size_t batch : {1, 3, 64, 5000}) {
      for (size_t inlineCalls : {0, 7, 100000}) {
        EXPECT_EQ(printedBy(form, true, 500, batch, inlineCalls), alone)
            << "form " << int(form) << ", batches of " << batch << ", first " << inlineCalls << " inline";
      }
    }
  }
}

// Records on which thread each call reached it.
class ThreadLog : public ComparePrinter {
 public:
  explicit ThreadLog(std::vector<std::thread::id>* log) : log_(log) {}
  void begin(const SnapshotRef&, const SnapshotRef&) override { note(); }
  void beginSection(int) override { note(); }
  void node(const std::u16string&, const std::u16string&, int, int, bool) override { note(); }
  void row(const ContentRow&) override { note(); }
  void endSection(const std::string&) override { note(); }
  void end(bool) override { note(); }

 private:
  void note() { log_->push_back(std::this_thread::get_id()); }
  std::vector<std::thread::id>* log_;
};

TEST(PrintBackground, OnlyCallsPastTheFirstOnesLeaveTheCallersThread) {
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<std::thread::id> small, large;
  printCompare(printInBackground(std::make_unique<ThreadLog>(&small), 4, 1000).get(), 100);
  for (std::thread::id id : small) EXPECT_EQ(id, caller);

  printCompare(printInBackground(std::make_unique<ThreadLog>(&large), 4, 10).get(), 100);
  ASSERT_GT(large.size(), 100u);
  // begin, then the first ten calls, go straight to the printer.
  for (size_t i = 0; i <= 10; i++) EXPECT_EQ(large[i], caller) << i;
  if (processorCount() < 2) return;  // one core: no thread at all
  for (size_t i = 11; i < large.size(); i++) EXPECT_NE(large[i], caller) << i;
}

}  // namespace
}  // namespace keldrun
