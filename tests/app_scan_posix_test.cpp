// The applications scan over the POSIX seam: a Wine-like prefix on disk (drives, executables with
// version resources, Startup folders) and an in-memory registry.
#include "engine/app_scan.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/coding.h"
#include "base/text.h"
#include "platform/env.h"
#include "platform/memory_registry.h"
#include "tests/pe_image_support.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::block;
using testing_support::buildPe;
using testing_support::Bytes;
using testing_support::finishAppsSnapshot;
using testing_support::PeOptions;
using testing_support::readTreeEntries;
using testing_support::text;
using testing_support::translations;
using testing_support::utf16;
using testing_support::versionInfo;

constexpr uint32_t kSz = 1, kExpandSz = 2, kDword = 4;

// A PE32+ image whose version resource names the given strings (an empty string leaves its
// entry out).
Bytes peWithVersion(const std::u16string& product, const std::u16string& file,
                    const std::u16string& company) {
  const std::pair<const char16_t*, std::u16string> entries[] = {
      {u"CompanyName", company}, {u"FileVersion", file}, {u"ProductVersion", product}};
  std::vector<Bytes> strings;
  for (const auto& [key, value] : entries) {
    if (!value.empty()) strings.push_back(text(key, value));
  }
  PeOptions pe;
  pe.languages = {{0x0409, versionInfo({block(u"StringFileInfo", 1, 0, {}, {block(u"040904b0", 1, 0, {}, strings)}),
                                        translations({{0x0409, 0x04b0}})})}};
  return buildPe(pe);
}

Bytes dwordData(uint32_t v) {
  Bytes b;
  appendU32(&b, v);
  return b;
}

// The registry from the helper's in-memory store, drives and files from a prefix on disk.
class PrefixEnv : public MemoryRegistryEnv {
 public:
  PrefixEnv(std::shared_ptr<MemoryRegistry> registry, std::unique_ptr<Env> files)
      : MemoryRegistryEnv(std::move(registry), files.get()), files_(std::move(files)) {}
  std::string nativePath(const std::u16string& path) override { return files_->nativePath(path); }

 private:
  std::unique_ptr<Env> files_;
};

class AppScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_ / "prefix";
    drive_ = root_ + "/drive_c";
    mkdirs("dosdevices");
    ASSERT_EQ(symlink("../drive_c", (root_ + "/dosdevices/c:").c_str()), 0);
    mkdirs("drive_c/windows/system32/drivers");
    mkdirs("drive_c/Program Files/Keldrun Test");
    mkdirs("drive_c/tools");
    mkdirs("drive_c/users/me/Startup/Sub Folder");
    mkdirs("drive_c/ProgramData/Startup");
    write("windows/system32/tool.exe", peWithVersion(u"2.0", u"2.0.1.5", u"Tool Makers"));
    write("windows/system32/svc.exe", peWithVersion(u"", u"3.1", u"Service Co"));
    write("windows/system32/drivers/foo.sys", peWithVersion(u"6.1", u"6.1.0.1", u"Driver Co"));
    write("windows/system32/drivers/bare.sys", peWithVersion(u"1.0", u"", u""));
    write("Program Files/Keldrun Test/Tool.exe", peWithVersion(u"9.9", u"", u"Spaced Inc"));
    write("tools/helper.exe", peWithVersion(u"4.4", u"", u"Helpers"));
    write("users/me/Startup/desktop.ini", Bytes{'[', ']'});
    write("users/me/Startup/App.lnk", Bytes(77, 'L'));
    write("ProgramData/Startup/Shared.lnk", Bytes(5, 'S'));

    registry_ = MemoryRegistry::create();
    setString(kHiveLocalMachine, u"Software\\Microsoft\\Windows NT\\CurrentVersion", u"SystemRoot",
              u"C:\\windows");
    setString(kHiveCurrentUser, u"Environment", u"PATH", u"%SystemDrive%\\tools", kExpandSz);
    setString(kHiveLocalMachine, u"System\\CurrentControlSet\\Control\\Session Manager\\Environment",
              u"PATH", u"%SystemRoot%\\system32;%SystemRoot%", kExpandSz);
    setString(kHiveCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
              u"StartUp", u"C:\\users\\me\\Startup");
    setString(kHiveLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
              u"Common Startup", u"C:\\ProgramData\\Startup\\");
    env_ = std::make_unique<PrefixEnv>(registry_, newPosixEnv(root_));
  }

  void mkdirs(const std::string& rel) { ASSERT_TRUE(std::filesystem::create_directories(root_ + "/" + rel)) << rel; }
  void write(const std::string& rel, const Bytes& bytes) {
    FILE* f = std::fopen((drive_ + "/" + rel).c_str(), "wb");
    ASSERT_NE(f, nullptr) << rel;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  void setString(int hive, const std::u16string& key, const std::u16string& name,
                 const std::u16string& value, uint32_t type = kSz) {
    ASSERT_TRUE(registry_->setValue(hive, key, name, type, utf16(value)));
  }
  void addService(const std::u16string& name, uint32_t type, uint32_t start,
                  const std::u16string& imagePath, const std::u16string& display,
                  const std::u16string& description = u"") {
    std::u16string key = u"System\\CurrentControlSet\\Services\\" + name;
    ASSERT_TRUE(registry_->setValue(kHiveLocalMachine, key, u"Type", kDword, dwordData(type)));
    ASSERT_TRUE(registry_->setValue(kHiveLocalMachine, key, u"Start", kDword, dwordData(start)));
    if (!imagePath.empty()) setString(kHiveLocalMachine, key, u"ImagePath", imagePath, kExpandSz);
    if (!display.empty()) setString(kHiveLocalMachine, key, u"DisplayName", display);
    if (!description.empty()) setString(kHiveLocalMachine, key, u"Description", description);
  }
  // Last-write time and size of a file of drive c: as the scan must record them.
  void statOf(const std::string& rel, uint64_t* time, uint64_t* size) {
    struct stat st;
    ASSERT_EQ(::stat((drive_ + "/" + rel).c_str(), &st), 0);
    *time = 116444736000000000ull + uint64_t(st.st_mtim.tv_sec) * 10000000ull +
            uint64_t(st.st_mtim.tv_nsec) / 100;
    *size = uint64_t(st.st_size);
  }

  testing_support::TempFolder folder_;
  std::string root_, drive_;
  std::shared_ptr<MemoryRegistry> registry_;
  std::unique_ptr<PrefixEnv> env_;
};

TEST_F(AppScanTest, ResolvesCommands) {
  struct Case {
    std::u16string command;
    bool found;
    std::u16string path;
    std::u16string arguments;
  };
  const std::vector<Case> cases = {
      {u"\"C:\\Program Files\\Keldrun Test\\Tool.exe\" /min", true,
       u"c:\\program files\\keldrun test\\tool.exe", u"/min"},
      {u"\"C:\\Program Files\\Keldrun Test\\Tool.exe\"  \t-a b", true,
       u"c:\\program files\\keldrun test\\tool.exe", u"-a b"},
      {u"tool /x  /y", true, u"c:\\windows\\system32\\tool.exe", u"/x  /y"},
      {u"TOOL.EXE", true, u"c:\\windows\\system32\\tool.exe", u""},
      {u"helper --now", true, u"c:\\tools\\helper.exe", u"--now"},
      {u"\\??\\C:\\windows\\system32\\drivers\\foo.sys", true,
       u"c:\\windows\\system32\\drivers\\foo.sys", u""},
      {u"System32\\DRIVERS\\foo.sys", true, u"c:\\windows\\system32\\drivers\\foo.sys", u""},
      {u"\\SystemRoot\\System32\\drivers\\foo.sys", true,
       u"c:\\windows\\system32\\drivers\\foo.sys", u""},
      {u"\\systemroot\\system32\\drivers\\foo.sys", true,
       u"c:\\windows\\system32\\drivers\\foo.sys", u""},
      {u"foo.sys", true, u"c:\\windows\\system32\\drivers\\foo.sys", u""},
      {u"FOO.SYS", false, u"", u""},  // ".sys" is matched in exact case
      // Unquoted with spaces: cut at the first space, "C:\Program" + ".exe" does not exist.
      {u"C:\\Program Files\\Keldrun Test\\Tool.exe /min", false, u"", u""},
      {u"missing.exe arg", false, u"", u""},
      {u"\"\"", false, u"", u""},
      {u"", false, u"", u""},
  };
  AppGatherer g(env_.get(), nullptr);
  EXPECT_EQ(g.windowsFolder(), u"C:\\windows\\");
  EXPECT_EQ(g.driversFolder(), u"C:\\windows\\system32\\drivers\\");
  for (const Case& c : cases) {
    SCOPED_TRACE(toUtf8(c.command));
    std::u16string path, arguments;
    EXPECT_EQ(g.resolveCommand(c.command, &path, &arguments), c.found);
    EXPECT_EQ(toUtf8(path), toUtf8(c.path));
    EXPECT_EQ(toUtf8(arguments), toUtf8(c.arguments));
  }
}

