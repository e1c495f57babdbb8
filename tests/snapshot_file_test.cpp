#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "engine/snapshot.h"
#include "engine/snapshot_format.h"
#include "tests/fault_file_system.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

namespace fs = std::filesystem;
using testing_support::FaultFileSystem;
using testing_support::readBytes;
using testing_support::readTreeEntries;
using testing_support::writeBytes;

uint32_t crcOf(const uint8_t* p, size_t n) {
  return uint32_t(crc32(crc32(0L, Z_NULL, 0), p, uInt(n)));
}

class SnapshotFileTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }

  // Writes a finished snapshot holding one table for each of contents; their offsets, in order.
  std::vector<uint32_t> writeTables(const std::string& name, const std::vector<std::string>& contents) {
    SnapshotFile writer;
    std::vector<uint32_t> tables;
    EXPECT_TRUE(writer.create(path(name)));
    for (const std::string& c : contents)
      tables.push_back(writer.appendTable(reinterpret_cast<const uint8_t*>(c.data()), c.size()));
    SnapshotInfo info;
    FilterList lists[kSectionCount] = {{u"*"}, {u"*"}, {u"*"}};
    info.fillNew(name, 1, lists);
    EXPECT_TRUE(writer.finish(&info));
    EXPECT_TRUE(writer.close());
    return tables;
  }

  testing_support::TempFolder dir_;
};

// ---------------------------------------------------------------------------------------------
// A generated tree, written the way a scan writes it (post-order, children before parents), and
// a walker that checks a written tree against it.

struct Node {
  std::u16string name;
  std::vector<uint8_t> content;  // raw content table entries; empty = no content table
  std::vector<Node> children;
};

std::u16string randomName(std::mt19937* rng) {
  static const char16_t kChars[] = u"abcXYZ_.09 \u00e9\u00ff\u0101\u4e2d\U0001F600";
  size_t n = 1 + (*rng)() % 12;
  std::u16string s;
  bool wide = (*rng)() % 4 == 0;
  for (size_t i = 0; i < n; i++) {
    size_t pick = (*rng)() % (wide ? 17 : 13);
    s.push_back(kChars[pick]);
  }
  return s;
}

Node randomTree(std::mt19937* rng, int depth) {
  Node node;
  node.name = randomName(rng);
  size_t contentSize = (*rng)() % 3 == 0 ? 0 : (*rng)() % 200;
  for (size_t i = 0; i < contentSize; i++) node.content.push_back(uint8_t((*rng)()));
  if (depth > 0) {
    size_t kids = (*rng)() % 5;
    std::set<std::u16string> seen;
    for (size_t i = 0; i < kids; i++) {
      Node child = randomTree(rng, depth - 1);
      if (!seen.insert(lowerAscii(child.name)).second) continue;
      node.children.push_back(std::move(child));
    }
  }
  return node;
}

struct Written {
  uint32_t childHash = 0, contentHash = 0, childTable = 0, contentTable = 0;
};

Written writeTree(SnapshotFile* file, const Node& node) {
  TableBuilder table;
  for (const Node& child : node.children) {
    Written w = writeTree(file, child);
    size_t i = table.addTreeEntry(child.name);
    table.setTreeFields(i, w.childHash, w.contentHash, w.childTable, w.contentTable);
  }
  Written out;
  out.childTable = file->writeTable(&table, true, &out.childHash);
  out.contentTable = file->appendTable(node.content.data(), node.content.size());
  out.contentHash = node.content.empty() ? 0 : crcOf(node.content.data(), node.content.size());
  return out;
}

// Walks the entry read from the file against the model, recomputing both digests from the
// bytes read back. Counts the entries seen.
void checkTree(SnapshotFile* file, const TreeEntry& entry, const Node& node, size_t* count) {
  ++*count;
  EXPECT_EQ(entry.name.str(), node.name);
  std::vector<uint8_t> block;
  size_t n = 0;
  if (node.content.empty()) {
    EXPECT_EQ(entry.contentTable, 0u);
    EXPECT_EQ(entry.contentHash, 0u);
  } else {
    ASSERT_TRUE(file->readBlock(entry.contentTable, &block, 3, &n));
    ASSERT_EQ(n, node.content.size());
    EXPECT_TRUE(std::equal(node.content.begin(), node.content.end(), block.begin()));
    EXPECT_EQ(block[n], 0);
    EXPECT_EQ(block[n + 2], 0);
    EXPECT_EQ(entry.contentHash, crcOf(block.data(), n));
  }
  std::vector<const Node*> sorted;
  for (const Node& c : node.children) sorted.push_back(&c);
  std::stable_sort(sorted.begin(), sorted.end(), [](const Node* a, const Node* b) {
    return compareNames(a->name, b->name) < 0;
  });
  if (sorted.empty()) {
    EXPECT_EQ(entry.childTable, 0u);
    EXPECT_EQ(entry.childHash, 0u);
    return;
  }
  ASSERT_TRUE(file->readBlock(entry.childTable, &block, 0, &n));
  Slice s(block.data(), n);
  uLong crc = crc32(0L, Z_NULL, 0);
  std::vector<TreeEntry> kids;
  while (!s.empty()) {
    const uint8_t* at = s.data();
    TreeEntry e;
    ASSERT_TRUE(TreeEntry::parse(&s, &e));
    // The 8 digest bytes, then the name with its length word (offset 16 to the entry's end).
    crc = crc32(crc, at, kTreeDigestSize);
    crc = crc32(crc, at + 16, uInt(e.size - 16));
    kids.push_back(e);
  }
  EXPECT_EQ(entry.childHash, uint32_t(crc));
  ASSERT_EQ(kids.size(), sorted.size());
  for (size_t i = 1; i < kids.size(); i++) EXPECT_LE(compareStored(kids[i - 1].name, kids[i].name), 0);
  // The block buffer is reused by the recursion: copy what the children need first.
  std::vector<std::vector<uint8_t>> names;
  names.reserve(kids.size());
  for (TreeEntry& k : kids) {
    names.emplace_back(k.name.bytes, k.name.bytes + k.name.byteSize());
    k.name.bytes = names.back().data();
  }
  for (size_t i = 0; i < kids.size(); i++) checkTree(file, kids[i], *sorted[i], count);
}

// Walks every table reachable from the sections without trusting anything: depth limit and a
// visited set end hostile cycles. Returns the number of entries visited.
size_t walkHostile(SnapshotFile* file, uint32_t offset, int depth, std::set<uint32_t>* visited) {
  if (offset == 0 || depth > 64 || !visited->insert(offset).second) return 0;
  std::vector<uint8_t> block;
  size_t n = 0;
  if (!file->readBlock(offset, &block, 16, &n)) return 0;
  Slice s(block.data(), n);
  std::vector<TreeEntry> entries;
  TreeEntry e;
  while (TreeEntry::parse(&s, &e)) entries.push_back(e);
  size_t count = entries.size();
  for (const TreeEntry& k : entries) {
    std::vector<uint8_t> content;
    size_t cn = 0;
    if (k.contentTable && file->readBlock(k.contentTable, &content, 16, &cn)) crcOf(content.data(), cn);
    count += walkHostile(file, k.childTable, depth + 1, visited);
  }
  return count;
}

size_t walkAllSections(SnapshotFile* file, const SnapshotInfo& info) {
  std::set<uint32_t> visited;
  size_t count = 0;
  for (int i = 0; i < kSectionCount; i++) count += walkHostile(file, info.sectionOffset[i], 0, &visited);
  return count;
}

// ---------------------------------------------------------------------------------------------

