// The write seam and the injected write faults of every writer of the program's files: each
// writer, with a write failing at every position in turn or the disk full after any number of
// bytes, reports failure and leaves the previous file as it was, or nothing, and no temporary
// file behind.
#include "base/file_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "engine/value_entry.h"
#include "platform/memory_registry.h"
#include "reports/reg_export.h"
#include "reports/report_writer.h"
#include "tests/fault_file_system.h"
#include "tests/report_support.h"
#include "tests/test_support.h"
#include "workspace/catalog_commands.h"
#include "workspace/scan_filter.h"
#include "workspace/settings.h"
#include "workspace/take_snapshot.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::FaultFileSystem;
using testing_support::fillDiskInTurn;
using testing_support::failEachWriteInTurn;
using testing_support::readBytes;
using testing_support::readText;
using testing_support::TempFolder;
using testing_support::utf16;
using testing_support::writeText;

std::string readAll(const std::string& path) { return readText(path); }

// ---------------------------------------------------------------------------------------------
// The seam itself, on real files.

TEST(WriteSeam, BufferedAppendsAndPositionedWritesLandInPlace) {
  TempFolder dir;
  FileSystem* fs = defaultFileSystem();
  std::unique_ptr<WritableFile> f = fs->openWritable(dir / "a", WriteMode::kCreate);
  ASSERT_TRUE(f);
  std::string big(3 << 20, 'b');  // larger than the buffer: written past it
  std::string mid(512 << 10, 'm');  // large enough to be written from where it is
  ASSERT_TRUE(f->append("head", 4));
  ASSERT_TRUE(f->append(mid.data(), mid.size()));
  ASSERT_TRUE(f->append("-", 1));
  ASSERT_TRUE(f->append(big.data(), big.size()));
  ASSERT_TRUE(f->append("tail", 4));
  EXPECT_EQ(f->size(), 9 + mid.size() + big.size());
  ASSERT_TRUE(f->writeAt(0, "HE", 2));  // the buffered "tail" goes out first
  ASSERT_TRUE(f->append("!", 1));
  ASSERT_TRUE(f->close());
  EXPECT_TRUE(f->close()) << "closing twice is harmless";
  EXPECT_EQ(readAll(dir / "a"), "HEad" + mid + "-" + big + "tail!");

  // Update appends after the existing bytes; create-new refuses an existing file.
  f = fs->openWritable(dir / "a", WriteMode::kUpdate);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->size(), 10 + mid.size() + big.size());
  ASSERT_TRUE(f->append("+", 1));
  ASSERT_TRUE(f->writeAt(1, "e", 1));
  ASSERT_TRUE(f->close());
  EXPECT_EQ(readAll(dir / "a"), "Head" + mid + "-" + big + "tail!+");
  EXPECT_FALSE(fs->openWritable(dir / "a", WriteMode::kCreateNew));
  EXPECT_FALSE(fs->openWritable(dir / "none", WriteMode::kUpdate));
  EXPECT_FALSE(fs->openWritable(dir / "no/such/folder", WriteMode::kCreate));
  EXPECT_FALSE(std::filesystem::exists(dir / "none"));
}