TEST_F(AppScanTest, ReadFileInfoFillsFileTimeSizeVersionAndCompany) {
  AppGatherer g(env_.get(), nullptr);
  AppRecord r;
  ASSERT_TRUE(g.readFileInfo(u"\"C:\\Program Files\\Keldrun Test\\Tool.exe\" /min", &r));
  EXPECT_EQ(r.file, u"c:\\program files\\keldrun test\\tool.exe /min");
  uint64_t time = 0, size = 0;
  statOf("Program Files/Keldrun Test/Tool.exe", &time, &size);
  EXPECT_EQ(r.modified, time);
  EXPECT_EQ(r.size, size);
  EXPECT_EQ(r.version, u"9.9");
  EXPECT_EQ(r.company, u"Spaced Inc");

  AppRecord s;
  s.file = u"kept as is";
  ASSERT_TRUE(g.readFileInfo(u"svc.exe", &s));
  EXPECT_EQ(s.file, u"kept as is");
  EXPECT_EQ(s.version, u"3.1");  // no ProductVersion: the FileVersion

  AppRecord lnk;  // a file without a version resource: time and size, then false
  EXPECT_FALSE(g.readFileInfo(u"C:\\users\\me\\Startup\\App.lnk", &lnk));
  EXPECT_EQ(lnk.size, 77u);
  EXPECT_NE(lnk.modified, 0u);
  EXPECT_TRUE(lnk.version.empty());

  AppRecord none;
  EXPECT_FALSE(g.readFileInfo(u"nothing here", &none));
  EXPECT_TRUE(none.file.empty());
  EXPECT_EQ(none.size, 0u);
}

TEST_F(AppScanTest, GathersRunValuesAndStartupFolders) {
  const std::u16string run = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  setString(kHiveLocalMachine, run, u"Spaced", u"\"C:\\Program Files\\Keldrun Test\\Tool.exe\" /min");
  setString(kHiveLocalMachine, run, u"Expanded", u"%SystemRoot%\\system32\\tool.exe", kExpandSz);
  setString(kHiveLocalMachine, run + u"Once", u"Bare", u"tool -once");
  setString(kHiveCurrentUser, run, u"Gone", u"C:\\nowhere\\gone.exe -x");
  ASSERT_TRUE(registry_->setValue(kHiveCurrentUser, run, u"Binary", 3, Bytes{1, 2, 3}));

  Counter counter;
  AppGatherer g(env_.get(), &counter);
  std::vector<std::u16string> folders = g.startupFolders();
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0], u"C:\\users\\me\\Startup\\");
  EXPECT_EQ(folders[1], u"C:\\ProgramData\\Startup\\");

  std::vector<AppRecord> out;
  g.gatherStartup(&out);
  std::vector<std::u16string> names;
  for (const AppRecord& r : out) names.push_back(r.name);
  // Machine keys first, then the user's, then the user's and the shared Startup folder.
  std::vector<std::u16string> want = {u"Spaced", u"Bare", u"Gone", u"App.lnk", u"Shared.lnk"};
  ASSERT_EQ(names, want);
  EXPECT_EQ(counter.get(), 5u);
  EXPECT_EQ(out[0].file, u"c:\\program files\\keldrun test\\tool.exe /min");
  EXPECT_EQ(out[0].company, u"Spaced Inc");
  EXPECT_EQ(out[1].file, u"c:\\windows\\system32\\tool.exe -once");
  EXPECT_EQ(out[1].version, u"2.0");
  EXPECT_EQ(out[2].file, u"C:\\nowhere\\gone.exe -x");  // not found: the value as written
  EXPECT_EQ(out[2].modified, 0u);
  EXPECT_EQ(out[3].file, u"c:\\users\\me\\startup\\app.lnk");
  EXPECT_EQ(out[3].size, 77u);
  for (const AppRecord& r : out) {
    EXPECT_EQ(r.kind, kAppStartup);
    EXPECT_EQ(r.startType, 0);
    EXPECT_EQ(r.state, 0);
    EXPECT_TRUE(r.serviceName.empty());
  }
}