TEST_F(SnapshotFileTest, ConcurrentWritersRoundTrip) {
  constexpr int kThreads = 6;
  std::vector<Node> trees(kThreads);
  for (int t = 0; t < kThreads; t++) {
    std::mt19937 rng(1000 + t);
    trees[t] = randomTree(&rng, 5);
    trees[t].name = t == 0 ? u"HKEY_LOCAL_MACHINE" : std::u16string(1, char16_t(u'z' - t)) + u":";
  }
  size_t expectedEntries = 0;
  std::function<void(const Node&)> countNodes = [&](const Node& n) {
    expectedEntries++;
    for (const Node& c : n.children) countNodes(c);
  };
  for (const Node& t : trees) countNodes(t);

  SnapshotFile file;
  ASSERT_TRUE(file.create(path("snap001.snp")));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    file.addRunningScan();
    threads.emplace_back([&, t] {
      Written w = writeTree(&file, trees[t]);
      file.addRoot(t == 0 ? kSectionRegistry : kSectionFiles, trees[t].name, w.childHash,
                   w.contentHash, w.childTable, w.contentTable);
      file.endRunningScan();
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(file.runningScans(), 0);
  file.addRoot(kSectionApps, u"Startup", 1, 2, 0, 0);
  file.addRoot(kSectionApps, u"Services", 3, 4, 0, 0);
  file.addRoot(kSectionApps, u"Drivers", 5, 6, 0, 0);

  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {u"*"}, {u"*"}};
  info.fillNew("round trip", 1, lists);
  ASSERT_TRUE(file.finish(&info));
  ASSERT_TRUE(file.close());
  EXPECT_EQ(info.size, fs::file_size(path("snap001.snp")));

  for (bool view : {true, false}) {
  SCOPED_TRACE(view ? "through a view" : "read by read");
  SnapshotFile file;
  file.useViewForTest(view);
  SnapshotInfo back;
  ASSERT_TRUE(file.open(path("snap001.snp"), &back));
  EXPECT_EQ(file.mapped(), view);
  EXPECT_EQ(back.tag, "s1.5");
  EXPECT_EQ(back.formatVersion(), 0x105);
  EXPECT_EQ(back.name, "round trip");
  EXPECT_EQ(back.number, 1);
  EXPECT_EQ(back.date, info.date);
  EXPECT_EQ(back.computer, info.computer);
  EXPECT_EQ(back.size, info.size);
  EXPECT_EQ(back.infoOffset + kInfoSize, back.size);
  for (int i = 0; i < kSectionCount; i++) {
    EXPECT_EQ(back.sectionOffset[i], info.sectionOffset[i]);
    EXPECT_EQ(back.sectionState[i], SectionState::Full);
    EXPECT_EQ(back.filterList[i], FilterList{u"*"});
  }

  std::vector<uint8_t> rootBlock;
  std::vector<TreeEntry> registry = readTreeEntries(&file, back.sectionOffset[0], &rootBlock);
  ASSERT_EQ(registry.size(), 1u);
  size_t seen = 0;
  checkTree(&file, registry[0], trees[0], &seen);

  std::vector<uint8_t> filesBlock;
  std::vector<TreeEntry> drives = readTreeEntries(&file, back.sectionOffset[1], &filesBlock);
  ASSERT_EQ(drives.size(), size_t(kThreads - 1));
  for (size_t i = 0; i < drives.size(); i++) {
    // Drive roots come back in name order: "u:" .. "y:".
    const Node& model = trees[kThreads - 1 - i];
    checkTree(&file, drives[i], model, &seen);
  }
  EXPECT_EQ(seen, expectedEntries);

  std::vector<uint8_t> appsBlock;
  std::vector<TreeEntry> apps = readTreeEntries(&file, back.sectionOffset[2], &appsBlock);
  ASSERT_EQ(apps.size(), 3u);
  EXPECT_EQ(apps[0].name.str(), u"Startup");  // the applications roots keep their order
  EXPECT_EQ(apps[1].name.str(), u"Services");
  EXPECT_EQ(apps[2].name.str(), u"Drivers");
  EXPECT_EQ(apps[2].childHash, 5u);
  EXPECT_EQ(apps[2].contentHash, 6u);
  }
}

TEST_F(SnapshotFileTest, InfoRecordAndHeaderLayout) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("a.snp")));
  uint32_t content = file.appendTable(reinterpret_cast<const uint8_t*>("abcd"), 4);
  EXPECT_EQ(content, kHeaderSize);
  file.addRoot(kSectionFiles, u"c:", 7, 8, 0, content);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {u"c:\\data\\", u"c:\\x\u0101\\"}, {}};
  info.fillNew("layout", -7, lists);
  info.computer = "HOST";
  info.date = "2024-01-02 03:04";
  ASSERT_TRUE(file.finish(&info));
  ASSERT_TRUE(file.close());

  std::vector<uint8_t> f = readBytes(path("a.snp"));
  ASSERT_EQ(f.size(), info.size);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "s1.5");
  EXPECT_EQ(getU32(&f[4]), 0u);
  EXPECT_EQ(getU32(&f[8]), info.sectionOffset[1]);
  EXPECT_EQ(getU32(&f[12]), 0u);
  EXPECT_EQ(getU32(&f[16]), info.infoOffset);
  // The one content block: length word then the bytes.
  EXPECT_EQ(getU32(&f[20]), 4u);
  EXPECT_EQ(std::string(f.begin() + 24, f.begin() + 28), "abcd");
  // Root table: one entry "c:" stored narrow.
  const uint8_t* root = &f[info.sectionOffset[1]];
  EXPECT_EQ(getU32(root), 18u + 2);
  EXPECT_EQ(getU32(root + 4), 7u);
  EXPECT_EQ(getU32(root + 8), 8u);
  EXPECT_EQ(getU32(root + 16), content);
  EXPECT_EQ(getU16(root + 20), 2u);
  // Filter lists right after the root table: narrow item, then a wide one with bit 31.
  uint32_t list1 = info.sectionOffset[1] + 4 + 20;
  EXPECT_EQ(info.listOffset[1], list1);
  EXPECT_EQ(getU32(&f[list1]), 8u);
  EXPECT_EQ(std::string(f.begin() + list1 + 4, f.begin() + list1 + 12), "c:\\data\\");
  EXPECT_EQ(getU32(&f[list1 + 12]), 0x80000006u);
  EXPECT_EQ(getU16(&f[list1 + 16 + 8]), 0x0101);
  EXPECT_EQ(info.listsSize, 12u + 4 + 12);
  EXPECT_EQ(info.infoOffset, list1 + info.listsSize);
  const uint8_t* r = &f[info.infoOffset];
  // "0", its terminating zero, then the marker that the digests cover child names.
  EXPECT_EQ(r[0], '0');
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 2)), "names");
  for (size_t i = 2 + 5; i < 32; i++) EXPECT_EQ(r[i], 0) << i;
  EXPECT_EQ(int32_t(getU32(r + 32)), -7);
  EXPECT_STREQ(reinterpret_cast<const char*>(r + 36), "layout");
  EXPECT_STREQ(reinterpret_cast<const char*>(r + 236), "HOST");
  EXPECT_STREQ(reinterpret_cast<const char*>(r + 336), "2024-01-02 03:04");
  EXPECT_EQ(getU32(r + 356), info.size);
  EXPECT_EQ(getU32(r + 360), info.listsSize);
  EXPECT_EQ(getU32(r + 364), 0u);
  EXPECT_EQ(getU32(r + 368), 2u);
  EXPECT_EQ(getU32(r + 372), 0u);
  EXPECT_EQ(getU32(r + 380), list1);
}

struct SectionCase {
  const char* label;
  FilterList lists[kSectionCount];
  bool roots[kSectionCount];
  SectionState states[kSectionCount];
};

