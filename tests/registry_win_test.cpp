// The registry seam on a real registry (Windows, or Wine): values written with the registry API
// are scanned back exactly, and a full scan of every root completes.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/text_win.h"
#include "engine/registry_scan.h"
#include "engine/value_entry.h"
#include "platform/registry.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::readTreeEntries;
using testing_support::utf16;

// An Env whose registry is the system's, through the Win32 registry seam.
class Win32RegistryEnv : public Env {
 public:
  uint32_t logicalDrives() override { return 0; }
  int driveType(char16_t) override { return kDriveNoRootDir; }
  std::unique_ptr<FolderListing> listFolder(const std::u16string&) override { return nullptr; }
  std::unique_ptr<RegistryKey> openHive(int hive) override { return openWin32Hive(hive); }
  std::u16string computerName() override { return u"TEST"; }
};


struct Written {
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
  bool wide;  // stored as UTF-16
};

class RegistryWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyPath_ = u"Software\\KeldrunTest\\Values" + std::u16string(1, char16_t(u'0' + GetCurrentProcessId() % 10));
    RegDeleteTreeW(HKEY_CURRENT_USER, toWide(keyPath_).c_str());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, toWide(keyPath_).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    path_ = folder_ / "registry_win.snp";
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KeldrunTest");
  }
  void set(const Written& v) {
    ASSERT_EQ(RegSetValueExW(key_, toWide(v.name).c_str(), 0, v.type, v.data.data(), DWORD(v.data.size())),
              ERROR_SUCCESS)
        << v.type;
  }

  std::u16string keyPath_;
  HKEY key_ = nullptr;
  testing_support::TempFolder folder_;  // outlives the snapshot files inside it
  std::string path_;
};

TEST_F(RegistryWinTest, FilteredScanReadsBackWhatWasWritten) {
  std::vector<Written> values;
  for (uint32_t t = 0; t <= 11; t++) {
    std::vector<uint8_t> d;
    if (t == 1 || t == 2)
      d = utf16(u"text %x% \u00e9");
    else if (t == 7)
      d = utf16(std::u16string(u"one\0two\0", 8));
    else if (t == 4 || t == 5)
      d = {uint8_t(t), 0, 0, 1};
    else if (t == 11)
      d = {1, 2, 3, 4, 5, 6, 7, 8};
    else
      d = {uint8_t(t), 0xFF, 0x00, 0x80};
    values.push_back({u"type " + std::u16string(1, char16_t(u'a' + t)), t, d, false});
  }
  values.push_back({u"type 0x20", 0x20, {0x20, 0x21}, false});
  values.push_back({u"empty binary", 3, {}, false});
  values.push_back({u"empty string", 1, {}, false});
  std::vector<uint8_t> b65500(65500), b65501(65501);
  for (size_t i = 0; i < b65501.size(); i++) b65501[i] = uint8_t(i * 7);
  for (size_t i = 0; i < b65500.size(); i++) b65500[i] = uint8_t(i * 3);
  values.push_back({u"binary 65500", 3, b65500, false});
  values.push_back({u"binary 65501", 3, b65501, false});
  values.push_back({u"string 65501", 1, utf16(std::u16string(65500, u'z')), false});
  values.push_back({u"wide string", 1, utf16(u"\u4e2d\u6587 and \u0416"), true});
  values.push_back({u"odd string", 1, {'a', 0, 'b'}, true});
  values.push_back({u"\u4e2d\u6587 name \u20ac", 4, {9, 0, 0, 0}, false});
  values.push_back({u"quote \" back \\ slash", 1, utf16(u"x"), false});
  values.push_back({u"", 1, utf16(u"the default"), false});
  for (const Written& v : values) set(v);

  Win32RegistryEnv env;
  RegistryStore store(&env);
  SnapshotFile writer;
  ASSERT_TRUE(writer.create(path_));
  std::u16string item = u"hkey_current_user\\" + keyPath_ + u"\\";
  store.scan(&writer, {item});
  SnapshotInfo info;
  ASSERT_TRUE(writer.finish(&info));
  writer.close();
  SnapshotFile reader;
  ASSERT_TRUE(reader.open(path_, &info));

  // Down the path: HKEY_CURRENT_USER, software, keldruntest, valuesN.
  uint32_t table = info.sectionOffset[kSectionRegistry];
  TreeEntry entry;
  std::vector<std::vector<uint8_t>> blocks;
  for (int level = 0; level < 4; level++) {
    std::vector<uint8_t> block;
    size_t n = 0;
    ASSERT_TRUE(reader.readBlock(table, &block, 0, &n));
    blocks.push_back(block);
    Slice s(blocks.back().data(), n);
    ASSERT_TRUE(TreeEntry::parse(&s, &entry));
    EXPECT_TRUE(s.empty());
    table = entry.childTable;
  }
  ValueListReader r;
  ASSERT_TRUE(r.open(&reader, entry.contentTable));
  std::map<std::u16string, Written> got;
  Item it;
  while (r.next(&it)) {
    ValueEntry v;
    ASSERT_TRUE(parseValueEntry(it.p, it.size, &v));
    got[v.name.str()] = {v.name.str(), v.type, valueRawData(v), v.dataWide};
  }
  reader.close();
  EXPECT_EQ(got.size(), values.size());
  for (const Written& v : values) {
    SCOPED_TRACE(v.type);
    ASSERT_EQ(got.count(v.name), 1u);
    EXPECT_EQ(got[v.name].type, v.type);
    EXPECT_EQ(got[v.name].data, v.data);
    EXPECT_EQ(got[v.name].wide, v.wide);
  }
  EXPECT_EQ(store.values(), values.size());
}

