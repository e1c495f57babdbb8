// Snapshot files built from trees described in the test, for the comparison tests that need
// tables no scan writes (forged offsets, cycles) or exact control over digests.
#ifndef KELDRUN_TESTS_COMPARE_SUPPORT_H_
#define KELDRUN_TESTS_COMPARE_SUPPORT_H_

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/compare.h"
#include "engine/file_entry.h"
#include "engine/file_scan.h"
#include "engine/section_filter.h"
#include "engine/snapshot.h"
#include "engine/value_entry.h"

namespace keldrun {
namespace testing_support {

struct FileSpec {
  std::u16string name;
  uint64_t time = 0;
  uint64_t size = 0;
};

struct DirSpec {
  std::u16string name;
  std::vector<DirSpec> dirs;
  std::vector<FileSpec> files;
};

struct Written {
  uint32_t childHash = 0, contentHash = 0, childTable = 0, contentTable = 0;
};

// Writes a folder's tables post-order, as the scan does.
inline Written writeDir(SnapshotFile* file, const DirSpec& d) {
  Written w;
  TableBuilder table;
  std::vector<Written> kids;
  for (const DirSpec& k : d.dirs) kids.push_back(writeDir(file, k));
  std::vector<FileSpec> files = d.files;
  std::sort(files.begin(), files.end(),
            [](const FileSpec& a, const FileSpec& b) { return compareNames(a.name, b.name) < 0; });
  std::vector<uint8_t> entries;
  for (const FileSpec& f : files) appendFileEntry(&entries, f.name.data(), f.name.size(), f.time, f.size);
  if (!entries.empty()) {
    w.contentTable = file->appendTable(entries.data(), entries.size());
    w.contentHash = uint32_t(crc32(0, entries.data(), uInt(entries.size())));
  }
  for (size_t i = 0; i < d.dirs.size(); i++) {
    size_t at = table.addTreeEntry(d.dirs[i].name);
    table.setTreeFields(at, kids[i].childHash, kids[i].contentHash, kids[i].childTable,
                        kids[i].contentTable);
  }
  w.childTable = file->writeTable(&table, true, &w.childHash);
  return w;
}

struct ValueSpec {
  std::u16string name;
  uint32_t type = 1;
  std::vector<uint8_t> data;
};

// A registry key with any name at all, as a hostile snapshot may hold it.
struct KeySpec {
  std::u16string name;
  std::vector<KeySpec> keys;
  std::vector<ValueSpec> values;
};

// Writes a key's tables post-order, as the registry scan does.
inline Written writeKeyTree(SnapshotFile* file, const KeySpec& k) {
  Written w;
  std::vector<Written> kids;
  for (const KeySpec& c : k.keys) kids.push_back(writeKeyTree(file, c));
  TableBuilder values;
  std::vector<uint8_t> entry;
  for (const ValueSpec& v : k.values) {
    entry.clear();
    appendValueEntry(&entry, v.name, v.type, v.data);
    values.add(entry.data(), entry.size());
  }
  if (!values.empty()) {
    values.sortByName(&valueEntryName);
    std::vector<uint8_t> bytes;
    values.serialize(&bytes);
    w.contentTable = file->appendTable(bytes.data(), bytes.size());
    w.contentHash = uint32_t(crc32(0, bytes.data(), uInt(bytes.size())));
  }
  TableBuilder table;
  for (size_t i = 0; i < k.keys.size(); i++) {
    size_t at = table.addTreeEntry(k.keys[i].name);
    table.setTreeFields(at, kids[i].childHash, kids[i].contentHash, kids[i].childTable,
                        kids[i].contentTable);
  }
  if (!table.empty()) w.childTable = file->writeTable(&table, true, &w.childHash);
  return w;
}

// Writes a snapshot whose registry section holds the given roots, all recorded.
inline bool writeRegistrySnapshot(const std::string& path, const std::vector<KeySpec>& roots,
                                  const std::string& name = "snap") {
  SnapshotFile file;
  if (!file.create(path)) return false;
  for (const KeySpec& r : roots) {
    Written w = writeKeyTree(&file, r);
    file.addRoot(kSectionRegistry, r.name, w.childHash, w.contentHash, w.childTable, w.contentTable);
  }
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {}, {}};
  info.fillNew(name, 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// Writes a snapshot whose files section holds the given roots (each a DirSpec named like
// "c:\"), with the files filter list `filter` (["*"] for everything).
inline bool writeFilesSnapshot(const std::string& path, const std::vector<DirSpec>& roots,
                               const FilterList& filter, const std::string& name = "snap") {
  SnapshotFile file;
  if (!file.create(path)) return false;
  for (const DirSpec& r : roots) {
    Written w = writeDir(&file, r);
    file.addRoot(kSectionFiles, r.name, w.childHash, w.contentHash, w.childTable, w.contentTable);
  }
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, filter, {}};
  info.fillNew(name, 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// Scans the native folders (each given as its Windows path, ending in '\') into a snapshot file
// with the real files scan; with `oldDigests` as older versions wrote it (no names marker), with
// `withoutExtension` without the files' extension (change times, identities, digests).
inline bool scanFolders(const std::string& path, Env* env, const FilterList& items,
                        const std::string& name = "snap", bool oldDigests = false,
                        bool withoutExtension = false, bool digests = false) {
  SnapshotFile file;
  if (!file.create(path)) return false;
  if (oldDigests) file.writeOldDigestsForTest();
  if (withoutExtension) file.writeWithoutExtensionForTest();
  FileStore store(env);
  store.setDigests(digests, {});
  FilterList list = normalizeFileFilter(items);
  if (!store.startFileScan(&file, list)) return false;
  while (file.runningScans() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  store.releaseWorkers();
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, list, {}};
  info.fillNew(name, 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// Calls fn for every file recorded in the files section of an open snapshot of scanned POSIX
// folders: its path as the file system names it (the drive dropped, backslashes made slashes)
// and its extension record, null when it has none.
inline void forEachRecordedFile(SnapshotFile* file, const SnapshotInfo& info,
                                const std::function<void(const std::string&, const FileExt*)>& fn) {
  struct Visitor : TreeVisitor {
    SnapshotFile* file;
    const std::function<void(const std::string&, const FileExt*)>* fn;
    bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a, const TreeEntry*,
               int) override {
      if (!a->contentTable) return true;
      FileItemReader reader;
      if (!reader.open(file, a->contentTable)) return true;
      Item item;
      while (reader.next(&item)) {
        std::string native = toUtf8(path.substr(2)) + "/" + toUtf8(fileEntryName(item.p).str());
        std::replace(native.begin(), native.end(), '\\', '/');
        (*fn)(native, reader.ext(item));
      }
      return true;
    }
  } visitor;
  visitor.file = file;
  visitor.fn = &fn;
  SectionFilter all = copyFilter({u"*"});
  TreeWalker walker(file, nullptr, &all);
  walker.walkTree(info.sectionOffset[kSectionFiles], 0, std::u16string(), &visitor);
}

}  // namespace testing_support
}  // namespace keldrun

#endif  // KELDRUN_TESTS_COMPARE_SUPPORT_H_