TEST_F(SnapshotFileTest, SectionsAndFilterListsRoundTrip) {
  const std::u16string wideItem = u"c:\\\u0434\u0430\u043d\u043d\u044b\u0435\\\U0001F600\\";
  const SectionCase cases[] = {
      {"files only, full", {{}, {u"*"}, {}}, {false, true, false},
       {SectionState::NotScanned, SectionState::Full, SectionState::NotScanned}},
      {"files only, partial", {{}, {u"c:\\windows\\", wideItem}, {}}, {false, true, false},
       {SectionState::NotScanned, SectionState::Partial, SectionState::NotScanned}},
      {"registry partial, apps", {{u"hkey_local_machine\\software\\"}, {}, {u"*"}},
       {true, false, true}, {SectionState::Partial, SectionState::NotScanned, SectionState::Full}},
      {"nothing scanned", {{}, {}, {}}, {false, false, false},
       {SectionState::NotScanned, SectionState::NotScanned, SectionState::NotScanned}},
      {"empty first item is partial", {{u""}, {}, {}}, {false, false, false},
       {SectionState::Partial, SectionState::NotScanned, SectionState::NotScanned}},
  };
  for (const SectionCase& c : cases) {
    SCOPED_TRACE(c.label);
    SnapshotFile file;
    ASSERT_TRUE(file.create(path("s.snp")));
    for (int i = 0; i < kSectionCount; i++)
      if (c.roots[i]) file.addRoot(i, u"root", 0, 0, 0, 0);
    SnapshotInfo info;
    info.fillNew("sections", 3, c.lists);
    ASSERT_TRUE(file.finish(&info));
    file.close();
    SnapshotInfo back;
    ASSERT_TRUE(file.open(path("s.snp"), &back));
    for (int i = 0; i < kSectionCount; i++) {
      EXPECT_EQ(back.sectionOffset[i] != 0, c.roots[i]) << i;
      EXPECT_EQ(back.sectionState[i], c.states[i]) << i;
      EXPECT_EQ(info.sectionState[i], c.states[i]) << i;
      EXPECT_EQ(back.filterList[i], c.lists[i]) << i;
      EXPECT_EQ(back.listCount[i], c.lists[i].size()) << i;
    }
  }
}

// Opening reads the end of a larger file at once. Lists that begin before that read and run
// into it come back whole, item by item, as do those inside it, by open and by readInfo.
TEST_F(SnapshotFileTest, LongFilterListsRoundTripAcrossTheEndReadAtOpening) {
  FilterList lists[kSectionCount];
  for (int k = 0; k < 1500; k++) {
    std::u16string item = u"hkey_local_machine\\software\\vendor ";
    for (char c : std::to_string(k)) item.push_back(char16_t(c));
    lists[kSectionRegistry].push_back(item + (k % 3 ? u"\\" : u"\\\u0434\u0430\\"));
  }
  lists[kSectionFiles] = {u"c:\\\U0001F600\\", u"d:\\"};
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("long.snp")));
  file.addRoot(kSectionRegistry, u"root", 0, 0, 0, 0);
  file.addRoot(kSectionFiles, u"root", 0, 0, 0, 0);
  SnapshotInfo info;
  info.fillNew("long lists", 5, lists);
  ASSERT_TRUE(file.finish(&info));
  file.close();
  ASSERT_GT(fs::file_size(path("long.snp")), 3u * 16384);
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "open" : "readInfo");
    SnapshotInfo back;
    ASSERT_TRUE(whole ? file.open(path("long.snp"), &back) : file.readInfo(path("long.snp"), &back));
    for (int i = 0; i < kSectionCount; i++) EXPECT_EQ(back.filterList[i], lists[i]) << i;
    EXPECT_EQ(back.name, "long lists");
    file.close();
  }
}

// Older files know no filter lists: every section with a root is read as fully scanned, and
// whatever the list fields hold is ignored. An unknown tag also drops the applications offset.
TEST_F(SnapshotFileTest, OlderTagsDeriveListsFromOffsets) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("new.snp")));
  file.addRoot(kSectionRegistry, u"HKEY_USERS", 0, 0, 0, 0);
  file.addRoot(kSectionApps, u"Startup", 0, 0, 0, 0);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"hkey_users\\x\\"}, {}, {u"c"}};
  info.fillNew("old", 9, lists);
  ASSERT_TRUE(file.finish(&info));
  file.close();
  std::vector<uint8_t> bytes = readBytes(path("new.snp"));
  // Nonsense list fields that a reader of the older formats must not touch.
  uint8_t* r = &bytes[info.infoOffset];
  for (int i = 0; i < 3; i++) {
    putU32(r + kInfoListCounts + 4 * i, 0x7FFFFFFF);
    putU32(r + kInfoListOffsets + 4 * i, 0xFFFFFFF0);
  }

  struct {
    const char* tag;
    int version;
    bool apps;
  } tags[] = {{"s1.4", 0x104, true}, {"KTQ*", 0x102, true}, {"zz99", 0, false}};
  for (const auto& t : tags) {
    SCOPED_TRACE(t.tag);
    std::copy(t.tag, t.tag + 4, bytes.begin());
    writeBytes(path("old.snp"), bytes);
    SnapshotInfo back;
    ASSERT_TRUE(file.open(path("old.snp"), &back));
    EXPECT_EQ(back.tag, t.tag);
    EXPECT_EQ(back.formatVersion(), t.version);
    EXPECT_EQ(back.name, "old");
    EXPECT_EQ(back.filterList[0], FilterList{u"*"});
    EXPECT_EQ(back.sectionState[0], SectionState::Full);
    EXPECT_TRUE(back.filterList[1].empty());
    EXPECT_EQ(back.sectionState[1], SectionState::NotScanned);
    EXPECT_EQ(back.sectionOffset[2] != 0, t.apps);
    EXPECT_EQ(back.sectionState[2], t.apps ? SectionState::Full : SectionState::NotScanned);
    file.close();
  }
}

TEST_F(SnapshotFileTest, RewriteInfoInPlaceCutsLongName) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("r.snp")));
  file.addRoot(kSectionFiles, u"c:", 1, 2, 0, 0);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  info.fillNew("short", 4, lists);
  ASSERT_TRUE(file.finish(&info));
  file.close();
  uint64_t size = fs::file_size(path("r.snp"));

  SnapshotInfo open;
  ASSERT_TRUE(file.open(path("r.snp"), &open));
  open.name = std::string(300, 'n');
  open.computer = std::string(150, 'c');
  open.number = 12;
  EXPECT_EQ(file.rewriteInfo(&open, open.infoOffset), open.infoOffset);
  EXPECT_EQ(open.size, size);
  // The same open file reads its blocks and the new record.
  std::vector<uint8_t> block;
  size_t n = 0;
  EXPECT_TRUE(file.readBlock(open.sectionOffset[1], &block, 0, &n));
  file.close();
  EXPECT_EQ(fs::file_size(path("r.snp")), size);

  SnapshotInfo back;
  ASSERT_TRUE(file.open(path("r.snp"), &back));
  EXPECT_EQ(back.name, std::string(199, 'n'));
  EXPECT_EQ(back.computer, std::string(99, 'c'));
  EXPECT_EQ(back.number, 12);
  EXPECT_EQ(back.date, info.date);
  EXPECT_EQ(back.filterList[1], FilterList{u"*"});
  EXPECT_EQ(back.sectionOffset[1], info.sectionOffset[1]);

  // Offset 0 appends a copy at the end; offsets inside the header or past the end write nothing.
  EXPECT_EQ(file.rewriteInfo(&back, 0), size);
  EXPECT_EQ(back.size, size + kInfoSize);
  EXPECT_EQ(fs::file_size(path("r.snp")), size + kInfoSize);
  EXPECT_EQ(file.rewriteInfo(&back, 3), 0u);
  EXPECT_EQ(file.rewriteInfo(&back, uint32_t(size + kInfoSize + 1)), 0u);
  file.close();
  EXPECT_EQ(fs::file_size(path("r.snp")), size + kInfoSize);
  EXPECT_EQ(file.rewriteInfo(&back, 0), 0u);  // closed
}

// ---------------------------------------------------------------------------------------------
// Snapshot names: UTF-8 in memory; in the file one byte per character when every character fits
// in 8 bits, else UTF-8 with the marker at kInfoUtf8NameMarker.

// A small finished snapshot named `name`; its info in *info.
void writeNamed(const std::string& file, const std::string& name, SnapshotInfo* info) {
  SnapshotFile out;
  ASSERT_TRUE(out.create(file));
  out.addRoot(kSectionFiles, u"c:", 1, 2, 0, 0);
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  info->fillNew(name, 5, lists);
  ASSERT_TRUE(out.finish(info));
  ASSERT_TRUE(out.close());
}

