// Helpers shared by the tests of the settings, catalog and snapshot-list modules: a temporary
// program folder that is removed afterwards, and real snapshot files written through
// SnapshotFile.
#ifndef KELDRUN_TESTS_SETTINGS_TESTING_H_
#define KELDRUN_TESTS_SETTINGS_TESTING_H_

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/snapshot.h"
#include "platform/env.h"
#include "shell/settings.h"

namespace keldrun {
namespace testing_support {

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> serial{0};
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0;; i++) {
      path_ = base / ("keldrun_settings_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                      "_" + std::to_string(serial++) + "_" + std::to_string(i));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) break;
    }
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

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

inline bool writeText(const std::string& path, const std::string& text) {
  return writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
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

// Writes snapshot `number` into the data folder of settings and enters it in the catalog.
inline SnapshotInfo addSnapshotTo(Settings* settings, int32_t number, const std::string& name) {
  makeFolders(settings->dataFolder());
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {u"c:\\windows\\"}, {}};
  EXPECT_TRUE(makeSnapshotFile(settings->snapshotPath(number).path, number, name, lists, &info));
  settings->addSnapshot(info);
  return info;
}

}  // namespace testing_support
}  // namespace keldrun

#endif  // KELDRUN_TESTS_SETTINGS_TESTING_H_