TEST(WriteSeam, ReplacingFileShowsOnlyWholeOutput) {
  TempFolder dir;
  writeText(dir / "t", "previous");
  {
    ReplacingFile out;
    ASSERT_TRUE(out.create(dir / "t"));
    ASSERT_TRUE(out.file()->append("new", 3));
    ASSERT_TRUE(out.file()->flush());
    EXPECT_EQ(readAll(dir / "t"), "previous") << "nothing shows before commit";
    EXPECT_EQ(dir.names().size(), 2u) << "the temporary file lies beside the target";
  }
  EXPECT_EQ(dir.names(), std::vector<std::string>{"t"}) << "dropped uncommitted: removed";
  EXPECT_EQ(readAll(dir / "t"), "previous");

  ReplacingFile out;
  ASSERT_TRUE(out.create(dir / "t"));
  ASSERT_TRUE(out.file()->append("new", 3));
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(readAll(dir / "t"), "new");
  EXPECT_FALSE(out.commit()) << "one commit per create";
  EXPECT_EQ(dir.names(), std::vector<std::string>{"t"});

  // A folder, or a name that stops being replaceable before the commit, is never replaced.
  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(out.create(dir / "folder"));
  ASSERT_TRUE(out.create(dir / "later"));
  std::filesystem::create_directory(dir / "later");
  EXPECT_FALSE(out.commit());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "later"));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder", "later", "t"}));

  // Two writers of one target never share a temporary file; the last commit wins.
  ReplacingFile first, second;
  ASSERT_TRUE(first.create(dir / "t"));
  ASSERT_TRUE(second.create(dir / "t"));
  ASSERT_TRUE(first.file()->append("one", 3));
  ASSERT_TRUE(second.file()->append("two", 3));
  ASSERT_TRUE(first.commit());
  ASSERT_TRUE(second.commit());
  EXPECT_EQ(readAll(dir / "t"), "two");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder", "later", "t"}));
}

TEST(WriteSeam, FailedWriteOrRenameLeavesTargetAndNoTemporaryFile) {
  TempFolder dir;
  writeText(dir / "t", "previous");
  FaultFileSystem renames;
  renames.failRenames(true);
  EXPECT_FALSE(replaceFileContent(&renames, dir / "t", "new", 3));
  EXPECT_EQ(readAll(dir / "t"), "previous");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"t"});

  // A commit checks the writes itself, whether or not its writer did.
  FaultFileSystem full;
  full.setByteLimit(2);
  ReplacingFile out(&full);
  ASSERT_TRUE(out.create(dir / "t"));
  out.file()->append("new", 3);
  EXPECT_FALSE(out.commit());
  EXPECT_EQ(readAll(dir / "t"), "previous");
  EXPECT_EQ(dir.names(), std::vector<std::string>{"t"});
}

// ---------------------------------------------------------------------------------------------
// Every writer under injected faults.

class WriteFaultTest : public ::testing::Test {
 protected:
  // What a failed attempt must leave: exactly these names in the folder, the file `kept` (when
  // given) with its content from before.
  void expectLeft(const std::vector<std::string>& names, const std::string& kept = "",
                  const std::string& content = "") {
    EXPECT_EQ(dir.names(), names);
    if (!kept.empty()) {
      EXPECT_TRUE(readAll(dir / kept) == content) << kept << " changed";
    }
  }
  TempFolder dir;
};

TEST_F(WriteFaultTest, SettingsKeepThePreviousFile) {
  Settings previous(dir.str());
  addSnapshotTo(&previous, 1, "one");
  ASSERT_TRUE(previous.save());
  const std::string before = readAll(dir / "Keldrun.cfg");
  auto attempt = [&](FileSystem* fs) {
    Settings s(dir.str());
    s.ensureLoaded();
    addSnapshotTo(&s, 2, "two");
    return s.save("", fs);
  };
  auto check = [&](uint64_t) {
    expectLeft({"Keldrun.cfg", "data"}, "Keldrun.cfg", before);
    Settings back(dir.str());
    back.ensureLoaded();
    EXPECT_EQ(back.catalog().count(), 1u);
  };
  fillDiskInTurn(attempt, check);
  failEachWriteInTurn(attempt, check);
}

TEST_F(WriteFaultTest, ScanFilterKeepsThePreviousFile) {
  writeText(dir / "scan_filter.txt", "Registry:\nhkey_users\\\n\nFiles:\n\nApplications:\n\n");
  const std::string before = readAll(dir / "scan_filter.txt");
  FilterList lists[kSectionCount] = {{u"hkey_local_machine\\software\\"}, {u"c:\\windows\\"}, {u"*"}};
  auto attempt = [&](FileSystem* fs) { return writeFilterFile(dir / "scan_filter.txt", lists, fs); };
  auto check = [&](uint64_t) { expectLeft({"scan_filter.txt"}, "scan_filter.txt", before); };
  fillDiskInTurn(attempt, check);
  failEachWriteInTurn(attempt, check);
}