// The name field's bytes up to its zero, and whether the UTF-8 marker is set.
std::string storedName(const std::vector<uint8_t>& f, const SnapshotInfo& info, bool* flagged) {
  const uint8_t* r = &f[info.infoOffset];
  *flagged = std::string(reinterpret_cast<const char*>(r + kInfoUtf8NameMarker)) == kUtf8NameMarker;
  return std::string(reinterpret_cast<const char*>(r + kInfoName));
}

struct NameCase {
  const char* label;
  std::string name;    // UTF-8
  std::string stored;  // the name field
  bool flagged;
};

const NameCase kNameCases[] = {
    {"ascii", "before install", "before install", false},
    {"latin-1", "Apr\xC3\xA8s install", "Apr\xE8s install", false},
    {"cyrillic", "\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA", "\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA", true},
    {"cjk", "\xE5\xBF\xAB\xE7\x85\xA7 1", "\xE5\xBF\xAB\xE7\x85\xA7 1", true},
    {"emoji", "snap \xF0\x9F\x98\x80", "snap \xF0\x9F\x98\x80", true},
    {"latin-1 beside cyrillic", "\xC3\xA9 \xD0\xAF", "\xC3\xA9 \xD0\xAF", true},
};

TEST_F(SnapshotFileTest, NamesInEveryScriptRoundTripThroughTheFileAndARename) {
  const size_t n = sizeof kNameCases / sizeof kNameCases[0];
  for (size_t i = 0; i < n; i++) {
    const NameCase& c = kNameCases[i];
    SCOPED_TRACE(c.label);
    SnapshotInfo info;
    writeNamed(path("n.snp"), c.name, &info);
    std::vector<uint8_t> f = readBytes(path("n.snp"));
    bool flagged = false;
    EXPECT_EQ(storedName(f, info, &flagged), c.stored);
    EXPECT_EQ(flagged, c.flagged);
    // The names marker keeps its place, which older readers look at.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[info.infoOffset + kInfoNamesMarker])), "names");

    SnapshotFile file;
    SnapshotInfo back;
    ASSERT_TRUE(file.open(path("n.snp"), &back));
    EXPECT_EQ(back.name, c.name);

    // Renamed in place to the next case's name: the marker follows the new name.
    const NameCase& next = kNameCases[(i + 1) % n];
    back.name = next.name;
    ASSERT_EQ(file.rewriteInfo(&back, back.infoOffset), back.infoOffset);
    file.close();
    f = readBytes(path("n.snp"));
    EXPECT_EQ(storedName(f, back, &flagged), next.stored);
    EXPECT_EQ(flagged, next.flagged);
    SnapshotInfo renamed;
    ASSERT_TRUE(file.open(path("n.snp"), &renamed));
    EXPECT_EQ(renamed.name, next.name);
    EXPECT_EQ(renamed.date, info.date);
    file.close();
  }
}

TEST_F(SnapshotFileTest, NameAtTheLimitIsCutBeforeACharacterThatDoesNotFitWhole) {
  const std::string ya = "\xD0\xAF", zhong = "\xE4\xB8\xAD", smile = "\xF0\x9F\x98\x80";
  auto times = [](size_t k, const std::string& s) {
    std::string out;
    for (size_t i = 0; i < k; i++) out += s;
    return out;
  };
  struct {
    const char* label;
    std::string name, kept;
  } cases[] = {
      {"8-bit: 199 characters", times(200, "\xC3\xA9"), times(199, "\xC3\xA9")},
      {"2-byte character across the limit", std::string(198, 'a') + ya, std::string(198, 'a')},
      {"3-byte character across the limit", std::string(197, 'a') + zhong + "b", std::string(197, 'a')},
      {"4-byte character across the limit", std::string(196, 'a') + smile, std::string(196, 'a')},
      {"3-byte character ending at the limit", std::string(196, 'a') + zhong + "b", std::string(196, 'a') + zhong},
      {"4-byte character ending at the limit", std::string(195, 'a') + smile + "b", std::string(195, 'a') + smile},
      {"cjk only", times(70, zhong), times(66, zhong)},
      {"emoji only", times(60, smile), times(49, smile)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SnapshotInfo info;
    writeNamed(path("cut.snp"), "short", &info);
    SnapshotFile file;
    SnapshotInfo back;
    ASSERT_TRUE(file.open(path("cut.snp"), &back));
    back.name = c.name;
    ASSERT_NE(file.rewriteInfo(&back, back.infoOffset), 0u);  // the properties dialog's rename
    file.close();
    ASSERT_TRUE(file.open(path("cut.snp"), &back));
    EXPECT_EQ(back.name, c.kept);
    EXPECT_EQ(validUtf8(back.name), back.name);
    file.close();
    // The writer of new snapshots cuts the same way.
    writeNamed(path("cut.snp"), c.name, &info);
    ASSERT_TRUE(file.open(path("cut.snp"), &back));
    EXPECT_EQ(back.name, c.kept);
    file.close();
  }
}

TEST_F(SnapshotFileTest, EightBitNamesOfEarlierFilesReadAsLatin1AndRewriteIdentically) {
  // A name as every earlier writer stored it: one byte per character, some of which happen to
  // look like UTF-8; with and without the names marker.
  const std::string bytes = "Apr\xE8s \xC3\xA9 \xFF";
  const std::string shown = "Apr\xC3\xA8s \xC3\x83\xC2\xA9 \xC3\xBF";
  for (bool namesMarker : {true, false}) {
    SCOPED_TRACE(namesMarker ? "names marker" : "no names marker");
    SnapshotInfo info;
    writeNamed(path("old.snp"), "x", &info);
    std::vector<uint8_t> f = readBytes(path("old.snp"));
    uint8_t* r = &f[info.infoOffset];
    std::copy(bytes.begin(), bytes.end(), r + kInfoName);
    if (!namesMarker) std::fill(r + kInfoNamesMarker, r + kInfoReservedSize, 0);
    ASSERT_TRUE(writeBytes(path("old.snp"), f));

    SnapshotFile file;
    SnapshotInfo back;
    ASSERT_TRUE(file.open(path("old.snp"), &back));
    EXPECT_EQ(back.name, shown);
    // Written back unchanged (as the import and the number change do), every byte stays.
    ASSERT_EQ(file.rewriteInfo(&back, back.infoOffset), back.infoOffset);
    file.close();
    EXPECT_EQ(readBytes(path("old.snp")), f);
  }
}

TEST_F(SnapshotFileTest, FlaggedNameThatIsNotUtf8ReadsAsValidText) {
  std::string strayD0;  // 199 lone lead bytes, each read as U+00D0
  for (int i = 0; i < 199; i++) strayD0 += "\xC3\x90";
  struct {
    const char* label;
    std::string field, name;
    bool prefixed;  // the reserved field starts with "0" and its zero
  } cases[] = {
      {"stray bytes", "\xFF\xFE", "\xC3\xBF\xC3\xBE", true},
      {"character cut at the end", "ok\xD0", "ok\xC3\x90", true},
      {"encoded surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80", true},
      {"overlong slash", "\xC0\xAF", "\xC3\x80\xC2\xAF", true},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80", true},
      {"valid beside stray", "\xD0\xAF\x80", "\xD0\xAF\xC2\x80", true},
      {"200 bytes, no zero", std::string(200, '\xD0'), strayD0, true},
      {"marker outside a \"0\" field", "\xD0\xAF", "\xC3\x90\xC2\xAF", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SnapshotInfo info;
    writeNamed(path("forged.snp"), "x", &info);
    std::vector<uint8_t> f = readBytes(path("forged.snp"));
    uint8_t* r = &f[info.infoOffset];
    std::copy(c.field.begin(), c.field.end(), r + kInfoName);
    if (c.field.size() < kInfoNameSize) r[kInfoName + c.field.size()] = 0;
    std::memcpy(r + kInfoUtf8NameMarker, kUtf8NameMarker, sizeof kUtf8NameMarker);
    if (!c.prefixed) r[kInfoReserved] = '1';
    ASSERT_TRUE(writeBytes(path("forged.snp"), f));
    SnapshotFile file;
    SnapshotInfo back;
    ASSERT_TRUE(file.open(path("forged.snp"), &back));
    EXPECT_EQ(back.name, c.name);
    EXPECT_EQ(validUtf8(back.name), back.name);
    file.close();
  }
}

TEST_F(SnapshotFileTest, EmptyTablesWriteNothing) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("e.snp")));
  TableBuilder empty;
  uint32_t digest = 99;
  EXPECT_EQ(file.writeTable(&empty, true, &digest), 0u);
  EXPECT_EQ(digest, 0u);
  EXPECT_EQ(file.appendTable(nullptr, 0), 0u);
  SnapshotInfo info;
  FilterList lists[kSectionCount];
  info.fillNew("", 1, lists);
  ASSERT_TRUE(file.finish(&info));
  file.close();
  // Header, no tables, no lists, the info record.
  EXPECT_EQ(fs::file_size(path("e.snp")), kHeaderSize + kInfoSize);
  for (int i = 0; i < kSectionCount; i++) EXPECT_EQ(info.sectionOffset[i], 0u);
  EXPECT_EQ(info.infoOffset, kHeaderSize);
  SnapshotInfo back;
  ASSERT_TRUE(file.open(path("e.snp"), &back));
  EXPECT_EQ(back.infoOffset, kHeaderSize);
}

