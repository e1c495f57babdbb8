// The registry scan: walks the registry roots (all of them, or the keys of a scan filter) on
// one worker thread and writes the key tree into section 0 of a snapshot file.
//
// Keys are TreeEntry records whose child table holds the subkeys and whose content table holds
// the values (engine/value_entry.h). A key's value table is written when the key is opened,
// its subkey table once all its subkeys are done, so only the tables of the keys on the
// current path are in memory. Unreadable keys are recorded with zero digests and no tables;
// nothing is reported. Every key is recorded by the name the registry holds it under, the keys
// that lower-case filter items lead to included; only a key the registry does not hold keeps
// the item's text.
#ifndef KELDRUN_ENGINE_REGISTRY_SCAN_H_
#define KELDRUN_ENGINE_REGISTRY_SCAN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/snapshot.h"
#include "engine/worker.h"
#include "platform/env.h"

namespace keldrun {

// The hive table: the names under which the roots are stored, by kHive* index.
extern const char16_t* const kHiveNames[kHiveCount];

// The kHive* index of a hive name, compared case-insensitively; -1 when it is none of them.
int hiveIndex(const std::u16string& name);

// Opens a key path "HIVE\sub\key\" for reading: the part before the first '\' names the hive
// (case-insensitive), the rest is opened below it (a trailing '\' is allowed). Null when the
// hive is unknown or the key cannot be opened.
std::unique_ptr<RegistryKey> openKeyPath(Env* env, const std::u16string& path);

// Keys deeper than this below their root are recorded by name with zero digests and counted as
// cut, so that a loop of registry links cannot make the walk endless.
constexpr size_t kMaxKeyDepth = 512;

// One registry scan. Reusable once its thread has ended.
class RegistryStore {
 public:
  explicit RegistryStore(Env* env);
  // Stops a running scan and waits for it.
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Counts one scan into file's running-scan count and starts the registry thread on filter
  // (lower-case key paths ending in '\', or the single item "*" for every root). The thread
  // lowers the count as its last step. False (with the count lowered again) when the thread
  // cannot be created or a scan of this store is still running.
  bool startRegistryScan(SnapshotFile* file, const FilterList& filter);
  // Asks the thread to stop and waits until it has ended.
  void stopRegistryScan();
  bool isRunning() const { return worker_.isRunning(); }

  // The same scan on the calling thread (no running-scan count): for tests and tools.
  void scan(SnapshotFile* file, const FilterList& filter);

  // Subkeys enumerated and values recorded since the scan started.
  uint32_t keys() const { return keys_.get(); }
  uint32_t values() const { return values_.get(); }
  // Keys below kMaxKeyDepth, recorded by name and not opened.
  uint32_t cut() const { return cut_.get(); }

 private:
  struct Fields {
    uint32_t childHash = 0, contentHash = 0, childTable = 0, contentTable = 0;
  };

  static void threadMain(WorkerThread* self);
  void run();
  void scanList(const FilterList& items);
  void walkFilter(const FilterList& items, size_t* current, size_t index, Fields* target);
  void scanKey(RegistryKey* key, size_t depth, Fields* target);
  void recordValues(RegistryKey* key, Fields* target);
  TableBuilder* tableAt(size_t depth);
  bool stopRequested() const;

  Env* env_;
  SnapshotFile* file_ = nullptr;
  FilterList filter_;
  Counter keys_;
  Counter values_;
  Counter cut_;
  WorkerThread worker_;
  bool onWorker_ = false;
  // Reused for every key: the key tables by depth, the value entries, a value's name and data.
  std::vector<std::unique_ptr<TableBuilder>> tables_;
  TableBuilder valueTable_;
  std::vector<uint8_t> entryBytes_;
  std::u16string valueName_;
  std::vector<uint8_t> valueData_;
};

// The filter list the scan walks: lower-cased, sorted, without repeats and without items that
// an earlier item already covers ("hkey_local_machine\software\x\" under
// "hkey_local_machine\software\"). A list whose first item begins with '*' stays ["*"].
FilterList normalizeRegistryFilter(const FilterList& filter);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_REGISTRY_SCAN_H_
