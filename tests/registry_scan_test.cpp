// The registry scan over in-memory registries, written into real snapshot files and read back.
#include "engine/registry_scan.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/compare.h"
#include "engine/value_entry.h"
#include "platform/memory_registry.h"
#include "platform/thread.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::utf16;

struct Key {
  std::u16string name;
  TreeEntry entry;
};

struct Value {
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
  bool wide;
};

class RegistryScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_ / "registry.snp";
    registry_ = MemoryRegistry::create();
    env_ = std::make_unique<MemoryRegistryEnv>(registry_);
  }
  void TearDown() override { reader_.close(); }

  // Scans on this thread, finishes the file and opens it for reading.
  void scan(const FilterList& filter, RegistryStore* store = nullptr) {
    RegistryStore local(env_.get());
    if (!store) store = &local;
    reader_.close();  // Windows refuses to rewrite a file another handle has mapped
    SnapshotFile writer;
    ASSERT_TRUE(writer.create(path_));
    store->scan(&writer, filter);
    SnapshotInfo info;
    info.filterList[kSectionRegistry] = filter;
    ASSERT_TRUE(writer.finish(&info));
    writer.close();
    ASSERT_TRUE(reader_.open(path_, &info_));
  }

  std::vector<Key> table(uint32_t offset) {
    std::vector<Key> out;
    if (offset == 0) return out;
    std::vector<uint8_t> block;
    size_t n = 0;
    EXPECT_TRUE(reader_.readBlock(offset, &block, 0, &n));
    blocks_.push_back(block);
    Slice s(blocks_.back().data(), n);
    TreeEntry e;
    while (TreeEntry::parse(&s, &e)) out.push_back({e.name.str(), e});
    EXPECT_TRUE(s.empty());
    return out;
  }
  std::vector<Key> roots() { return table(info_.sectionOffset[kSectionRegistry]); }

  // The entry at a path of names from the section root ("HKEY_LOCAL_MACHINE", "software", ...).
  bool find(const std::vector<std::u16string>& path, TreeEntry* out) {
    std::vector<Key> level = roots();
    for (size_t i = 0; i < path.size(); i++) {
      const Key* hit = nullptr;
      for (const Key& k : level)
        if (compareNames(k.name, path[i]) == 0) hit = &k;
      if (!hit) return false;
      if (i + 1 == path.size()) {
        *out = hit->entry;
        return true;
      }
      level = table(hit->entry.childTable);
    }
    return false;
  }

  std::vector<Value> values(const TreeEntry& key) {
    std::vector<Value> out;
    if (key.contentTable == 0) return out;
    ValueListReader reader;
    EXPECT_TRUE(reader.open(&reader_, key.contentTable));
    Item item;
    uint32_t crc = 0;
    while (reader.next(&item)) {
      ValueEntry v;
      EXPECT_TRUE(parseValueEntry(item.p, item.size, &v));
      out.push_back({v.name.str(), v.type, valueRawData(v), v.dataWide});
      crc = uint32_t(crc32(crc, item.p, uInt(item.size)));
    }
    EXPECT_EQ(crc, key.contentHash);
    return out;
  }

  testing_support::TempFolder folder_;  // outlives the snapshot files inside it
  std::string path_;
  std::shared_ptr<MemoryRegistry> registry_;
  std::unique_ptr<MemoryRegistryEnv> env_;
  SnapshotFile reader_;
  SnapshotInfo info_;
  std::vector<std::vector<uint8_t>> blocks_;
};

TEST_F(RegistryScanTest, FullScanListsTheHivesInNameOrder) {
  registry_->setValue(kHiveLocalMachine, u"Software\\Classes\\.txt", u"", 1, utf16(u"txtfile"));
  registry_->createKey(kHiveLocalMachine,
                       u"System\\CurrentControlSet\\Hardware Profiles\\Current\\Software");
  registry_->setValue(kHiveCurrentUser, u"Environment", u"TEMP", 2, utf16(u"%TEMP%"));
  RegistryStore store(env_.get());
  scan({u"*"}, &store);
  std::vector<Key> r = roots();
  std::vector<std::u16string> names;
  for (const Key& k : r) names.push_back(k.name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_CONFIG",
                                                u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE",
                                                u"HKEY_USERS"}));
  TreeEntry txt;
  ASSERT_TRUE(find({u"HKEY_CLASSES_ROOT", u".txt"}, &txt));
  std::vector<Value> v = values(txt);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].name, u"");
  EXPECT_EQ(v[0].data, utf16(u"txtfile"));
  TreeEntry env;
  ASSERT_TRUE(find({u"HKEY_USERS", MemoryRegistry::kDefaultUserSid, u"Environment"}, &env));
  EXPECT_EQ(values(env).size(), 1u);
  // Keys: HKLM: Software, Classes, .txt, System, CurrentControlSet, Hardware Profiles, Current,
  // Software (8); HKCR: .txt (1); HKCC: Software (1); HKCU: Environment (1);
  // HKU: the user, Environment (2).
  EXPECT_EQ(store.keys(), 13u);
  EXPECT_EQ(store.values(), 4u);  // .txt under HKLM and HKCR, Environment under HKCU and HKU
}