TEST_F(SnapshotFileTest, ReadBlockBoundsAndCurrentPosition) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("b.snp")));
  uint32_t a = file.appendTable(reinterpret_cast<const uint8_t*>("first"), 5);
  uint32_t b = file.appendTable(reinterpret_cast<const uint8_t*>("second!"), 7);
  EXPECT_EQ(b, a + 9);
  SnapshotInfo info;
  FilterList lists[kSectionCount];
  info.fillNew("b", 1, lists);
  ASSERT_TRUE(file.finish(&info));
  std::vector<uint8_t> buf;
  size_t n = 0;
  EXPECT_FALSE(file.readBlock(a, &buf, 0, &n)) << "no reads while the file is being written";
  file.close();

  SnapshotInfo back;
  ASSERT_TRUE(file.open(path("b.snp"), &back));
  ASSERT_TRUE(file.readBlock(a, &buf, 4, &n));
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + 5), "first");
  ASSERT_EQ(buf.size(), 9u);
  EXPECT_EQ(buf[5] | buf[6] | buf[7] | buf[8], 0);
  ASSERT_TRUE(file.readBlock(kCurrentPosition, &buf, 0, &n));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + long(n)), "second!");

  uint32_t size = back.size;
  for (uint32_t bad : {0u, 1u, 19u, size - 3, size, size + 1, 0xFFFFFFF0u}) {
    EXPECT_FALSE(file.readBlock(bad, &buf, 0, &n)) << bad;
    EXPECT_EQ(n, 0u);
  }
  EXPECT_EQ(file.blockReads(), 9u);
}

// A file still being written has no info offset in its header yet: it is read by read, and
// reads stop at its size when it was opened; once finished it opens through a view.
TEST_F(SnapshotFileTest, OnlyFinishedFilesAreMapped) {
  SnapshotFile writer;
  ASSERT_TRUE(writer.create(path("w.snp")));
  uint32_t early = writer.appendTable(reinterpret_cast<const uint8_t*>("early"), 5);
  ASSERT_TRUE(writer.close());  // unfinished: the header's offsets are still 0

  SnapshotFile reader;
  SnapshotInfo info;
  ASSERT_TRUE(reader.open(path("w.snp"), &info));
  EXPECT_FALSE(reader.mapped());
  EXPECT_EQ(info.infoOffset, 0u);
  std::vector<uint8_t> buf;
  size_t n = 0;
  ASSERT_TRUE(reader.readBlock(early, &buf, 0, &n));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + long(n)), "early");

  // The file grows and is finished behind the reader's back: what it measured at open bounds
  // its reads.
  std::vector<uint8_t> bytes = readBytes(path("w.snp"));
  uint32_t late = uint32_t(bytes.size());
  bytes.insert(bytes.end(), {4, 0, 0, 0, 'l', 'a', 't', 'e'});
  putU32(&bytes[kHeaderInfoOffset], uint32_t(bytes.size()));
  bytes.resize(bytes.size() + kInfoSize);
  writeBytes(path("w.snp"), bytes);
  EXPECT_FALSE(reader.readBlock(late, &buf, 0, &n));
  EXPECT_FALSE(reader.mapped());

  ASSERT_TRUE(reader.open(path("w.snp"), &info));
  EXPECT_TRUE(reader.mapped());
  ASSERT_TRUE(reader.readBlock(late, &buf, 0, &n));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + long(n)), "late");
  ASSERT_TRUE(reader.readBlock(early, &buf, 0, &n));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + long(n)), "early");
  reader.close();
  EXPECT_FALSE(reader.mapped());
}

// A finished file is mapped at open, but its first tables are read with read calls (a small
// compare's few hundred tables cost fewer calls than the view's page faults); after 1,024
// tables the reads come from the view. Every table reads the same on both sides of the switch,
// and so does a block that straddles it.
TEST_F(SnapshotFileTest, ReadsMoveToTheViewAfterManyTables) {
  std::vector<std::string> contents;
  for (int i = 0; i < 3000; i++) {
    // Sizes around the 2 KB that a read call guesses at, so that some blocks need a second read.
    contents.push_back(std::string(size_t(i * 37 % 6000 + 1), char('a' + i % 26)) + std::to_string(i));
  }
  std::vector<uint32_t> tables = writeTables("many.snp", contents);

  SnapshotFile reader;
  SnapshotInfo back;
  ASSERT_TRUE(reader.open(path("many.snp"), &back));
  ASSERT_TRUE(reader.mapped());
  EXPECT_FALSE(reader.readsFromView());
  std::vector<uint8_t> buf;
  size_t n = 0;
  bool switched = false;
  for (size_t i = 0; i < tables.size(); i++) {
    // Backwards, so that no read follows on from the one before.
    size_t at = tables.size() - 1 - i;
    ASSERT_TRUE(reader.readBlock(tables[at], &buf, 3, &n)) << at;
    ASSERT_EQ(std::string(buf.begin(), buf.begin() + long(n)), contents[at]) << at;
    EXPECT_EQ(buf[n] | buf[n + 1] | buf[n + 2], 0) << at;
    if (reader.readsFromView() && !switched) {
      switched = true;
      EXPECT_GT(reader.blockReads(), 1024u);
      EXPECT_LT(reader.blockReads(), 1100u);
    }
  }
  EXPECT_TRUE(switched);
  ASSERT_TRUE(reader.open(path("many.snp"), &back));  // a new open starts with calls again
  EXPECT_FALSE(reader.readsFromView());
}

// A table read by a call keeps the bytes around it, and the next tables a walk reads (its
// children, written just before it) come from them. Small tables, a few larger than all that
// is kept, read backwards, forwards and at random: each reads what was written, whether it lies
// wholly in the kept bytes, starts in them and runs past their end, or lies outside them.
TEST_F(SnapshotFileTest, TablesReadInAnyOrderThroughTheKeptBytes) {
  std::vector<std::string> contents;
  for (int i = 0; i < 600; i++) {
    size_t size = i % 50 == 7 ? 5000 + size_t(i) : size_t(i * 131 % 700 + 1);
    contents.push_back(std::to_string(i) + std::string(size, char('a' + i % 26)));
  }
  std::vector<uint32_t> tables = writeTables("kept.snp", contents);

  std::vector<size_t> order;
  for (size_t i = tables.size(); i-- > 0;) order.push_back(i);
  for (size_t i = 0; i < tables.size(); i++) order.push_back(i);
  std::mt19937 rng(29);
  for (int i = 0; i < 2000; i++) order.push_back(rng() % tables.size());

  SnapshotFile reader;
  reader.useViewForTest(false);
  SnapshotInfo back;
  ASSERT_TRUE(reader.open(path("kept.snp"), &back));
  std::vector<uint8_t> buf;
  size_t n = 0;
  for (size_t at : order) {
    ASSERT_TRUE(reader.readBlock(tables[at], &buf, 2, &n)) << at;
    ASSERT_EQ(std::string(buf.begin(), buf.begin() + long(n)), contents[at]) << at;
    EXPECT_EQ(buf[n] | buf[n + 1], 0) << at;
  }
  // The block after the last one read follows on from it.
  ASSERT_TRUE(reader.readBlock(tables[10], &buf, 0, &n));
  ASSERT_TRUE(reader.readBlock(kCurrentPosition, &buf, 0, &n));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + long(n)), contents[11]);
}

