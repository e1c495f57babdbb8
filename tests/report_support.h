// Snapshots for the report, .reg export and search tests: a registry from a MemoryRegistry
// recorded by the real registry scan, folders written as the files scan writes them, and
// application groups, all in one real snapshot file.
#ifndef KELDRUN_TESTS_REPORT_SUPPORT_H_
#define KELDRUN_TESTS_REPORT_SUPPORT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/app_record.h"
#include "engine/registry_scan.h"
#include "engine/snapshot.h"
#include "platform/memory_registry.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"

namespace keldrun {
namespace report_testing {

using testing_support::DirSpec;
using testing_support::FileSpec;
using testing_support::readText;
using testing_support::TempFolder;
using testing_support::utf16;

struct AppGroup {
  std::u16string name;  // "Startup", "Services", "Drivers"
  std::vector<AppRecord> records;
};

struct SnapSpec {
  std::string name = "snap";
  int32_t number = 1;
  std::shared_ptr<MemoryRegistry> registry;  // null: registry not scanned
  FilterList registryFilter = {u"*"};
  std::vector<DirSpec> drives;               // empty: files not scanned
  std::vector<AppGroup> apps;                // empty: applications not scanned
  bool oldDigests = false;                   // written as older versions did: no names marker
};

inline bool writeSnapshot(const std::string& path, const SnapSpec& spec) {
  SnapshotFile file;
  if (!file.create(path)) return false;
  if (spec.oldDigests) file.writeOldDigestsForTest();
  FilterList lists[kSectionCount];
  if (spec.registry) {
    MemoryRegistryEnv env(spec.registry);
    RegistryStore store(&env);
    lists[kSectionRegistry] = normalizeRegistryFilter(spec.registryFilter);
    store.scan(&file, lists[kSectionRegistry]);
  }
  for (const DirSpec& d : spec.drives) {
    testing_support::Written w = testing_support::writeDir(&file, d);
    file.addRoot(kSectionFiles, d.name, w.childHash, w.contentHash, w.childTable, w.contentTable);
  }
  if (!spec.drives.empty()) lists[kSectionFiles] = {u"*"};
  for (const AppGroup& g : spec.apps) {
    std::vector<uint8_t> entries;
    uint32_t digest = 0;
    buildGroupTable(g.records, &entries, &digest);
    uint32_t table = entries.empty() ? 0 : file.appendTable(entries.data(), entries.size());
    file.addRoot(kSectionApps, g.name, 0, digest, 0, table);
  }
  if (!spec.apps.empty()) lists[kSectionApps] = {u"*"};
  SnapshotInfo info;
  info.fillNew(spec.name, spec.number, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// A UTF-16LE file after its byte order mark, as UTF-8 (characters below 256 byte for byte is
// enough for the checks). Empty and a failed expectation when there is no mark.
inline std::string readUtf16(const std::string& path) {
  std::string bytes = readText(path);
  EXPECT_GE(bytes.size(), 2u) << path;
  if (bytes.size() < 2) return std::string();
  EXPECT_EQ(uint8_t(bytes[0]), 0xFF) << path;
  EXPECT_EQ(uint8_t(bytes[1]), 0xFE) << path;
  EXPECT_EQ(bytes.size() % 2, 0u) << path;
  std::u16string wide;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    wide.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
  }
  return toUtf8(wide);
}

// Makes the table at offset unreadable, as damage does: its length word runs past the end of
// the file.
inline bool cutTableShort(const std::string& path, uint32_t offset) {
  std::vector<uint8_t> bytes = testing_support::readBytes(path);
  if (offset == 0 || size_t(offset) + 4 > bytes.size()) return false;
  const uint32_t pastTheEnd = 0x7FFFFFF0;
  for (int i = 0; i < 4; i++) bytes[offset + size_t(i)] = uint8_t(pastTheEnd >> (8 * i));
  return testing_support::writeBytes(path, bytes);
}

inline size_t countOf(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) n++;
  return n;
}

}  // namespace report_testing
}  // namespace keldrun

#endif  // KELDRUN_TESTS_REPORT_SUPPORT_H_