TEST_F(AppScanTest, AllUsersFolderFromTheProfileListWhenItNamesOne) {
  const std::u16string list = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  setString(kHiveLocalMachine, list, u"ProfilesDirectory", u"%SystemDrive%\\users", kExpandSz);
  setString(kHiveLocalMachine, list, u"AllUsersProfile", u"All Users");
  AppGatherer g(env_.get(), nullptr);
  std::vector<std::u16string> folders = g.startupFolders();
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[1], u"C:\\users\\All Users\\Start Menu\\Programs\\Startup\\");
}

TEST_F(AppScanTest, GathersServicesAndDrivers) {
  addService(u"Svc", 0x10, 3, u"C:\\windows\\system32\\svc.exe -k group", u"My Service", u"Does things");
  addService(u"Shared", 0x20, 2, u"%SystemRoot%\\system32\\svc.exe", u"Shared One");
  addService(u"Foo", 0x1, 0, u"\\SystemRoot\\System32\\drivers\\foo.sys", u"Foo Driver", u"Drives");
  addService(u"bare", 0x2, 1, u"", u"");
  addService(u"Lost", 0x1, 4, u"system32\\drivers\\lost.sys", u"Lost Driver");
  addService(u"Nothing", 0x10, 4, u"", u"Pathless");
  // A key without a type is configuration, not a service.
  setString(kHiveLocalMachine, u"System\\CurrentControlSet\\Services\\NotAService", u"Foo", u"bar");

  Counter counter;
  AppGatherer g(env_.get(), &counter);
  std::vector<AppRecord> services, drivers;
  g.gatherServices(&services, &drivers);
  EXPECT_EQ(counter.get(), 6u);
  ASSERT_EQ(services.size(), 3u);
  ASSERT_EQ(drivers.size(), 3u);
  auto find = [](const std::vector<AppRecord>& list, const std::u16string& key) {
    for (const AppRecord& r : list)
      if (r.serviceName == key) return r;
    ADD_FAILURE() << toUtf8(key);
    return AppRecord();
  };
  AppRecord svc = find(services, u"Svc");
  EXPECT_EQ(svc.kind, kAppService);
  EXPECT_EQ(svc.name, u"My Service");
  EXPECT_EQ(svc.file, u"C:\\windows\\system32\\svc.exe -k group");  // the path as configured
  EXPECT_EQ(svc.startType, kStartDemand);
  EXPECT_EQ(svc.state, kStateStopped);
  EXPECT_EQ(svc.version, u"3.1");
  EXPECT_EQ(svc.company, u"Service Co");
  EXPECT_EQ(svc.description, u"Does things");
  AppRecord shared = find(services, u"Shared");
  EXPECT_EQ(shared.file, u"C:\\windows\\system32\\svc.exe");  // expanded, as the manager gives it
  EXPECT_EQ(shared.company, u"Service Co");
  EXPECT_EQ(shared.startType, kStartAuto);
  AppRecord pathless = find(services, u"Nothing");
  EXPECT_EQ(pathless.startType, kStartUnknown);
  EXPECT_TRUE(pathless.file.empty());

  AppRecord foo = find(drivers, u"Foo");
  EXPECT_EQ(foo.kind, kAppDriver);
  EXPECT_EQ(foo.file, u"c:\\windows\\system32\\drivers\\foo.sys");
  EXPECT_EQ(foo.version, u"6.1");
  EXPECT_EQ(foo.company, u"Driver Co");
  EXPECT_EQ(foo.startType, kStartBoot);
  EXPECT_EQ(foo.description, u"Drives");
  AppRecord bare = find(drivers, u"bare");  // no path: its name + ".sys" in the drivers folder
  EXPECT_EQ(bare.name, u"bare");
  EXPECT_EQ(bare.file, u"c:\\windows\\system32\\drivers\\bare.sys");
  EXPECT_EQ(bare.version, u"1.0");
  EXPECT_EQ(bare.startType, kStartSystem);
  AppRecord lost = find(drivers, u"Lost");
  EXPECT_TRUE(lost.file.empty());
  EXPECT_EQ(lost.size, 0u);
  EXPECT_EQ(lost.startType, kStartDisabled);
}