// The snapshot list reads each file's info without a view or the extension index: the same
// info as open, nothing left open, and the reader still maps the next file it opens.
TEST_F(SnapshotFileTest, ReadInfoFillsWhatOpenDoes) {
  SnapshotFile writer;
  ASSERT_TRUE(writer.create(path("i.snp")));
  writer.addRoot(kSectionFiles, u"c:", 1, 2, 0, 0);
  writer.addExtension(1000, 0, 0x1234);
  SnapshotInfo written;
  FilterList lists[kSectionCount] = {{u"hkey_users\\"}, {u"c:\\\u0101\\"}, {}};
  written.fillNew("listed", 7, lists);
  ASSERT_TRUE(writer.finish(&written));
  ASSERT_TRUE(writer.close());

  SnapshotFile file;
  SnapshotInfo opened, listed;
  ASSERT_TRUE(file.open(path("i.snp"), &opened));
  EXPECT_TRUE(file.hasExtension());
  uint64_t openReads = file.blockReads();
  file.close();
  ASSERT_TRUE(file.readInfo(path("i.snp"), &listed));
  EXPECT_FALSE(file.isOpen());
  EXPECT_FALSE(file.mapped());
  EXPECT_EQ(file.blockReads(), openReads - 1);  // all but the index
  EXPECT_EQ(listed.name, "listed");
  EXPECT_EQ(listed.number, 7);
  EXPECT_EQ(listed.date, opened.date);
  EXPECT_EQ(listed.size, opened.size);
  EXPECT_EQ(listed.infoOffset, opened.infoOffset);
  for (int i = 0; i < kSectionCount; i++) {
    EXPECT_EQ(listed.sectionOffset[i], opened.sectionOffset[i]);
    EXPECT_EQ(listed.sectionState[i], opened.sectionState[i]);
    EXPECT_EQ(listed.filterList[i], lists[i]);
  }
  ASSERT_TRUE(file.open(path("i.snp"), &opened));
  EXPECT_TRUE(file.mapped());
  file.close();

  // A record past the end of the file: no info, as open says.
  std::vector<uint8_t> bytes = readBytes(path("i.snp"));
  putU32(&bytes[kHeaderInfoOffset], uint32_t(bytes.size()));
  writeBytes(path("i.snp"), bytes);
  EXPECT_FALSE(file.readInfo(path("i.snp"), &listed));
  EXPECT_FALSE(file.isOpen());
  EXPECT_TRUE(listed.name.empty());
}

// rewriteInfo writes while the file is open for reading: a record rewritten in place shows in
// the view, and one appended past it is read from the file.
TEST_F(SnapshotFileTest, ViewShowsRewrittenAndAppendedInfo) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path("v.snp")));
  file.addRoot(kSectionFiles, u"c:", 1, 2, 0, 0);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  info.fillNew("before", 4, lists);
  file.writeOldDigestsForTest();  // no marker after the record's "0": see below
  ASSERT_TRUE(file.finish(&info));
  file.close();

  uint32_t end = info.size;
  for (bool view : {true, false}) {
    SCOPED_TRACE(view ? "through a view" : "read by read");
    SnapshotFile reader;
    reader.useViewForTest(view);
    SnapshotInfo open;
    ASSERT_TRUE(reader.open(path("v.snp"), &open));
    EXPECT_EQ(reader.mapped(), view);
    // Read as a block, a record without markers starts with the length word "0\0\0\0" (48):
    // the name sits at block byte 32.
    std::vector<uint8_t> block;
    size_t n = 0;
    auto nameAt = [&](uint32_t offset) {
      if (!reader.readBlock(offset, &block, 0, &n) || n < 48) return std::string("(unread)");
      return std::string(reinterpret_cast<const char*>(block.data() + 32));
    };
    std::string before = nameAt(open.infoOffset);
    open.name = view ? "renamed" : "again";
    ASSERT_EQ(reader.rewriteInfo(&open, open.infoOffset), open.infoOffset);
    EXPECT_EQ(before, view ? "before" : "renamed");
    EXPECT_EQ(nameAt(open.infoOffset), open.name);
    // Appended past the view's last page (64 KiB covers every page size in use).
    uint32_t first = 0, at = 0;
    for (int i = 0; at < info.size + 65536; i++) {
      open.name = "appended " + std::to_string(i);
      at = reader.rewriteInfo(&open, 0);
      ASSERT_NE(at, 0u);
      if (i == 0) first = at;
    }
    EXPECT_EQ(first, end);
    end = at + kInfoSize;
    EXPECT_EQ(nameAt(first), "appended 0");
    EXPECT_EQ(nameAt(at), open.name);
    EXPECT_EQ(nameAt(open.infoOffset), view ? "renamed" : "again");
  }
}

TEST_F(SnapshotFileTest, TreeEntryParseRejectsShortEntries) {
  std::vector<uint8_t> entry(16, 0xAB);
  appendStoredName(&entry, u"d\u0101r");  // wide: 18 + 6 bytes
  ASSERT_EQ(entry.size(), 24u);
  for (size_t len = 0; len <= entry.size(); len++) {
    Slice s(entry.data(), len);
    TreeEntry e;
    bool ok = TreeEntry::parse(&s, &e);
    EXPECT_EQ(ok, len == entry.size()) << len;
    EXPECT_EQ(s.size(), ok ? 0 : len) << "a failed parse leaves the slice alone";
    if (ok) {
      EXPECT_EQ(e.size, 24u);
      EXPECT_EQ(e.name.str(), u"d\u0101r");
      EXPECT_EQ(e.childTable, 0xABABABABu);
    }
  }
}

TEST(TableBuilderTest, SortsStablyAndSerialisesInOrder) {
  TableBuilder t;
  const char16_t* names[] = {u"beta", u"Alpha", u"alpha", u"\u0100x", u"B", u"a"};
  for (size_t i = 0; i < 6; i++) {
    size_t k = t.addTreeEntry(names[i]);
    t.setTreeFields(k, uint32_t(i), 0, 0, 0);
  }
  EXPECT_EQ(t.count(), 6u);
  t.sortByName(treeEntryName);
  std::vector<uint8_t> out;
  t.serialize(&out);
  EXPECT_EQ(out.size(), t.byteSize());
  Slice s(out.data(), out.size());
  std::vector<std::u16string> got;
  std::vector<uint32_t> tags;
  TreeEntry e;
  while (TreeEntry::parse(&s, &e)) {
    got.push_back(e.name.str());
    tags.push_back(e.childHash);
  }
  EXPECT_EQ(got, (std::vector<std::u16string>{u"a", u"Alpha", u"alpha", u"B", u"beta", u"\u0100x"}));
  EXPECT_EQ(tags, (std::vector<uint32_t>{5, 1, 2, 4, 0, 3}));
  for (size_t k = 0; k < t.count(); k++) EXPECT_EQ(t.indexAt(k), tags[k]);
  t.clear();
  EXPECT_TRUE(t.empty());
  EXPECT_EQ(t.byteSize(), 0u);
}