// A report of several pages with an index page, over a report written before.
TEST_F(WriteFaultTest, ReportKeepsThePreviousReport) {
  writeText(dir / "r.htm", "previous");
  auto attempt = [&](FileSystem* fs) {
    ReportWriter w(fs);
    if (!w.open(dir / "r.htm", 1000)) return false;
    w.beginSection(kSectionRegistry, SectionRows());
    for (int i = 0; i < 3500; i++) {
      w.countRow(true);
      w.writeAscii("<tr><td>" + std::string(40, 'x') + std::to_string(i));
    }
    return w.finish();
  };
  auto check = [&](uint64_t) { expectLeft({"r.htm"}, "r.htm", "previous"); };
  fillDiskInTurn(attempt, check, 25);
  EXPECT_GT(failEachWriteInTurn(attempt, check), 5u) << "pages are written in several parts";
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"r.htm", "r_000.htm", "r_001.htm",
                                                   "r_002.htm", "r_003.htm"}));
}

TEST_F(WriteFaultTest, RegExportKeepsThePreviousFile) {
  auto registry = MemoryRegistry::create();
  for (int i = 0; i < 3000; i++)
    registry->setValue(kHiveLocalMachine, u"Software\\Vendor\\K" + fromUtf8(std::to_string(i % 40)),
                       u"v" + fromUtf8(std::to_string(i)), kRegSz, utf16(u"some text of a value"));
  report_testing::SnapSpec spec;
  spec.registry = registry;
  TempFolder snaps;
  ASSERT_TRUE(report_testing::writeSnapshot(snaps / "a.snp", spec));
  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(snaps / "a.snp", "", kModeView, true));
  writeText(dir / "x.reg", "previous");
  auto attempt = [&](FileSystem* fs) {
    std::string message;
    bool ok = exportKey(&context, kRegExportContent, u"HKEY_LOCAL_MACHINE\\Software\\Vendor",
                        dir / "x.reg", &message, nullptr, fs);
    EXPECT_EQ(ok, message.empty()) << message;
    return ok;
  };
  auto check = [&](uint64_t) { expectLeft({"x.reg"}, "x.reg", "previous"); };
  fillDiskInTurn(attempt, check);
  EXPECT_GT(failEachWriteInTurn(attempt, check), 1u) << "an export larger than one buffer";
}

// A snapshot file of several pack chunks.
std::string makeLargeSnapshot(const TempFolder& dir, const std::string& name) {
  auto registry = MemoryRegistry::create();
  for (int i = 0; i < 6000; i++)
    registry->setValue(kHiveCurrentUser, u"Software\\K" + fromUtf8(std::to_string(i % 300)),
                       u"v" + fromUtf8(std::to_string(i)), kRegBinary,
                       std::vector<uint8_t>(200, uint8_t(i * 7)));
  report_testing::SnapSpec spec;
  spec.registry = registry;
  std::string path = dir / name;
  EXPECT_TRUE(report_testing::writeSnapshot(path, spec));
  EXPECT_GT(std::filesystem::file_size(path), 2 * kPackChunkSize);
  return path;
}

TEST_F(WriteFaultTest, PackKeepsThePreviousExport) {
  TempFolder source;
  std::string snapshot = makeLargeSnapshot(source, "snap001.snp");
  writeText(dir / "snap001.snp", "previous export");
  auto attempt = [&](FileSystem* fs) { return packFile(snapshot, dir / "snap001.snp", nullptr, fs); };
  auto check = [&](uint64_t) { expectLeft({"snap001.snp"}, "snap001.snp", "previous export"); };
  fillDiskInTurn(attempt, check);
  EXPECT_GT(failEachWriteInTurn(attempt, check), 4u);
}