// Links made with the registry API: one to the key itself, to an ancestor, to the root, and two
// that point at each other are recorded as link keys, not walked without end; a link elsewhere
// is followed. The same rule as the POSIX seam's.
class RegistryLinkWinTest : public ::testing::Test {
 protected:
  const std::wstring base_ = L"Software\\KeldrunLinks";
  const std::u16string kernelBase_ = u"\\Registry\\Machine\\Software\\KeldrunLinks";

  void SetUp() override {
    removeAll();
    path_ = (std::filesystem::temp_directory_path() / "keldrun_registry_links.snp").string();
  }
  void TearDown() override {
    removeAll();
    std::remove(path_.c_str());
  }
  void makeKey(const std::wstring& sub) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base_ + L"\\" + sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }
  void makeLink(const std::wstring& sub, const std::u16string& target) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base_ + L"\\" + sub).c_str(), 0, nullptr,
                              REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    std::vector<uint8_t> bytes = utf16(target, false);
    EXPECT_EQ(RegSetValueExW(k, L"SymbolicLinkValue", 0, REG_LINK, bytes.data(), DWORD(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }
  // Links are deleted as themselves first: a tree deletion would follow them into their targets.
  void removeAll() {
    for (const wchar_t* sub : {L"Loops\\Self", L"Loops\\Up", L"Loops\\Machine", L"A\\ToB", L"B\\ToA",
                                    L"Fine"}) {
      HKEY k;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base_ + L"\\" + std::wstring(sub)).c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                        &k) == ERROR_SUCCESS) {
        EXPECT_EQ(RegDeleteKeyW(k, L""), ERROR_SUCCESS);
        RegCloseKey(k);
      }
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, base_.c_str());
  }

  std::string path_;
};

