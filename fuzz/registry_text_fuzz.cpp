// Fuzzes the registry text loaders: Wine hive files and registry editor files, then walks the
// registry they built through the seam's keys.
//
// Input: one byte choosing the loader (even: hive file, odd: registry editor file), then the
// file's bytes. Hive input gets its magic line prepended half of the time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory_registry.h"

namespace {

void walk(keldrun::RegistryKey* key, int depth, int* budget) {
  uint32_t maxName = 0, maxData = 0;
  key->queryInfo(&maxName, &maxData);
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
  for (uint32_t i = 0; key->enumValue(i, &name, &type, &data) && --*budget > 0; i++) {
  }
  if (depth > 40) return;
  for (uint32_t i = 0; key->enumKey(i, &name) && --*budget > 0; i++) {
    std::unique_ptr<keldrun::RegistryKey> sub = key->openSubKey(name);
    if (sub) walk(sub.get(), depth + 1, budget);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::shared_ptr<keldrun::MemoryRegistry> reg = keldrun::MemoryRegistry::create();
  std::string error;
  if (data[0] & 1) {
    reg->applyReg(text, &error);
  } else {
    if (data[0] & 2) text = "WINE REGISTRY Version 2\n" + text;
    reg->loadHive(text, (data[0] & 4) ? u"Machine" : u"", nullptr, &error);
  }
  int budget = 20000;
  for (int hive = 0; hive < keldrun::kHiveCount; hive++) {
    std::unique_ptr<keldrun::RegistryKey> root = reg->openHive(hive);
    if (root) walk(root.get(), 0, &budget);
  }
  return 0;
}
