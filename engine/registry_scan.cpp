#include "engine/registry_scan.h"

#include <zlib.h>

#include <algorithm>

#include "engine/value_entry.h"

namespace keldrun {

const char16_t* const kHiveNames[kHiveCount] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                                 u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
                                                 u"HKEY_CURRENT_CONFIG"};

namespace {

constexpr size_t kMaxSubkeyName = 1024;
constexpr size_t kMaxValueName = 32767;
constexpr size_t kCutValueName = 1024;

bool equalsFolded(const std::u16string& a, const char16_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; i++)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return i == a.size() && b[i] == 0;
}

bool samePrefixFolded(const std::u16string& a, const std::u16string& b, size_t n) {
  if (a.size() < n || b.size() < n) return false;
  for (size_t i = 0; i < n; i++)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

std::u16string upperAscii(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
  return s;
}

uint32_t crcOf(const uint8_t* p, size_t n) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes 32-bit lengths; feed large buffers in parts.
  while (n > 0) {
    uInt part = n > 0x40000000u ? 0x40000000u : uInt(n);
    crc = crc32(crc, p, part);
    p += part;
    n -= part;
  }
  return uint32_t(crc);
}

// The name under which the registry holds the key that the filter item names by its characters
// from `index` to `slash`: the item is lower case, the key keeps the case it was created in.
std::u16string storedKeyName(Env* env, const std::u16string& item, size_t index, size_t slash) {
  NameLookup lookup(item.substr(index, slash - index));
  std::unique_ptr<RegistryKey> parent = openKeyPath(env, item.substr(0, index));
  std::u16string name;
  for (uint32_t i = 0; parent && parent->enumKey(i, &name); i++) lookup.offer(name);
  return lookup.name();
}

}  // namespace

int hiveIndex(const std::u16string& name) {
  for (int i = 0; i < kHiveCount; i++)
    if (equalsFolded(name, kHiveNames[i])) return i;
  return -1;
}