// Import: the unpacked snapshot, its info record and the catalog. A failure anywhere leaves the
// workspace as it was.
TEST_F(WriteFaultTest, ImportLeavesTheWorkspaceAsItWas) {
  TempFolder source;
  std::string snapshot = makeLargeSnapshot(source, "snap001.snp");
  ASSERT_TRUE(packFile(snapshot, source / "packed.snp", nullptr));
  Settings previous(dir.str());
  addSnapshotTo(&previous, 1, "one");
  ASSERT_TRUE(previous.save());
  const std::string before = readAll(dir / "Keldrun.cfg");
  auto attempt = [&](FileSystem* fs) {
    Settings s(dir.str());
    s.ensureLoaded();
    SnapshotTransfer transfer(fs);
    ShellMessage m = transfer.importSnapshots(&s, {source / "packed.snp"});
    bool ok = m.kind != MessageKind::Error;
    EXPECT_EQ(transfer.imported().size(), ok ? 1u : 0u);
    EXPECT_EQ(s.catalog().count(), ok ? 2u : 1u) << "the catalog in memory matches the one on disk";
    return ok;
  };
  auto check = [&](uint64_t) {
    expectLeft({"Keldrun.cfg", "Keldrun.lock", "data"}, "Keldrun.cfg", before);
    EXPECT_EQ(TempFolder::namesIn(dir / "data"), std::vector<std::string>{"snap001.snp"});
  };
  uint64_t writes = failEachWriteInTurn(attempt, check);
  EXPECT_GT(writes, 4u) << "unpacked chunks, the info record and the catalog all count";
  Settings back(dir.str());
  back.ensureLoaded();
  EXPECT_EQ(back.catalog().count(), 2u);
}

// Taking a snapshot: the snapshot file, then the catalog. A snapshot the saved catalog does not
// list is deleted and the command reports the failure.
TEST_F(WriteFaultTest, TakeSnapshotLeavesTheWorkspaceAsItWas) {
  auto registry = MemoryRegistry::create();
  for (int i = 0; i < 2000; i++)
    registry->setValue(kHiveLocalMachine, u"Software\\K" + fromUtf8(std::to_string(i % 100)),
                       u"v" + fromUtf8(std::to_string(i)), kRegSz, utf16(u"value text"));
  MemoryRegistryEnv env(registry);
  Settings previous(dir.str());
  addSnapshotTo(&previous, 1, "one");
  ASSERT_TRUE(previous.save());
  const std::string before = readAll(dir / "Keldrun.cfg");
  std::string message;
  auto attempt = [&](FileSystem* fs) {
    Settings s(dir.str());
    TakeSnapshot take(&s, &env, fs);
    FilterList lists[kSectionCount] = {{u"*"}, {}, {}};
    ShellMessage m = take.start(lists);
    if (!m.empty()) {
      message = m.text;
      return false;
    }
    for (int i = 0; i < 20000 && take.state() == TakeSnapshot::State::Scanning; i++) {
      m = take.tick();
      if (take.state() == TakeSnapshot::State::Scanning)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    message = m.text;
    bool ok = take.state() == TakeSnapshot::State::Finished;
    EXPECT_EQ(s.catalog().count(), ok ? 2u : 1u) << "the catalog in memory matches the one on disk";
    EXPECT_EQ(m.kind, ok ? MessageKind::Information : MessageKind::Error);
    return ok;
  };
  auto check = [&](uint64_t) {
    expectLeft({"Keldrun.cfg", "Keldrun.lock", "data"}, "Keldrun.cfg", before);
    EXPECT_EQ(TempFolder::namesIn(dir / "data"), std::vector<std::string>{"snap001.snp"});
    EXPECT_FALSE(std::filesystem::exists(dir / "KeldrunLog.txt")) << "no completion logged";
  };
  uint64_t writes = failEachWriteInTurn(attempt, check);
  EXPECT_GT(writes, 10u);
  EXPECT_TRUE(std::filesystem::exists(dir / "data/snap002.snp"));

  // The message names what failed.
  std::filesystem::remove(dir / "data/snap002.snp");
  std::filesystem::remove(dir / "KeldrunLog.txt");
  ASSERT_TRUE(writeText(dir / "Keldrun.cfg", before));
  FaultFileSystem renames;
  renames.failRenames(true);
  EXPECT_FALSE(attempt(&renames));
  EXPECT_EQ(message, "Cannot save the catalog (" + dir / "Keldrun.cfg" + ")");
  check(0);
}

}  // namespace
}  // namespace keldrun