std::vector<AppRecord> readGroup(SnapshotFile* f, uint32_t offset) {
  std::vector<AppRecord> out;
  AppItemListReader reader;
  if (!reader.open(f, offset)) return out;
  Item item;
  while (reader.next(&item)) {
    AppRecord r;
    EXPECT_TRUE(decodeAppEntry(item.p, item.size, &r));
    out.push_back(r);
  }
  return out;
}

TEST_F(AppScanTest, StoreWritesTheSectionOnItsThread) {
  addService(u"Svc", 0x10, 3, u"C:\\windows\\system32\\svc.exe", u"Zulu Service");
  addService(u"Svc2", 0x10, 2, u"C:\\windows\\system32\\tool.exe", u"alpha service");
  setString(kHiveCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"T", u"tool");
  std::string path = root_ + "/snap001.snp";
  {
    SnapshotFile f;
    ASSERT_TRUE(f.create(path));
    ApplicationStore store(env_.get());
    ASSERT_TRUE(store.startApplicationScan(&f));
    for (int i = 0; i < 3000 && f.runningScans() != 0; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(f.runningScans(), 0);
    store.stopApplicationScan();
    EXPECT_EQ(store.applications().get(), 5u);  // 1 Run value, 2 folder files, 2 services
    ASSERT_TRUE(finishAppsSnapshot(&f, "apps"));
    f.close();
  }
  SnapshotFile f;
  SnapshotInfo info;
  ASSERT_TRUE(f.open(path, &info));
  EXPECT_EQ(info.sectionState[kSectionApps], SectionState::Full);
  std::vector<uint8_t> rootBlock;
  std::vector<TreeEntry> groups = readTreeEntries(&f, info.sectionOffset[kSectionApps], &rootBlock);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].name.str(), u"Startup");
  EXPECT_EQ(groups[1].name.str(), u"Services");
  EXPECT_EQ(groups[2].name.str(), u"Drivers");
  // No drivers: the group is still listed, with no table.
  EXPECT_EQ(groups[2].contentTable, 0u);
  EXPECT_EQ(groups[2].contentHash, 0u);
  for (int g = 0; g < 2; g++) {
    std::vector<uint8_t> block;
    size_t n = 0;
    ASSERT_TRUE(f.readBlock(groups[g].contentTable, &block, 0, &n));
    EXPECT_EQ(groups[g].contentHash, uint32_t(crc32(0, block.data(), uInt(n))));
    EXPECT_EQ(groups[g].childTable, 0u);
    EXPECT_EQ(groups[g].childHash, 0u);
  }
  std::vector<AppRecord> startup = readGroup(&f, groups[0].contentTable);
  ASSERT_EQ(startup.size(), 3u);
  EXPECT_EQ(startup[0].name, u"App.lnk");
  EXPECT_EQ(startup[1].name, u"Shared.lnk");
  EXPECT_EQ(startup[2].name, u"T");
  EXPECT_EQ(startup[2].file, u"c:\\windows\\system32\\tool.exe");
  std::vector<AppRecord> services = readGroup(&f, groups[1].contentTable);
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].name, u"alpha service");
  EXPECT_EQ(services[0].version, u"2.0");
  EXPECT_EQ(services[1].name, u"Zulu Service");
}

