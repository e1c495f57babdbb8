// Export and import as the progress dialog runs them: on a worker thread, polled, aborted.
#include "workspace/transfer_job.h"

#include <gtest/gtest.h>

#include <thread>

#include "engine/snapshot.h"
#include "platform/own_files.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::readBytes;
using testing_support::TempFolder;
using testing_support::writeText;

// Polls as the dialog's timer does, without a timer: the job must end by itself.
void waitForEnd(const TransferJob& job) {
  while (!job.ended()) std::this_thread::yield();
}

class TransferJobTest : public ::testing::Test {
 protected:
  TransferJobTest() : source(home.str()), target(other.str()) {
    for (int n = 1; n <= 3; n++) addSnapshotTo(&source, n, "snap " + std::to_string(n));
    source.save();
    target.ensureLoaded();
  }
  TempFolder home, other, out;
  Settings source, target;
};

TEST_F(TransferJobTest, ExportAndImportRunOnTheWorkerAndReportWhenEnded) {
  auto exporting = TransferJob::exporting(&source, {3, 1}, out.str());
  EXPECT_STREQ(exporting->title(), "Export");
  EXPECT_STREQ(exporting->message(), "Exporting snapshots...");
  ASSERT_TRUE(exporting->start());
  waitForEnd(*exporting);
  EXPECT_EQ(exporting->result().kind, MessageKind::Information);
  EXPECT_EQ(exporting->result().text, "Snapshots exported");
  EXPECT_EQ(exporting->position(), exporting->range());
  EXPECT_EQ(exporting->range(), 200);
  EXPECT_EQ(out.names(), (std::vector<std::string>{"snap001.snp", "snap003.snp"}));

  target.catalog().lastNo = 9;
  // A damaged file among good ones: reported, nothing registered for it, no number used up.
  writeText(out / "damaged.snp", "C1.4 but nothing after it");
  auto importing = TransferJob::importing(
      &target, {out / "snap003.snp", out / "damaged.snp", out / "snap001.snp"});
  EXPECT_STREQ(importing->title(), "Import");
  EXPECT_STREQ(importing->message(), "Importing snapshots...");
  ASSERT_TRUE(importing->start());
  waitForEnd(*importing);
  EXPECT_EQ(importing->result().kind, MessageKind::Error);
  EXPECT_EQ(importing->result().text, "Import error");
  EXPECT_EQ(importing->transfer().imported(), (std::vector<int32_t>{10, 11}));
  // The worker saved the catalog before it ended.
  Settings saved(other.str());
  ASSERT_TRUE(saved.load());
  ASSERT_EQ(saved.catalog().count(), 2u);
  EXPECT_EQ(saved.catalog().record(0).name, "snap 3");
  EXPECT_EQ(saved.catalog().record(1).name, "snap 1");
  EXPECT_EQ(saved.catalog().lastNo, 11);
}

TEST_F(TransferJobTest, AbortReturnsOnceTheWorkerHasEndedAndShowsNothing) {
  // Several copies of a large snapshot, so that the abort lands while files remain.
  SnapshotFile big;
  ASSERT_TRUE(big.create(source.catalog().snapshotPath(4).path));
  std::vector<uint8_t> block(1 << 16);
  for (size_t i = 0; i < block.size(); i++) block[i] = uint8_t(i * 2654435761u >> 11);
  for (int i = 0; i < 48; i++) big.appendBlock(block.data(), block.size());
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  SnapshotInfo info;
  info.fillNew("big", 4, lists);
  ASSERT_TRUE(big.finish(&info));
  ASSERT_TRUE(big.close());
  source.catalog().addSnapshot(info);

  auto exporting = TransferJob::exporting(&source, {4, 1, 2, 3}, out.str());
  ASSERT_TRUE(exporting->start());
  exporting->abort();
  EXPECT_TRUE(exporting->ended());
  // Whatever was written is whole: an interrupted target is deleted, never left half.
  std::vector<std::string> written = out.names();
  for (const std::string& name : written) {
    TempFolder check;
    SnapshotInfo unpacked;
    EXPECT_TRUE(unpackFile(out / name, check / "x.snp", &unpacked, nullptr)) << name;
  }
  // No closing message after an abort, unless the worker had finished every file first.
  if (written.size() < 4) {
    EXPECT_TRUE(exporting->result().empty()) << exporting->result().text;
  }
}

TEST_F(TransferJobTest, AJobDestroyedWhileRunningWaitsForItsWorker) {
  auto exporting = TransferJob::exporting(&source, {1, 2, 3}, out.str());
  ASSERT_TRUE(exporting->start());
  exporting.reset();  // the worker would write into freed memory if the job did not wait
  for (const std::string& name : out.names()) {
    TempFolder check;
    SnapshotInfo unpacked;
    EXPECT_TRUE(unpackFile(out / name, check / "x.snp", &unpacked, nullptr)) << name;
  }
}

}  // namespace
}  // namespace keldrun