TEST(TableBuilderTest, NamesEqualInNameOrderSortTheSameWhateverTheirArrival) {
  std::vector<uint8_t> first, second;
  for (auto* out : {&first, &second}) {
    TableBuilder t;
    std::vector<std::u16string> names = {u"twins", u"TWINS", u"Twins", u"a"};
    if (out == &second) std::reverse(names.begin(), names.end());
    for (const auto& n : names) t.addTreeEntry(n);
    t.sortByName(treeEntryName);
    t.serialize(out);
  }
  EXPECT_EQ(first, second);
}

TEST(SectionStateTest, FromListAndText) {
  EXPECT_EQ(stateFromList({}), SectionState::NotScanned);
  EXPECT_EQ(stateFromList({u"*"}), SectionState::Full);
  EXPECT_EQ(stateFromList({u"*x", u"c"}), SectionState::Full);
  EXPECT_EQ(stateFromList({u"c:\\", u"*"}), SectionState::Partial);
  EXPECT_STREQ(sectionStateText(SectionState::NotScanned), "-");
  EXPECT_STREQ(sectionStateText(SectionState::Partial), "partial");
  EXPECT_STREQ(sectionStateText(SectionState::Full), "full");
}

TEST(SnapshotInfoTest, FillNewAndReset) {
  SnapshotInfo info;
  info.tag = "s1.4";
  FilterList lists[kSectionCount] = {{u"*"}, {}, {u"a"}};
  info.fillNew("name", 42, lists);
  EXPECT_EQ(info.tag, "");
  EXPECT_EQ(info.name, "name");
  EXPECT_EQ(info.number, 42);
  EXPECT_LE(info.computer.size(), 30u);
  // "%4d-%02d-%02d %02d:%02d"
  const std::string shape = "dddd-dd-dd dd:dd";
  ASSERT_EQ(info.date.size(), shape.size()) << info.date;
  for (size_t i = 0; i < shape.size(); i++)
    EXPECT_TRUE(shape[i] == 'd' ? isdigit(uint8_t(info.date[i])) != 0 : info.date[i] == shape[i]) << info.date;
  EXPECT_EQ(info.filterList[2], FilterList{u"a"});
  info.reset();
  EXPECT_EQ(info.number, -1);
  EXPECT_TRUE(info.filterList[0].empty());
  EXPECT_EQ(info.sectionState[1], SectionState::NotScanned);
}

// ---------------------------------------------------------------------------------------------
// Injected write faults: a snapshot whose writing failed anywhere is never reported finished.

// Writes a sample snapshot through fs; true when finish and close succeed.
bool writeSample(FileSystem* fs, const std::string& path) {
  SnapshotFile file(fs);
  if (!file.create(path)) return false;
  std::mt19937 rng(7);
  Node tree = randomTree(&rng, 3);
  Written w = writeTree(&file, tree);
  file.addRoot(kSectionFiles, u"c:", w.childHash, w.contentHash, w.childTable, w.contentTable);
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  SnapshotInfo info;
  info.fillNew("faults", 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

TEST_F(SnapshotFileTest, EveryFailedWriteFailsFinish) {
  uint64_t writes = testing_support::failEachWriteInTurn(
      [&](FileSystem* fs) { return writeSample(fs, path("f.snp")); }, [](uint64_t) {});
  EXPECT_GT(writes, 20u) << "every table, list, record and header write must count";
  SnapshotFile file;
  SnapshotInfo back;
  ASSERT_TRUE(file.open(path("f.snp"), &back));
  EXPECT_GT(walkAllSections(&file, back), 0u);
}

TEST_F(SnapshotFileTest, FullDiskAtAnyByteFailsFinish) {
  testing_support::fillDiskInTurn([&](FileSystem* fs) { return writeSample(fs, path("f.snp")); },
                                  [](uint64_t) {});
}

// Appends length bytes in blocks of at most 64 MiB: the write position moves, nothing is stored.
void appendBytes(SnapshotFile* file, uint64_t length) {
  static const std::vector<uint8_t> block(64 << 20);
  while (length > 0) {
    size_t n = size_t(std::min<uint64_t>(length, block.size()));
    ASSERT_NE(file->appendBlock(block.data(), n), 0u);
    length -= n;
  }
}

TEST_F(SnapshotFileTest, PositionPastFourGiBFailsFinish) {
  FaultFileSystem counting;
  counting.setDiscard(true);
  SnapshotFile file(&counting);
  SnapshotInfo info;
  FilterList lists[kSectionCount];
  info.fillNew("big", 1, lists);
  uint8_t bytes[100] = {1};

  ASSERT_TRUE(file.create(path("big.snp")));
  EXPECT_EQ(file.appendTable(bytes, 100), kHeaderSize);
  appendBytes(&file, 0xFFFFFFFFull - 50 - (kHeaderSize + 104));
  EXPECT_EQ(file.appendTable(bytes, 100), 0u);
  EXPECT_EQ(file.appendTable(bytes, 1), 0u) << "nothing more is written after a failure";
  EXPECT_FALSE(file.finish(&info));

  // The tail alone may also be what crosses the limit.
  ASSERT_TRUE(file.create(path("big2.snp")));
  appendBytes(&file, 0xFFFFFFFFull - kInfoSize + 1 - kHeaderSize);
  EXPECT_FALSE(file.finish(&info));
  ASSERT_TRUE(file.create(path("big3.snp")));
  appendBytes(&file, 0xFFFFFFFFull - kInfoSize - kHeaderSize);
  EXPECT_TRUE(file.finish(&info)) << "a record ending exactly at 4 GiB - 1 still fits";
  EXPECT_EQ(info.size, 0xFFFFFFFFu);
  EXPECT_FALSE(std::filesystem::exists(path("big3.snp"))) << "the discarding seam stores nothing";
}

TEST_F(SnapshotFileTest, CreateFailsWithoutFolder) {
  SnapshotFile file;
  EXPECT_FALSE(file.create(path("missing/snap001.snp")));
  EXPECT_FALSE(file.isOpen());
  SnapshotInfo info;
  EXPECT_FALSE(file.finish(&info));
  EXPECT_FALSE(file.open(path("missing/snap001.snp"), &info));
}

// ---------------------------------------------------------------------------------------------
// Corrupt files: every read is bounded by the file; nothing crashes, hostile cycles end.

// Run through a view (true) and read by read (false).
class CorruptSnapshotTest : public SnapshotFileTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    SnapshotFileTest::SetUp();
    SnapshotFile file;
    ASSERT_TRUE(file.create(path("good.snp")));
    std::mt19937 rng(3);
    Node tree = randomTree(&rng, 3);
    Written w = writeTree(&file, tree);
    file.addRoot(kSectionFiles, u"c:", w.childHash, w.contentHash, w.childTable, w.contentTable);
    file.addRoot(kSectionRegistry, u"HKEY_USERS", 0, 0, w.childTable, 0);
    FilterList lists[kSectionCount] = {{u"hkey_users\\"}, {u"c:\\a\\", u"c:\\\u0101\\"}, {}};
    info_.fillNew("good", 1, lists);
    ASSERT_TRUE(file.finish(&info_));
    file.close();
    good_ = readBytes(path("good.snp"));
    SnapshotInfo back;
    file.useViewForTest(GetParam());
    ASSERT_TRUE(file.open(path("good.snp"), &back));
    ASSERT_EQ(file.mapped(), GetParam());
    goodEntries_ = walkAllSections(&file, back);
    ASSERT_GT(goodEntries_, 5u);
  }

  // Opens the bytes as a snapshot and walks all of it; whether open succeeded.
  bool openAndWalk(const std::vector<uint8_t>& bytes, size_t* entries = nullptr) {
    // A new name each time: truncating one file over and over is slow on some file systems.
    std::string name = path("bad" + std::to_string(serial_++) + ".snp");
    writeBytes(name, bytes);
    SnapshotFile file;
    file.useViewForTest(GetParam());
    SnapshotInfo info;
    if (!file.open(name, &info)) return false;
    // Every file this family damages keeps its info offset, so a view is taken when allowed.
    EXPECT_EQ(file.mapped(), GetParam() && info.infoOffset != 0);
    size_t n = walkAllSections(&file, info);
    if (entries) *entries = n;
    return true;
  }

  SnapshotInfo info_;
  std::vector<uint8_t> good_;
  size_t goodEntries_ = 0;
  int serial_ = 0;
};