// Special files: a FIFO named by a Run value, by a service and placed in a Startup folder. A
// feeder per FIFO waits for a reader and offers it a version resource; a scan that reads only
// regular files records each FIFO without version data and never reads what is offered (a scan
// that opened a FIFO blocking would wait for its feeder and then read "6.6").
TEST_F(AppScanTest, FifosAreRecordedWithoutBeingRead) {
  signal(SIGPIPE, SIG_IGN);  // a feeder may write after the scan has closed its end
  const std::vector<std::string> fifos = {"tools/runpipe.exe", "tools/svcpipe.exe", "users/me/Startup/Pipe.lnk"};
  Bytes offered = peWithVersion(u"6.6", u"6.6", u"Pipe Co");
  std::vector<std::thread> feeders;
  for (const std::string& rel : fifos) {
    std::string path = drive_ + "/" + rel;
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << rel;
    feeders.emplace_back([path, &offered] {
      int fd = ::open(path.c_str(), O_WRONLY);  // waits for a reader
      if (fd < 0) return;
      ssize_t ignored = ::write(fd, offered.data(), offered.size());
      (void)ignored;
      ::close(fd);
    });
  }
  setString(kHiveCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"R", u"C:\\tools\\runpipe.exe");
  setString(kHiveCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"T", u"tool");
  addService(u"Piped", 0x10, 2, u"C:\\tools\\svcpipe.exe", u"Piped Service");

  std::string path = root_ + "/fifo.snp";
  SnapshotFile f;
  ASSERT_TRUE(f.create(path));
  Counter counter;
  scanApplications(env_.get(), &f, &counter);
  ASSERT_TRUE(finishAppsSnapshot(&f, "fifo"));
  f.close();
  // Release the feeders of FIFOs the scan never opened: the read ends stay open until every
  // feeder is done, since a feeder that reaches its open only later would otherwise wait for
  // ever. What they offer fits in the pipe's buffer.
  std::vector<int> readers;
  for (const std::string& rel : fifos) readers.push_back(::open((drive_ + "/" + rel).c_str(), O_RDONLY | O_NONBLOCK));
  for (std::thread& t : feeders) t.join();
  for (int fd : readers)
    if (fd >= 0) ::close(fd);

  SnapshotInfo info;
  ASSERT_TRUE(f.open(path, &info));
  std::vector<uint8_t> rootBlock;
  std::vector<TreeEntry> groups = readTreeEntries(&f, info.sectionOffset[kSectionApps], &rootBlock);
  ASSERT_EQ(groups.size(), 3u);
  std::vector<AppRecord> records = readGroup(&f, groups[0].contentTable);
  for (const AppRecord& r : readGroup(&f, groups[1].contentTable)) records.push_back(r);
  int fifoRecords = 0;
  for (const AppRecord& r : records) {
    SCOPED_TRACE(toUtf8(r.name));
    if (r.name == u"T") {
      EXPECT_EQ(r.version, u"2.0") << "regular files are still read";
    }
    if (r.name == u"R" || r.name == u"Piped Service" || r.name == u"Pipe.lnk") {
      fifoRecords++;
      EXPECT_EQ(r.version, u"");
      EXPECT_EQ(r.company, u"");
      EXPECT_EQ(r.size, 0u);
    }
  }
  EXPECT_EQ(fifoRecords, 3);
}

TEST_F(AppScanTest, MissingSourcesAreSkippedQuietly) {
  // A machine with no registry at all and no drives: three empty groups.
  MemoryRegistryEnv bare(MemoryRegistry::create());
  std::string path = root_ + "/empty.snp";
  SnapshotFile f;
  ASSERT_TRUE(f.create(path));
  Counter counter;
  scanApplications(&bare, &f, &counter);
  EXPECT_EQ(counter.get(), 0u);
  ASSERT_TRUE(finishAppsSnapshot(&f, "empty"));
  f.close();
  SnapshotInfo info;
  ASSERT_TRUE(f.open(path, &info));
  std::vector<uint8_t> rootBlock;
  std::vector<TreeEntry> groups = readTreeEntries(&f, info.sectionOffset[kSectionApps], &rootBlock);
  EXPECT_EQ(groups.size(), 3u);
  for (const TreeEntry& e : groups) EXPECT_EQ(e.contentTable, 0u);
}

}  // namespace
}  // namespace keldrun
