// Helpers shared by the tests: temporary folders that are removed afterwards, whole-file reads
// and writes, registry value bytes, real snapshot files written through SnapshotFile, and the
// entries of a stored TreeEntry table.
#ifndef KELDRUN_TESTS_TEST_SUPPORT_H_
#define KELDRUN_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/files.h"
#include "engine/snapshot.h"
#include "platform/env.h"
#include "workspace/settings.h"

namespace keldrun {
namespace testing_support {

// A new empty folder below the system's temporary folder, removed with all it holds.
class TempFolder {
 public:
  TempFolder() {
    // A random run number keeps two test runs at the same time (or a run after one that
    // crashed and left its folders) from trying the same names.
    static const std::string run = std::to_string(std::random_device()());
    static std::atomic<int> serial{0};
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 1000; i++) {
      path_ = base / ("keldrun_test_" + run + "_" + std::to_string(serial++) + "_" + std::to_string(i));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) return;
    }
    ADD_FAILURE() << "no temporary folder below " << base.string();
    path_.clear();  // the last name tried may be someone else's folder
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  // The folder with a trailing separator.
  std::string str() const { return withSeparator(path_.string()); }
  std::string operator/(const std::string& name) const { return str() + name; }
  // The names of what the folder holds, sorted.
  std::vector<std::string> names() const { return namesIn(path_.string()); }
  // The same for any folder; empty when it cannot be listed.
  static std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The whole file as one string of bytes; empty when it cannot be read.
inline std::string readText(const std::string& path) {
  std::vector<uint8_t> bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

inline bool writeText(const std::string& path, const std::string& text) {
  return writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// The UTF-16LE bytes of s, as the registry stores text; with the terminating null when
// `terminate`.
inline std::vector<uint8_t> utf16(const std::u16string& s, bool terminate = true) {
  std::vector<uint8_t> out;
  for (char16_t c : s) {
    out.push_back(uint8_t(c));
    out.push_back(uint8_t(c >> 8));
  }
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

// The bytes of a registry editor file holding text: the UTF-16LE byte order mark, then the text.
inline std::string utf16File(const std::u16string& text) {
  std::vector<uint8_t> body = utf16(text, false);
  return "\xFF\xFE" + std::string(body.begin(), body.end());
}

// Writes a finished snapshot file with the given number, name and filter lists (no tables).
inline bool makeSnapshotFile(const std::string& path, int32_t number, const std::string& name,
                             const FilterList lists[kSectionCount], SnapshotInfo* out = nullptr) {
  SnapshotFile file;
  if (!file.create(path)) return false;
  SnapshotInfo info;
  info.fillNew(name, number, lists);
  bool ok = file.finish(&info);
  ok = file.close() && ok;
  if (out) *out = info;
  return ok;
}

inline bool makeSnapshotFile(const std::string& path, int32_t number, const std::string& name) {
  FilterList lists[kSectionCount] = {{u"*"}, {u"c:\\windows\\"}, {}};
  return makeSnapshotFile(path, number, name, lists);
}

// The numbers of a catalog's records, in order.
inline std::vector<int32_t> catalogNumbers(const Catalog& catalog) {
  std::vector<int32_t> out;
  for (size_t i = 0; i < catalog.count(); i++) out.push_back(catalog.record(i).number);
  return out;
}

// Writes snapshot `number` into the data folder of settings and enters it in the catalog.
inline SnapshotInfo addSnapshotTo(Settings* settings, int32_t number, const std::string& name) {
  makeFolders(settings->catalog().dataFolder());
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {u"c:\\windows\\"}, {}};
  EXPECT_TRUE(makeSnapshotFile(settings->catalog().snapshotPath(number).path, number, name, lists, &info));
  settings->catalog().addSnapshot(info);
  return info;
}

// Finishes a snapshot whose only section is the applications, as snapshot 1 named `name`.
inline bool finishAppsSnapshot(SnapshotFile* file, const std::string& name) {
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {}, {u"*"}};
  info.fillNew(name, 1, lists);
  return file->finish(&info);
}

// The entries of the TreeEntry table at `offset`, in stored order; their names point into
// *block, which must outlive them. A failed expectation when the block cannot be read or does
// not end with a whole entry.
inline std::vector<TreeEntry> readTreeEntries(SnapshotFile* file, uint32_t offset, std::vector<uint8_t>* block) {
  std::vector<TreeEntry> entries;
  size_t n = 0;
  if (!file->readBlock(offset, block, 0, &n)) {
    ADD_FAILURE() << "no table block at " << offset;
    return entries;
  }
  Slice s(block->data(), n);
  TreeEntry e;
  while (TreeEntry::parse(&s, &e)) entries.push_back(e);
  EXPECT_TRUE(s.empty()) << "the table block at " << offset << " ends inside an entry";
  return entries;
}

}  // namespace testing_support
}  // namespace keldrun

#endif  // KELDRUN_TESTS_TEST_SUPPORT_H_