TEST_F(RegistryScanTest, FilteredScanRecordsEveryValueExactly) {
  const std::u16string k = u"Software\\Keldrun\\Values";
  struct V {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
    bool wide;
  };
  std::vector<V> input;
  for (uint32_t t = 0; t <= 11; t++) {
    std::vector<uint8_t> d = (t == 1 || t == 2 || t == 7) ? utf16(u"text") : std::vector<uint8_t>{uint8_t(t), 1, 2, 3};
    input.push_back({u"type" + std::u16string(1, char16_t('a' + t)), t, d, false});
  }
  input.push_back({u"type0x20", 0x20, {9, 9}, false});
  input.push_back({u"empty", 3, {}, false});
  input.push_back({u"b65500", 3, std::vector<uint8_t>(65500, 0x5A), false});
  input.push_back({u"b65501", 3, std::vector<uint8_t>(65501, 0xA5), false});
  input.push_back({u"wide sz", 1, utf16(u"x\u4e00y"), true});
  input.push_back({u"odd sz", 1, {'o', 0, 'd'}, true});
  input.push_back({u"\u4e00 name", 4, {1, 0, 0, 0}, false});
  input.push_back({u"quote\" and \\ back", 1, utf16(u"q"), false});
  input.push_back({u"", 1, utf16(u"default"), false});
  for (const V& v : input) ASSERT_TRUE(registry_->setValue(kHiveLocalMachine, k, v.name, v.type, v.data));
  registry_->setValue(kHiveLocalMachine, u"Software\\Keldrun", u"on the way", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveLocalMachine, u"Software\\Other", u"not scanned", 4, {1, 0, 0, 0});

  scan({u"HKEY_LOCAL_MACHINE\\Software\\Keldrun\\Values\\"});
  std::vector<Key> r = roots();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].name, u"HKEY_LOCAL_MACHINE");
  EXPECT_EQ(r[0].entry.contentTable, 0u);
  std::vector<Key> level = table(r[0].entry.childTable);
  ASSERT_EQ(level.size(), 1u);
  EXPECT_EQ(level[0].name, u"Software");  // path components are stored as the registry holds them
  TreeEntry way, key;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software", u"keldrun"}, &way));
  EXPECT_EQ(way.contentTable, 0u);  // keys on the way to a filter item record no values
  EXPECT_EQ(way.contentHash, 0u);
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software", u"keldrun", u"values"}, &key));
  std::vector<Value> got = values(key);
  ASSERT_EQ(got.size(), input.size());
  std::map<std::u16string, Value> byName;
  for (size_t i = 0; i < got.size(); i++) {
    byName[got[i].name] = got[i];
    if (i > 0) {
      EXPECT_LT(compareNames(got[i - 1].name, got[i].name), 0);
    }
  }
  for (const V& v : input) {
    SCOPED_TRACE(toUtf8(v.name));
    ASSERT_EQ(byName.count(v.name), 1u);
    EXPECT_EQ(byName[v.name].type, v.type);
    EXPECT_EQ(byName[v.name].data, v.data);
    EXPECT_EQ(byName[v.name].wide, v.wide);
  }
}

TEST_F(RegistryScanTest, DigestsFollowTheContent) {
  registry_->setValue(kHiveLocalMachine, u"Software\\A\\B", u"v", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveLocalMachine, u"Software\\C", u"w", 1, utf16(u"x"));
  const FilterList filter = {u"hkey_local_machine\\software\\"};
  scan(filter);
  TreeEntry first;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE"}, &first));
  scan(filter);
  TreeEntry again;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE"}, &again));
  EXPECT_EQ(first.childHash, again.childHash);
  registry_->setValue(kHiveLocalMachine, u"Software\\A\\B", u"v", 4, {2, 0, 0, 0});
  scan(filter);
  TreeEntry changed, c;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE"}, &changed));
  EXPECT_NE(first.childHash, changed.childHash);
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software", u"C"}, &c));
  EXPECT_NE(c.contentHash, 0u);
  EXPECT_EQ(c.childTable, 0u);
}

