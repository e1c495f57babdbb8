// keldrun digest: prints the digests a snapshot file holds, so that two snapshots of the same
// tree (say, one taken on Windows and one of the same Wine prefix on Linux) can be compared
// line by line and a difference located to the folder or key where it starts.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/text.h"
#include "cli/command.h"
#include "cli/output.h"
#include "engine/section_filter.h"
#include "engine/snapshot.h"

namespace keldrun {
namespace {

// A corrupt file could chain tables deeper than any scan writes; stop well past the scan's limit.
constexpr int kMaxDepth = 4096;

struct DigestWalk {
  SnapshotFile* file;
  Output* out;
  bool tree = false;       // every node below the first printed ones too
  SectionFilter prefix;   // only nodes on the way to or at and below --path
  std::unordered_set<uint32_t> seen;  // tables already walked: each has one parent in a sound file
  bool damaged = false;

  // True when the node at path lies at or below the prefix, or on the way to it.
  bool wanted(const std::u16string& path, bool* print) const {
    int place = testPath(prefix, path);
    *print = place == kPathInside;
    return place != kPathOutside;
  }

  void printNode(const TreeEntry& e, const std::u16string& path) {
    char digests[24];
    std::snprintf(digests, sizeof digests, "%08x %08x ", unsigned(e.childHash), unsigned(e.contentHash));
    out->put(digests).text(path).put('\n');
    out->flushIfFull();
  }

  // Walks the table at offset; parent is the path of the node that owns it, ending in '\'.
  void walk(uint32_t offset, const std::u16string& parent, int depth) {
    if (offset == 0) return;
    if (depth > kMaxDepth || !seen.insert(offset).second) {
      std::fprintf(stderr, "keldrun: table at %u below %s is walked twice or too deep\n",
                   unsigned(offset), printable(parent).c_str());
      damaged = true;
      return;
    }
    std::vector<uint8_t> block;
    size_t length = 0;
    if (!file->readBlock(offset, &block, 0, &length)) {
      std::fprintf(stderr, "keldrun: cannot read the table at %u below %s\n", unsigned(offset),
                   printable(parent).c_str());
      damaged = true;
      return;
    }
    Slice s(block.data(), length);
    TreeEntry e;
    while (TreeEntry::parse(&s, &e)) {
      std::u16string path = parent + e.name.str();
      if (path.empty() || path.back() != u'\\') path.push_back(u'\\');
      bool print = false;
      if (!wanted(path, &print)) continue;
      if (print) printNode(e, path);
      if (tree || !print) walk(e.childTable, path, depth + 1);
    }
    if (!s.empty()) {
      std::fprintf(stderr, "keldrun: the table at %u below %s ends in a malformed entry\n",
                   unsigned(offset), printable(parent).c_str());
      damaged = true;
    }
  }
};

int runDigest(CommandContext& ctx) {
  bool tree = ctx.has("--tree");
  int only = -1;
  if (!sectionOption(ctx.options, "--section", kAnySectionByLongName, &only)) return kExitError;
  std::string path = ctx.operands()[0];

  SnapshotFile file;
  SnapshotInfo info;
  if (!file.open(path, &info)) return fail("cannot open snapshot " + path);
  Output out(stdout);
  DigestWalk walk;
  walk.file = &file;
  walk.out = &out;
  walk.tree = tree;
  walk.prefix = pathOption(ctx.options);
  for (int k = 0; k < kSectionCount; k++) {
    if (only >= 0 && k != only) continue;
    out.put("section ").number(uint64_t(k)).put(' ').put(sectionLongName(k)).put(' ');
    out.put(sectionStateText(info.sectionState[k])).put('\n');
    walk.walk(info.sectionOffset[k], std::u16string(), 0);
  }
  file.close();
  if (!out.finish()) return fail("cannot write the output");
  return walk.damaged ? kExitError : kExitOk;
}

const Option kOptions[] = {
    {"--tree", nullptr, "every key and folder, not only the section roots"},
    {"--section", "NAME", "only registry, files or applications"},
    {"--path", "PREFIX", "only the nodes at or below PREFIX (whole names; case does not matter)"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"digest", "", "FILE", 1, 1, kOptions,
                  "Prints the two digests (child, content) of each section root of a snapshot\n"
                  "file, or with --tree of every key and folder, one line each:\n"
                  "  CHILD CONTENT PATH\n"
                  "Two snapshots of the same tree print the same lines, so 'diff' shows where\n"
                  "they part.\n",
                  "digest --tree --section files --path 'c:\\windows\\' snap001.snp", runDigest});

}  // namespace
}  // namespace keldrun