TEST_P(CorruptSnapshotTest, TruncatedAnywhereFailsToOpen) {
  // The info record ends the file, so every cut loses part of it (or the header).
  for (size_t len = 0; len < good_.size(); len++) {
    std::vector<uint8_t> cut(good_.begin(), good_.begin() + long(len));
    EXPECT_FALSE(openAndWalk(cut)) << len;
  }
  EXPECT_TRUE(openAndWalk(good_));
}

TEST_P(CorruptSnapshotTest, TruncatedTablesFailToRead) {
  // Keep header and info record but cut the file inside its tables: the open succeeds (with
  // the lists gone past the end it does not) and the walk reads less, never past the end.
  std::vector<uint8_t> bytes = good_;
  std::vector<uint8_t> record(bytes.begin() + info_.infoOffset, bytes.end());
  size_t cut = info_.sectionOffset[0] / 2;
  bytes.resize(cut);
  putU32(&bytes[kHeaderInfoOffset], uint32_t(cut));
  bytes.insert(bytes.end(), record.begin(), record.end());
  for (int i = 0; i < 3; i++) putU32(&bytes[cut + kInfoListCounts + 4 * i], 0);
  size_t entries = 0;
  ASSERT_TRUE(openAndWalk(bytes, &entries));
  EXPECT_LT(entries, goodEntries_);
}

TEST_P(CorruptSnapshotTest, FlippedBytesNeverCrash) {
  size_t opened = 0;
  for (size_t at = 0; at < good_.size(); at++) {
    std::vector<uint8_t> bytes = good_;
    bytes[at] ^= 0xFF;
    if (openAndWalk(bytes)) opened++;
  }
  // Flips in names, digests and the reserved field leave a readable file.
  EXPECT_GT(opened, good_.size() / 2);
}

TEST_P(CorruptSnapshotTest, ForgedOffsetsAndLengthsFail) {
  const uint32_t size = uint32_t(good_.size());
  const uint32_t info = info_.infoOffset;
  const uint32_t list1 = info_.listOffset[1];
  struct Forge {
    const char* label;
    size_t at;
    uint32_t value;
  } forges[] = {
      {"info offset one byte late", kHeaderInfoOffset, info + 1},
      {"info offset past the end", kHeaderInfoOffset, 0xFFFFFFF0u},
      {"info offset inside the header", kHeaderInfoOffset, 4},
      {"huge list count", info + kInfoListCounts + 4, 0x40000000u},
      {"list count one too many", info + kInfoListCounts + 4, 3},
      {"list offset past the end", info + kInfoListOffsets + 4, size + 10},
      {"list offset 0", info + kInfoListOffsets + 4, 0},
      {"list item longer than the file", list1, 0x7FFFFFFFu},
      {"wide list item longer than the file", list1, 0xFFFFFFFFu},
      {"list item just past the end", list1, size - list1},
  };
  for (const Forge& f : forges) {
    SCOPED_TRACE(f.label);
    std::vector<uint8_t> bytes = good_;
    putU32(&bytes[f.at], f.value);
    EXPECT_FALSE(openAndWalk(bytes));
  }
}

TEST_P(CorruptSnapshotTest, ForgedBlocksAreRefusedOrBounded) {
  // A root table whose length passes the end of the file, then one whose child offset points
  // back at itself (a cycle), then one that points into the middle of another block.
  std::vector<uint8_t> bytes = good_;
  uint32_t root = info_.sectionOffset[1];
  putU32(&bytes[root], uint32_t(bytes.size()));
  size_t entries = 99;
  ASSERT_TRUE(openAndWalk(bytes, &entries));

  bytes = good_;
  putU32(&bytes[root + 4 + kTreeChildTable], root);
  ASSERT_TRUE(openAndWalk(bytes, &entries));
  EXPECT_GE(entries, 1u);

  bytes = good_;
  putU32(&bytes[root + 4 + kTreeChildTable], root + 3);
  ASSERT_TRUE(openAndWalk(bytes, &entries));

  // Direct reads of the forged length.
  bytes = good_;
  putU32(&bytes[root], uint32_t(bytes.size() - root - 4 + 1));
  writeBytes(path("bad.snp"), bytes);
  SnapshotFile file;
  file.useViewForTest(GetParam());
  SnapshotInfo info;
  ASSERT_TRUE(file.open(path("bad.snp"), &info));
  EXPECT_EQ(file.mapped(), GetParam());
  std::vector<uint8_t> buf;
  size_t n = 0;
  EXPECT_FALSE(file.readBlock(root, &buf, 0, &n));
  putU32(&bytes[root], uint32_t(bytes.size() - root - 4));
  writeBytes(path("bad2.snp"), bytes);
  ASSERT_TRUE(file.open(path("bad2.snp"), &info));
  EXPECT_TRUE(file.readBlock(root, &buf, 0, &n)) << "a block reaching the last byte is whole";
  EXPECT_EQ(n, bytes.size() - root - 4);
}

INSTANTIATE_TEST_SUITE_P(ReadPaths, CorruptSnapshotTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "View" : "ReadByRead";
                         });

// ---------------------------------------------------------------------------------------------

class TestItems : public ItemListReader {
 public:
  int order(const Item& a, const Item& b) const override { return int(a.p[1]) - int(b.p[1]); }
  bool differs(const Item& a, const Item& b) const override {
    return a.size != b.size || !std::equal(a.p, a.p + a.size, b.p);
  }
  std::vector<uint8_t> tail() const { return {block_.begin() + long(length_), block_.end()}; }

 protected:
  size_t extraBytes() const override { return 5; }
  // Entry: one length byte, then that many bytes; a length byte of 0xFF is malformed.
  size_t stepSize(const uint8_t* p, size_t) const override { return p[0] == 0xFF ? 0 : 1 + p[0]; }
};

TEST_F(SnapshotFileTest, ItemListReaderStepsAndStops) {
  struct {
    const char* label;
    std::vector<uint8_t> entries;
    size_t items;
  } cases[] = {
      {"three items", {1, 'a', 2, 'b', 'c', 0}, 3},
      {"last item cut", {1, 'a', 5, 'b'}, 1},
      {"malformed second", {1, 'a', 0xFF, 1, 'x'}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SnapshotFile file;
    ASSERT_TRUE(file.create(path("i.snp")));
    uint32_t at = file.appendTable(c.entries.data(), c.entries.size());
    SnapshotInfo info;
    FilterList lists[kSectionCount];
    info.fillNew("", 1, lists);
    ASSERT_TRUE(file.finish(&info));
    file.close();
    ASSERT_TRUE(file.open(path("i.snp"), &info));
    TestItems reader;
    ASSERT_TRUE(reader.open(&file, at));
    EXPECT_EQ(reader.tail(), std::vector<uint8_t>(5, 0));
    size_t count = 0;
    Item item;
    while (reader.next(&item)) count++;
    EXPECT_EQ(count, c.items);
    EXPECT_FALSE(reader.next(&item));
    reader.rewind();
    EXPECT_TRUE(reader.next(&item));
    EXPECT_EQ(item.p[1], 'a');
    EXPECT_FALSE(reader.open(&file, 0));
    EXPECT_FALSE(reader.next(&item));
  }
}

TEST(RunningScansTest, CountsAcrossThreads) {
  SnapshotFile file;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) file.addRunningScan();
  EXPECT_EQ(file.runningScans(), 4);
  for (int t = 0; t < 4; t++) threads.emplace_back([&] { file.endRunningScan(); });
  for (auto& th : threads) th.join();
  EXPECT_EQ(file.runningScans(), 0);
  file.endRunningScan();
  EXPECT_EQ(file.runningScans(), 0);
}

}  // namespace
}  // namespace keldrun