TEST_F(RegistryScanTest, KeysThatCannotBeOpenedAreListedWithZeroDigests) {
  registry_->setValue(kHiveLocalMachine, u"Software\\Good", u"v", 4, {1, 0, 0, 0});
  registry_->createLink(kHiveLocalMachine, u"Software\\Dangling", u"\\Registry\\Machine\\Nowhere");
  RegistryStore store(env_.get());
  scan({u"hkey_local_machine\\software\\"}, &store);
  std::vector<Key> sw;
  TreeEntry software;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software"}, &software));
  sw = table(software.childTable);
  ASSERT_EQ(sw.size(), 2u);
  EXPECT_EQ(sw[0].name, u"Dangling");
  EXPECT_EQ(sw[0].entry.childHash | sw[0].entry.contentHash | sw[0].entry.childTable |
                sw[0].entry.contentTable,
            0u);
  EXPECT_EQ(sw[1].name, u"Good");
}

// Loops: a link to the key itself, to one of its ancestors, or to a key already on the path
// (through another link) is recorded as the link key, with its link value and no subkeys; other
// links are followed.
TEST_F(RegistryScanTest, LinksBackIntoThePathAreRecordedNotFollowed) {
  const std::u16string sw = u"\\Registry\\Machine\\Software";
  registry_->setValue(kHiveLocalMachine, u"Software\\Target", u"t", 4, {7, 0, 0, 0});
  registry_->createLink(kHiveLocalMachine, u"Software\\Loops\\Self", sw + u"\\Loops\\Self");
  registry_->createLink(kHiveLocalMachine, u"Software\\Loops\\Up", sw);
  registry_->createLink(kHiveLocalMachine, u"Software\\Loops\\Machine", u"\\Registry\\Machine");
  registry_->createLink(kHiveLocalMachine, u"Software\\Loops\\Top", u"\\REGISTRY");
  registry_->createLink(kHiveLocalMachine, u"Software\\A\\ToB", sw + u"\\B");
  registry_->createLink(kHiveLocalMachine, u"Software\\B\\ToA", sw + u"\\A");
  registry_->createLink(kHiveLocalMachine, u"Software\\Fine", sw + u"\\Target");
  registry_->createLink(kHiveCurrentUser, u"Software\\Users", u"\\Registry\\User");
  RegistryStore store(env_.get());
  scan({u"*"}, &store);
  EXPECT_LT(store.keys(), 60u) << "a loop was followed";

  auto expectLink = [&](const std::vector<std::u16string>& path, const std::u16string& target) {
    SCOPED_TRACE(toUtf8(path.back()));
    TreeEntry e;
    ASSERT_TRUE(find(path, &e));
    EXPECT_EQ(e.childTable, 0u);
    std::vector<Value> v = values(e);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].name, u"SymbolicLinkValue");
    EXPECT_EQ(v[0].type, 6u);
    EXPECT_EQ(v[0].data, utf16(target, false));
  };
  const std::u16string hklm = u"HKEY_LOCAL_MACHINE";
  expectLink({hklm, u"Software", u"Loops", u"Self"}, sw + u"\\Loops\\Self");
  expectLink({hklm, u"Software", u"Loops", u"Up"}, sw);
  expectLink({hklm, u"Software", u"Loops", u"Machine"}, u"\\Registry\\Machine");
  expectLink({hklm, u"Software", u"Loops", u"Top"}, u"\\REGISTRY");
  // A -> B is followed once; B's link back to A is then on the path.
  expectLink({hklm, u"Software", u"A", u"ToB", u"ToA"}, sw + u"\\A");
  expectLink({hklm, u"Software", u"B", u"ToA", u"ToB"}, sw + u"\\B");
  expectLink({u"HKEY_CURRENT_USER", u"Software", u"Users"}, u"\\Registry\\User");
  TreeEntry fine;
  ASSERT_TRUE(find({hklm, u"Software", u"Fine"}, &fine));
  std::vector<Value> v = values(fine);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].name, u"t");
}

