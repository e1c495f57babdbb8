#include "engine/digest_reuse.h"

#include <cstring>
#include <unordered_map>
#include <vector>
#include <utility>

#include "base/text.h"
#include "engine/file_entry.h"
#include "engine/snapshot.h"

namespace keldrun {

namespace {

struct Node {
  uint32_t childTable = 0;
  uint32_t contentTable = 0;
};
using Children = std::unordered_map<std::u16string, Node>;

// The entries of the tree table at offset by name; none when it cannot be read.
Children readChildren(SnapshotFile* file, uint32_t offset) {
  Children children;
  std::vector<uint8_t> block;
  size_t length = 0;
  if (offset == 0 || !file->readBlock(offset, &block, 0, &length) || length > block.size()) return children;
  Slice s(block.data(), length);
  TreeEntry e;
  while (TreeEntry::parse(&s, &e)) children.emplace(e.name.str(), Node{e.childTable, e.contentTable});
  return children;
}

// The entry named `name`: the one with exactly that name, else one equal to it but for case (a
// scan path may spell a folder as it was typed, in another case than the file system's).
const Node* findChild(const Children& children, const std::u16string& name) {
  auto it = children.find(name);
  if (it != children.end()) return &it->second;
  for (const auto& c : children)
    if (equalFolded(c.first, name)) return &c.second;
  return nullptr;
}

// "c:\dir\sub\" -> "c:\", "dir", "sub".
std::vector<std::u16string> components(const std::u16string& path) {
  std::vector<std::u16string> out;
  size_t slash = path.find(u'\\');
  if (slash == std::u16string::npos) return out;
  out.push_back(path.substr(0, slash + 1));
  for (size_t i = slash + 1; i < path.size();) {
    size_t end = path.find(u'\\', i);
    if (end == std::u16string::npos) end = path.size();
    if (end > i) out.push_back(path.substr(i, end - i));
    i = end + 1;
  }
  return out;
}

}  // namespace

struct DigestReuse::Source {
  struct Folder {
    std::u16string name;
    Node node;
    Children children;
    bool childrenRead = false;
  };
  struct Earlier {
    StoredText name;
    uint64_t lastWrite = 0;
    uint64_t size = 0;
    FileExt ext;
  };

  SnapshotFile file;
  SnapshotInfo info;
  Children roots;
  // The folders from the drive root down to the folder entered last, as far as this snapshot
  // holds them: kept from one folder to the next, as a walk enters neighbours.
  std::vector<Folder> path;
  // The files of that folder that have a SHA-256, in table order, their names in the reader's
  // block; `next` is the first one not passed yet by the files asked.
  std::vector<Earlier> files;
  size_t next = 0;
  FileItemReader reader;

  const Children& childrenOf(size_t depth) {
    if (depth == 0) return roots;
    Folder& f = path[depth - 1];
    if (!f.childrenRead) {
      f.children = readChildren(&file, f.node.childTable);
      f.childrenRead = true;
    }
    return f.children;
  }

  void enter(const std::vector<std::u16string>& names) {
    files.clear();
    next = 0;
    size_t keep = 0;
    while (keep < path.size() && keep < names.size() && path[keep].name == names[keep]) keep++;
    path.resize(keep);
    while (path.size() < names.size()) {
      const Node* n = findChild(childrenOf(path.size()), names[path.size()]);
      if (!n) return;
      Folder f;
      f.name = names[path.size()];
      f.node = *n;
      path.push_back(std::move(f));
    }
    if (path.empty() || !reader.open(&file, path.back().node.contentTable)) return;
    Item item;
    FileEntry entry;
    while (reader.next(&item)) {
      const FileExt* e = reader.ext(item);
      if (!e || e->digestState != kDigestSha256 || !FileEntry::parse(item.p, item.size, &entry)) continue;
      files.push_back(Earlier{entry.name, entry.lastWrite, entry.size, *e});
    }
  }
};

DigestReuse::DigestReuse(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    std::unique_ptr<Source> s(new Source);
    if (!s->file.open(p, &s->info) || !s->file.hasExtension()) continue;
    s->roots = readChildren(&s->file, s->info.sectionOffset[kSectionFiles]);
    sources_.push_back(std::move(s));
  }
}

DigestReuse::~DigestReuse() = default;

void DigestReuse::enterFolder(const std::u16string& path) {
  if (sources_.empty()) return;
  std::vector<std::u16string> names = components(path);
  for (auto& s : sources_) s->enter(names);
}

bool DigestReuse::find(const StoredText& name, uint64_t lastWrite, uint64_t size, FileExt* now) {
  for (auto& s : sources_) {
    int c = -1;
    while (s->next < s->files.size() && (c = compareStored(s->files[s->next].name, name)) < 0) s->next++;
    if (s->next == s->files.size() || c != 0) continue;
    // The newest digest of the file decides: copied only when nothing recorded has moved since.
    // A change time the seam could not tell proves nothing, so the file is read again.
    const Source::Earlier& e = s->files[s->next];
    if (e.lastWrite != lastWrite || e.size != size || now->changeTime == 0 ||
        e.ext.changeTime != now->changeTime || !e.ext.sameIdentity(*now))
      return false;
    now->digestState = kDigestSha256;
    std::memcpy(now->sha256, e.ext.sha256, kSha256Size);
    return true;
  }
  return false;
}

}  // namespace keldrun
