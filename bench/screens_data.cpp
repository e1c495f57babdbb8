// Writes the workspace of the screens benchmark (bench/screens.sh): two snapshots of 1,000,000
// files and 200,000 keys made through the engine's writer, entered in a catalog.
//   screens_data HOME
// With --expand, the workspace of bench/screens.sh --expand instead: one snapshot of the registry
// tree of bench/tree_shape.h, each key with one value.
//   screens_data HOME --expand
// Registry: HKEY_LOCAL_MACHINE\SOFTWARE\Vendor000..199, each with 1,000 keys of two values.
// Files: C:\big with 50,000 files, C:\tree\d000..d949 with 1,000 files each. The second snapshot
// changes one key's value in each of ten vendors, adds a key, changes every 1,000th file's size
// and adds ten files to C:\big.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/tree_shape.h"
#include "tests/compare_support.h"
#include "workspace/settings.h"

using namespace keldrun;
using testing_support::DirSpec;
using testing_support::FileSpec;
using testing_support::KeySpec;
using testing_support::ValueSpec;
using testing_support::Written;

namespace {

std::u16string numbered(const char* prefix, int n, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%0*d", prefix, digits, n);
  std::string s = buf;
  return std::u16string(s.begin(), s.end());
}

ValueSpec text(const std::u16string& name, const std::string& value) {
  ValueSpec v;
  v.name = name;
  v.type = 1;  // REG_SZ
  for (char c : value + '\0') {
    v.data.push_back(uint8_t(c));
    v.data.push_back(0);
  }
  return v;
}

KeySpec registry(bool second) {
  KeySpec software{u"SOFTWARE", {}, {}};
  for (int v = 0; v < 200; v++) {
    KeySpec vendor{numbered("Vendor", v, 3), {}, {}};
    vendor.keys.reserve(1001);
    for (int k = 0; k < 1000; k++) {
      bool changed = second && v < 10 && k == 0;
      vendor.keys.push_back({numbered("Key", k, 4), {},
                             {text(u"Path", "C:\\Program Files\\Vendor\\file" + std::to_string(k) + ".dll"),
                              text(u"Version", changed ? "2.0" : "1.0")}});
    }
    if (second && v == 0) vendor.keys.push_back({u"Added", {}, {text(u"New", "yes")}});
    software.keys.push_back(std::move(vendor));
  }
  return KeySpec{u"HKEY_LOCAL_MACHINE", {software}, {}};
}

DirSpec files(bool second) {
  const uint64_t kTime = 132500000000000000ull;
  DirSpec big{u"big", {}, {}};
  big.files.reserve(50010);
  for (int f = 0; f < 50000; f++) {
    big.files.push_back({numbered("file", f, 5) + u".dat", kTime, uint64_t(f) + ((second && f % 1000 == 0) ? 1 : 0)});
  }
  if (second) {
    for (int f = 0; f < 10; f++) big.files.push_back({numbered("added", f, 2) + u".dat", kTime, 7});
  }
  DirSpec tree{u"tree", {}, {}};
  for (int d = 0; d < 950; d++) {
    DirSpec folder{numbered("d", d, 3), {}, {}};
    folder.files.reserve(1000);
    for (int f = 0; f < 1000; f++) {
      bool changed = second && f == 0;
      folder.files.push_back({numbered("f", f, 4) + u".txt", kTime, uint64_t(100 + f) + (changed ? 1 : 0)});
    }
    tree.dirs.push_back(std::move(folder));
  }
  return DirSpec{u"C:\\", {big, tree}, {}};
}

KeySpec shapedKey(int depth, int i) {
  std::string n = tree_shape::name(depth, i);
  KeySpec key{std::u16string(n.begin(), n.end()), {}, {text(u"Data", n)}};
  for (int c = 0; c < tree_shape::kChildren[depth]; c++) key.keys.push_back(shapedKey(depth + 1, c));
  return key;
}

// The files section only when there is a drive to write.
bool writeSnapshot(Settings* settings, const std::string& name, const KeySpec& hive, const DirSpec* drive) {
  int32_t number = settings->catalog().nextNumber();
  std::string path = settings->catalog().snapshotPath(number).path;
  SnapshotFile file;
  if (!file.create(path)) return false;
  Written r = testing_support::writeKeyTree(&file, hive);
  file.addRoot(kSectionRegistry, hive.name, r.childHash, r.contentHash, r.childTable, r.contentTable);
  if (drive) {
    Written f = testing_support::writeDir(&file, *drive);
    file.addRoot(kSectionFiles, drive->name, f.childHash, f.contentHash, f.childTable, f.contentTable);
  }
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {}, {}};
  if (drive) lists[kSectionFiles] = {u"*"};
  info.fillNew(name, number, lists);
  if (!file.finish(&info) || !file.close()) return false;
  SnapshotFile check;
  SnapshotInfo stored;
  if (!check.open(path, &stored)) return false;
  settings->catalog().addSnapshot(stored);
  return true;
}

bool writeScreensWorkspace(Settings* settings) {
  DirSpec before = files(false), after = files(true);
  return writeSnapshot(settings, "before", registry(false), &before) &&
         writeSnapshot(settings, "after", registry(true), &after);
}

}  // namespace

int main(int argc, char** argv) {
  bool expand = argc == 3 && std::string(argv[2]) == "--expand";
  if (argc != 2 && !expand) {
    std::fprintf(stderr, "usage: screens_data HOME [--expand]\n");
    return 2;
  }
  std::string home = std::string(argv[1]) + "/";
  Settings settings(home);
  settings.ensureLoaded();
  auto start = std::chrono::steady_clock::now();
  bool written = expand ? writeSnapshot(&settings, "keys", shapedKey(0, 0), nullptr) : writeScreensWorkspace(&settings);
  if (!written || !settings.save()) {
    std::fprintf(stderr, "screens_data: cannot write the workspace in %s\n", home.c_str());
    return 1;
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (expand) {
    std::printf("screens_data: one snapshot of %d keys in %s (%.1f s)\n", tree_shape::kKeys, home.c_str(), s);
    return 0;
  }
  std::printf("screens_data: two snapshots of 1,000,000 files and 200,000 keys in %s (%.1f s)\n", home.c_str(), s);
  return 0;
}