TEST_F(RegistryScanTest, FilterListsAreGroupedByHive) {
  registry_->setValue(kHiveLocalMachine, u"Software\\A", u"a", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveLocalMachine, u"Software\\B", u"b", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveLocalMachine, u"Software\\B\\Inner", u"i", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveCurrentUser, u"Console", u"c", 4, {1, 0, 0, 0});
  // Unsorted, mixed case, a repeat, an item inside another and an unknown hive.
  scan({u"HKEY_LOCAL_MACHINE\\SOFTWARE\\B\\", u"hkey_current_user\\console\\",
        u"hkey_local_machine\\software\\a\\", u"hkey_local_machine\\software\\b\\inner\\",
        u"hkey_local_machine\\software\\a\\", u"hkey_nowhere\\x\\"});
  std::vector<Key> r = roots();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].name, u"HKEY_CURRENT_USER");
  EXPECT_EQ(r[1].name, u"HKEY_LOCAL_MACHINE");
  TreeEntry software;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software"}, &software));
  std::vector<Key> sw = table(software.childTable);
  ASSERT_EQ(sw.size(), 2u);
  EXPECT_EQ(sw[0].name, u"A");
  EXPECT_EQ(sw[1].name, u"B");
  TreeEntry inner;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software", u"b", u"Inner"}, &inner));
  EXPECT_EQ(values(inner).size(), 1u);
  TreeEntry console;
  ASSERT_TRUE(find({u"HKEY_CURRENT_USER", u"console"}, &console));
  EXPECT_EQ(values(console).size(), 1u);

  EXPECT_EQ(normalizeRegistryFilter({u"*", u"hklm\\x\\"}), FilterList{u"*"});
  EXPECT_EQ(normalizeRegistryFilter({u"HKEY_USERS\\.DEFAULT", u"hkey_users\\.default\\x"}),
            FilterList{u"hkey_users\\.default\\"});
}

// Filter items are lower case; the keys on the way and the key selected keep the registry's
// case, so that a .reg written from them recreates the keys as they were.
TEST_F(RegistryScanTest, SelectedKeysAndTheKeysOnTheWayKeepTheirOwnCase) {
  registry_->setValue(kHiveCurrentUser, u"Software\\MyVendor", u"Level", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveCurrentUser, u"Software\\MyVendor\\SubKey", u"x", 1, {'x', 0, 0, 0});
  registry_->createKey(kHiveCurrentUser, u"Software\\Other");
  registry_->setValue(kHiveCurrentUser, u"\u00C9diteur", u"v", 4, {2, 0, 0, 0});
  scan({u"hkey_current_user\\software\\myvendor\\", u"hkey_current_user\\\u00E9diteur\\",
        u"hkey_current_user\\software\\absent\\"});
  std::vector<Key> r = roots();
  ASSERT_EQ(r.size(), 1u);
  std::vector<std::u16string> names;
  for (const Key& k : table(r[0].entry.childTable)) names.push_back(k.name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Software", u"\u00C9diteur"}));
  TreeEntry software;
  ASSERT_TRUE(find({u"HKEY_CURRENT_USER", u"software"}, &software));
  names.clear();
  for (const Key& k : table(software.childTable)) names.push_back(k.name);
  // A key the registry does not hold keeps the item's name.
  EXPECT_EQ(names, (std::vector<std::u16string>{u"absent", u"MyVendor"}));
  TreeEntry vendor;
  ASSERT_TRUE(find({u"HKEY_CURRENT_USER", u"software", u"myvendor"}, &vendor));
  EXPECT_EQ(values(vendor).size(), 1u);
  ASSERT_EQ(table(vendor.childTable).size(), 1u);
  EXPECT_EQ(table(vendor.childTable)[0].name, u"SubKey");
}

// A snapshot taken while selected keys were recorded by their filter item's lower case meets a
// newer one of the same keys as changed names, not as a deleted and an added tree.
TEST_F(RegistryScanTest, AnOlderLowerCaseSnapshotComparesAsRenamedKeys) {
  registry_->setValue(kHiveCurrentUser, u"Software\\MyVendor", u"Level", 4, {1, 0, 0, 0});
  registry_->setValue(kHiveCurrentUser, u"Software\\MyVendor\\SubKey", u"x", 4, {2, 0, 0, 0});
  const FilterList filter = {u"hkey_current_user\\software\\myvendor\\"};
  scan(filter);
  reader_.close();
  std::string older = folder_ / "older.snp";
  {
    using testing_support::KeySpec;
    KeySpec sub{u"SubKey", {}, {{u"x", 4, {2, 0, 0, 0}}}};
    KeySpec vendor{u"myvendor", {sub}, {{u"Level", 4, {1, 0, 0, 0}}}};
    KeySpec root{u"HKEY_CURRENT_USER", {KeySpec{u"software", {vendor}, {}}}, {}};
    SnapshotFile file;
    ASSERT_TRUE(file.create(older));
    testing_support::Written w = testing_support::writeKeyTree(&file, root);
    file.addRoot(kSectionRegistry, root.name, w.childHash, 0, w.childTable, 0);
    SnapshotInfo info;
    FilterList lists[kSectionCount] = {filter, {}, {}};
    info.fillNew("older", 1, lists);
    ASSERT_TRUE(file.finish(&info));
    ASSERT_TRUE(file.close());
  }
  SnapshotFile a, b;
  SnapshotInfo ia, ib;
  ASSERT_TRUE(a.open(older, &ia));
  ASSERT_TRUE(b.open(path_, &ib));
  SectionFilter f = buildFilter(ia.filterList[kSectionRegistry], ib.filterList[kSectionRegistry]);
  struct States : TreeVisitor {
    bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
               const TreeEntry* b, int filter) override {
      got.push_back(toUtf8(path) + ":" + std::to_string(nodeState(a, b, filter, kModeCompare, true).state));
      return true;
    }
    std::vector<std::string> got;
  } states;
  TreeWalker w(&a, &b, &f);
  w.walkTree(ia.sectionOffset[kSectionRegistry], ib.sectionOffset[kSectionRegistry], u"", &states);
  EXPECT_EQ(states.got, (std::vector<std::string>{
                            "HKEY_CURRENT_USER:4", "HKEY_CURRENT_USER\\Software:4",
                            "HKEY_CURRENT_USER\\Software\\MyVendor:1",
                            "HKEY_CURRENT_USER\\Software\\MyVendor\\SubKey:0"}));
}