TEST_F(RegistryLinkWinTest, LinksBackIntoThePathAreRecordedNotFollowed) {
  makeKey(L"Target");
  HKEY target;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base_ + L"\\Target").c_str(), 0, KEY_ALL_ACCESS, &target),
            ERROR_SUCCESS);
  DWORD seven = 7;
  RegSetValueExW(target, L"t", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seven), 4);
  RegCloseKey(target);
  makeKey(L"Loops");
  makeKey(L"A");
  makeKey(L"B");
  makeLink(L"Loops\\Self", kernelBase_ + u"\\Loops\\Self");
  makeLink(L"Loops\\Up", kernelBase_);
  makeLink(L"Loops\\Machine", u"\\Registry\\Machine");
  makeLink(L"A\\ToB", kernelBase_ + u"\\B");
  makeLink(L"B\\ToA", kernelBase_ + u"\\A");
  makeLink(L"Fine", kernelBase_ + u"\\Target");

  Win32RegistryEnv env;
  RegistryStore store(&env);
  SnapshotFile writer;
  ASSERT_TRUE(writer.create(path_));
  store.scan(&writer, {u"hkey_local_machine\\software\\keldrunlinks\\"});
  SnapshotInfo info;
  ASSERT_TRUE(writer.finish(&info));
  writer.close();
  EXPECT_LT(store.keys(), 60u) << "a loop was followed";
  SnapshotFile reader;
  ASSERT_TRUE(reader.open(path_, &info));

  std::vector<std::vector<uint8_t>> blocks;
  auto find = [&](const std::vector<std::u16string>& names, TreeEntry* out) {
    uint32_t table = info.sectionOffset[kSectionRegistry];
    for (const std::u16string& name : names) {
      blocks.emplace_back();
      bool found = false;
      for (const TreeEntry& e : readTreeEntries(&reader, table, &blocks.back())) {
        if (compareNames(e.name.str(), name) == 0) {
          *out = e;
          found = true;
        }
      }
      if (!found) return false;
      table = out->childTable;
    }
    return true;
  };
  auto valuesOf = [&](const TreeEntry& e) {
    std::map<std::u16string, std::vector<uint8_t>> out;
    ValueListReader r;
    if (e.contentTable == 0 || !r.open(&reader, e.contentTable)) return out;
    Item it;
    ValueEntry v;
    while (r.next(&it)) {
      if (parseValueEntry(it.p, it.size, &v)) out[v.name.str()] = valueRawData(v);
    }
    return out;
  };
  const std::vector<std::u16string> base = {u"HKEY_LOCAL_MACHINE", u"Software", u"KeldrunLinks"};
  auto expectLink = [&](std::vector<std::u16string> rest, const std::u16string& to) {
    SCOPED_TRACE(toUtf8(rest.back()));
    std::vector<std::u16string> names = base;
    names.insert(names.end(), rest.begin(), rest.end());
    TreeEntry e;
    ASSERT_TRUE(find(names, &e));
    EXPECT_EQ(e.childTable, 0u);
    auto v = valuesOf(e);
    ASSERT_EQ(v.count(u"SymbolicLinkValue"), 1u);
    EXPECT_EQ(v[u"SymbolicLinkValue"], utf16(to, false));
  };
  expectLink({u"Loops", u"Self"}, kernelBase_ + u"\\Loops\\Self");
  expectLink({u"Loops", u"Up"}, kernelBase_);
  expectLink({u"Loops", u"Machine"}, u"\\Registry\\Machine");
  expectLink({u"A", u"ToB", u"ToA"}, kernelBase_ + u"\\A");
  expectLink({u"B", u"ToA", u"ToB"}, kernelBase_ + u"\\B");
  TreeEntry fine;
  std::vector<std::u16string> names = base;
  names.push_back(u"Fine");
  ASSERT_TRUE(find(names, &fine));
  auto v = valuesOf(fine);
  EXPECT_EQ(v.size(), 1u);
  EXPECT_EQ(v.count(u"t"), 1u);
  reader.close();
}

TEST_F(RegistryWinTest, FullScanOfEveryRootCompletes) {
  Win32RegistryEnv env;
  RegistryStore store(&env);
  SnapshotFile writer;
  ASSERT_TRUE(writer.create(path_));
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(store.startRegistryScan(&writer, {u"*"}));
  while (writer.runningScans() != 0) Sleep(20);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  SnapshotInfo info;
  ASSERT_TRUE(writer.finish(&info));
  writer.close();
  std::printf("full registry scan: %u keys, %u values, %.2f s\n", store.keys(), store.values(),
              seconds);
  EXPECT_GT(store.keys(), 1000u);
  EXPECT_GT(store.values(), 1000u);
  SnapshotFile reader;
  ASSERT_TRUE(reader.open(path_, &info));
  std::vector<uint8_t> block;
  EXPECT_EQ(readTreeEntries(&reader, info.sectionOffset[kSectionRegistry], &block).size(), 5u);
}

}  // namespace
}  // namespace keldrun