std::unique_ptr<RegistryKey> openKeyPath(Env* env, const std::u16string& path) {
  size_t slash = path.find(u'\\');
  int hive = hiveIndex(path.substr(0, slash));
  if (hive < 0) return nullptr;
  std::unique_ptr<RegistryKey> root = env->openHive(hive);
  if (!root) return nullptr;
  if (slash == std::u16string::npos) return root;
  std::u16string rest = path.substr(slash + 1);
  while (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  if (rest.empty()) return root;
  return root->openSubKey(rest);
}

FilterList normalizeRegistryFilter(const FilterList& filter) {
  if (!filter.empty() && !filter[0].empty() && filter[0][0] == u'*') return {u"*"};
  FilterList items;
  for (const std::u16string& item : filter) {
    if (item.empty()) continue;
    std::u16string s = lowerAscii(item);
    if (s.back() != u'\\') s.push_back(u'\\');
    items.push_back(s);
  }
  std::sort(items.begin(), items.end());
  FilterList out;
  for (const std::u16string& s : items) {
    if (!out.empty() && s.compare(0, out.back().size(), out.back()) == 0) continue;
    out.push_back(s);
  }
  return out;
}

RegistryStore::RegistryStore(Env* env) : env_(env) {}

RegistryStore::~RegistryStore() { stopRegistryScan(); }

bool RegistryStore::startRegistryScan(SnapshotFile* file, const FilterList& filter) {
  if (worker_.isRunning()) return false;
  file_ = file;
  filter_ = filter;
  keys_.reset();
  values_.reset();
  cut_.reset();
  file->addRunningScan();
  if (!worker_.start(&RegistryStore::threadMain, this)) {
    file->endRunningScan();
    return false;
  }
  return true;
}

void RegistryStore::stopRegistryScan() { worker_.stop(true); }

void RegistryStore::threadMain(WorkerThread* self) {
  RegistryStore* store = static_cast<RegistryStore*>(self->jobData());
  self->setRunning();
  store->onWorker_ = true;
  store->run();
  SnapshotFile* file = store->file_;
  // The file may be finished as soon as the count drops: lower it after the worker's state.
  self->setEnded();
  file->endRunningScan();
}

void RegistryStore::scan(SnapshotFile* file, const FilterList& filter) {
  file_ = file;
  filter_ = filter;
  keys_.reset();
  values_.reset();
  cut_.reset();
  onWorker_ = false;
  run();
}

bool RegistryStore::stopRequested() const { return onWorker_ && worker_.stopRequested(); }

void RegistryStore::run() {
  FilterList items = normalizeRegistryFilter(filter_);
  if (items.empty()) return;
  if (items[0][0] == u'*') {
    for (int h = 0; h < kHiveCount && !stopRequested(); h++)
      scanList({std::u16string(kHiveNames[h]) + u"\\"});
    return;
  }
  // Each run of items with the same hive part is scanned as one list.
  size_t begin = 0;
  while (begin < items.size() && !stopRequested()) {
    size_t slash = items[begin].find(u'\\');
    if (slash == std::u16string::npos) break;
    size_t end = begin + 1;
    while (end < items.size() && samePrefixFolded(items[end], items[begin], slash + 1)) end++;
    scanList(FilterList(items.begin() + long(begin), items.begin() + long(end)));
    begin = end;
  }
}

void RegistryStore::scanList(const FilterList& items) {
  size_t slash = items[0].find(u'\\');
  if (slash == std::u16string::npos) return;
  std::u16string hive = items[0].substr(0, slash);
  if (hiveIndex(hive) < 0) return;
  Fields root;
  size_t current = 0;
  walkFilter(items, &current, 0, &root);
  file_->addRoot(kSectionRegistry, upperAscii(hive), root.childHash, root.contentHash,
                 root.childTable, root.contentTable);
}

TableBuilder* RegistryStore::tableAt(size_t depth) {
  while (tables_.size() <= depth) tables_.push_back(std::make_unique<TableBuilder>());
  tables_[depth]->clear();
  return tables_[depth].get();
}

// Walks the filter paths from character `index` of the current item; the keys met on the way
// to an item record no values, the key an item names is scanned whole.
void RegistryStore::walkFilter(const FilterList& items, size_t* current, size_t index,
                               Fields* target) {
  // The level's table lives in tables_ by the depth of the path so far.
  size_t depth = size_t(std::count(items[*current].begin(), items[*current].begin() + long(index),
                                   u'\\'));
  TableBuilder* table = index == 0 ? nullptr : tableAt(depth);
  for (;;) {
    const std::u16string& item = items[*current];
    size_t slash = item.find(u'\\', index);
    if (slash == std::u16string::npos) {
      *target = Fields();
      return;
    }
    Fields child;
    size_t entry = 0;
    if (index != 0) entry = table->addTreeEntry(storedKeyName(env_, item, index, slash));
    if (slash + 1 == item.size()) {
      std::unique_ptr<RegistryKey> key = openKeyPath(env_, item);
      if (key) scanKey(key.get(), depth + 1, &child);
    } else {
      walkFilter(items, current, slash + 1, &child);
      child.contentHash = 0;
      child.contentTable = 0;
    }
    if (index == 0) {
      *target = child;
      return;
    }
    table->setTreeFields(entry, child.childHash, child.contentHash, child.childTable,
                         child.contentTable);
    size_t next = *current + 1;
    if (next < items.size() && samePrefixFolded(items[next], items[*current], index)) {
      *current = next;
      // The nested walk reused deeper tables only; this level's table is still ours.
      continue;
    }
    target->childTable = file_->writeTable(table, true, &target->childHash);
    return;
  }
}

void RegistryStore::scanKey(RegistryKey* key, size_t depth, Fields* target) {
  *target = Fields();
  recordValues(key, target);
  if (stopRequested()) return;
  TableBuilder* table = tableAt(depth);
  std::u16string name;
  uint32_t count = 0, cut = 0;
  for (uint32_t i = 0; key->enumKey(i, &name); i++) {
    if (name.size() > kMaxSubkeyName) name.resize(kMaxSubkeyName);
    size_t entry = table->addTreeEntry(name);
    count++;
    if (depth >= kMaxKeyDepth) {
      cut++;
      continue;
    }
    Fields child;
    std::unique_ptr<RegistryKey> sub = key->openSubKey(name);
    if (sub) scanKey(sub.get(), depth + 1, &child);
    table->setTreeFields(entry, child.childHash, child.contentHash, child.childTable,
                         child.contentTable);
    if (stopRequested()) break;
  }
  if (cut > 0) cut_.add(cut);
  if (count > 0) {
    keys_.add(count);
    target->childTable = file_->writeTable(table, true, &target->childHash);
  }
}

void RegistryStore::recordValues(RegistryKey* key, Fields* target) {
  uint32_t maxName, maxData;
  if (!key->queryInfo(&maxName, &maxData)) return;
  valueTable_.clear();
  uint32_t type = 0;
  uint32_t count = 0;
  for (uint32_t i = 0; key->enumValue(i, &valueName_, &type, &valueData_); i++) {
    if (valueName_.size() > kMaxValueName) valueName_.resize(kCutValueName);
    entryBytes_.clear();
    appendValueEntry(&entryBytes_, valueName_.data(), valueName_.size(), type, valueData_.data(),
                     valueData_.size());
    valueTable_.add(entryBytes_.data(), entryBytes_.size());
    count++;
  }
  if (count == 0) return;
  values_.add(count);
  valueTable_.sortByName(&valueEntryName);
  entryBytes_.clear();
  valueTable_.serialize(&entryBytes_);
  target->contentHash = crcOf(entryBytes_.data(), entryBytes_.size());
  target->contentTable = file_->appendTable(entryBytes_.data(), entryBytes_.size());
  valueTable_.clear();
}

}  // namespace keldrun