TEST_F(RegistryScanTest, MissingFilterKeysAndHivesRecordEmptyEntries) {
  scan({u"hkey_local_machine\\software\\missing\\", u"hkey_classes_root\\"});
  std::vector<Key> r = roots();
  ASSERT_EQ(r.size(), 2u);
  // HKEY_CLASSES_ROOT does not exist in an empty registry: the root is still listed, empty.
  EXPECT_EQ(r[0].name, u"HKEY_CLASSES_ROOT");
  EXPECT_EQ(r[0].entry.childTable | r[0].entry.contentTable, 0u);
  TreeEntry missing;
  ASSERT_TRUE(find({u"HKEY_LOCAL_MACHINE", u"software", u"missing"}, &missing));
  EXPECT_EQ(missing.childTable | missing.contentTable | missing.childHash | missing.contentHash, 0u);
}

TEST_F(RegistryScanTest, ThreadedScanCountsInAndOutAndStops) {
  for (int i = 0; i < 3000; i++) {
    std::u16string name = u"Software\\Many\\K" + std::u16string(1, char16_t('a' + i % 26)) +
                          u"\\" + std::u16string(1, char16_t('a' + (i / 26) % 26)) + u"\\" +
                          std::u16string(1, char16_t('0' + i % 10));
    registry_->setValue(kHiveLocalMachine, name, u"v", 4, {uint8_t(i), 0, 0, 0});
  }
  SnapshotFile writer;
  ASSERT_TRUE(writer.create(path_));
  RegistryStore store(env_.get());
  ASSERT_TRUE(store.startRegistryScan(&writer, {u"*"}));
  for (int i = 0; i < 3000 && writer.runningScans() != 0; i++) sleepMilliseconds(10);
  ASSERT_EQ(writer.runningScans(), 0);
  EXPECT_GT(store.keys(), 3000u);
  uint32_t keys = store.keys();

  // A second run on the same store starts from zero and can be stopped.
  ASSERT_TRUE(store.startRegistryScan(&writer, {u"*"}));
  store.stopRegistryScan();
  EXPECT_FALSE(store.isRunning());
  EXPECT_EQ(writer.runningScans(), 0);
  EXPECT_LE(store.keys(), keys);
  writer.close();
}

TEST(RegistryPathTest, OpenKeyPathAndHiveNames) {
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  reg->setValue(kHiveLocalMachine, u"Software\\X", u"v", 4, {1, 0, 0, 0});
  MemoryRegistryEnv env(reg);
  EXPECT_TRUE(openKeyPath(&env, u"hkey_local_machine\\software\\x\\"));
  EXPECT_TRUE(openKeyPath(&env, u"HKEY_LOCAL_MACHINE\\Software\\X"));
  EXPECT_TRUE(openKeyPath(&env, u"HKEY_LOCAL_MACHINE"));
  EXPECT_FALSE(openKeyPath(&env, u"HKEY_LOCAL_MACHINE\\Software\\Y\\"));
  EXPECT_FALSE(openKeyPath(&env, u"HKLM\\Software\\X\\"));  // the table has only long names
  EXPECT_EQ(hiveIndex(u"hkey_users"), kHiveUsers);
  EXPECT_EQ(hiveIndex(u"HKEY_CURRENT_CONFIG"), kHiveCurrentConfig);
  EXPECT_EQ(hiveIndex(u"HKEY_CURRENT_CONFIGX"), -1);
}

}  // namespace
}  // namespace keldrun
