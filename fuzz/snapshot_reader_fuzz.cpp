// The snapshot reader on arbitrary files: open, then every table reachable from the sections,
// recursively. A depth limit and a visited set end the cycles a hostile file can build.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/file_extension.h"
#include "engine/snapshot.h"
#include "engine/snapshot_format.h"
#include "fuzz/scratch.h"

namespace {

using namespace keldrun;

class AnyItems : public ItemListReader {
 public:
  int order(const Item& a, const Item& b) const override { return int(a.size) - int(b.size); }
  bool differs(const Item& a, const Item& b) const override { return a.size != b.size; }

 protected:
  size_t extraBytes() const override { return 16; }
  size_t stepSize(const uint8_t* p, size_t) const override { return 1 + p[0]; }
};

// The blocks one walk read, by offset (an empty one: the read failed). A second walk of the same
// file, read in other ways, must read the same.
using Blocks = std::map<uint32_t, std::vector<uint8_t>>;

void walk(SnapshotFile* file, uint64_t fileSize, uint32_t offset, int depth,
          std::set<uint32_t>* visited, Blocks* blocks, bool compare) {
  if (offset == 0 || depth > 64 || !visited->insert(offset).second) return;
  std::vector<uint8_t> block;
  size_t n = 0;
  bool read = file->readBlock(offset, &block, 16, &n);
  if (!read) block.clear();
  if (compare ? (*blocks)[offset] != block : !blocks->emplace(offset, block).second) __builtin_trap();
  if (!read) return;
  if (n + 4 > fileSize || block.size() != n + 16) __builtin_trap();
  Slice s(block.data(), n);
  std::vector<TreeEntry> entries;
  TreeEntry e;
  while (TreeEntry::parse(&s, &e)) {
    if (e.name.bytes < block.data() || e.name.bytes + e.name.byteSize() > block.data() + n)
      __builtin_trap();
    e.name.str();
    entries.push_back(e);
  }
  for (const TreeEntry& k : entries) {
    AnyItems items;
    if (k.contentTable && items.open(file, k.contentTable)) {
      Item item;
      while (items.next(&item)) {
      }
    }
    // An extension block decodes inside its own bytes, whatever they hold.
    std::vector<uint8_t> ext;
    size_t m = 0;
    if (k.contentTable && file->readExtension(k.contentTable, &ext, &m)) {
      if (m == 0 || m > ext.size()) __builtin_trap();
      FileExtensionDecoder decoder;
      FileExt record;
      if (decoder.start(ext.data(), m))
        while (decoder.next(record.changeTime, &record)) {
        }
    }
    walk(file, fileSize, k.childTable, depth + 1, visited, blocks, compare);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz_support::scratchFolder() + "/a.snp";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  SnapshotFile file;
  file.useViewForTest(true);  // a few tables would otherwise be read with calls
  SnapshotInfo info;
  if (!file.open(path, &info)) return 0;
  // A finished file is read through its view: the tables below are read from it.
  if (file.mapped() != (info.infoOffset != 0)) __builtin_trap();
  // Names are valid UTF-8 of at most 199 characters, whatever the field held.
  if (validUtf8(info.name) != info.name || fromUtf8(info.name).size() > 199 || info.computer.size() > 99 ||
      info.date.size() > 19)
    __builtin_trap();
  for (int i = 0; i < kSectionCount; i++)
    if (info.sectionState[i] != stateFromList(info.filterList[i])) __builtin_trap();
  std::set<uint32_t> visited;
  Blocks blocks;
  for (int i = 0; i < kSectionCount; i++) walk(&file, size, info.sectionOffset[i], 0, &visited, &blocks, false);
  std::vector<uint8_t> block;
  size_t n = 0;
  file.readBlock(kCurrentPosition, &block, 0, &n);

  // Read again with calls that keep a few bytes around what was asked: every block reads as it
  // did from the view, wherever it lies against what is kept.
  {
    SnapshotFile reads;
    SnapshotFile::ReadSizes sizes;
    sizes.opening = data[0] % 128;
    sizes.behind = data[size / 2] % 64;
    sizes.ahead = data[size - 1] % 64;
    reads.useReadSizesForTest(sizes);
    SnapshotInfo again;
    if (!reads.open(path, &again) || again.name != info.name || again.infoOffset != info.infoOffset ||
        again.filterList[0] != info.filterList[0] || reads.hasExtension() != file.hasExtension())
      __builtin_trap();
    std::set<uint32_t> visitedAgain;
    for (int i = 0; i < kSectionCount; i++)
      walk(&reads, size, again.sectionOffset[i], 0, &visitedAgain, &blocks, true);
  }

  // Renaming in place keeps the file's size, its tables and its extension.
  if (info.infoOffset != 0) {
    bool extension = file.hasExtension();
    info.name = "renamed \xD0\x96";  // beyond 8 bits: stored as UTF-8 with its marker
    if (file.rewriteInfo(&info, info.infoOffset) != info.infoOffset) __builtin_trap();
    file.close();
    SnapshotInfo back;
    if (!file.open(path, &back) || back.name != "renamed \xD0\x96" ||
        back.sectionOffset[0] != info.sectionOffset[0] || back.infoOffset != info.infoOffset ||
        file.hasExtension() != extension)
      __builtin_trap();
  }
  return 0;
}
