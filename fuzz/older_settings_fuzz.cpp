// The reader of an older installation's "Keldrun.ini" on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "workspace/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return 0;
  keldrun::OlderSettings o = keldrun::readOlderSettings(f, "FUZZ");
  std::fclose(f);
  if (!o.ok && !o.records.empty()) __builtin_trap();
  if (o.records.size() > size / 8) __builtin_trap();  // a record takes at least four "=\n" lines
  return 0;
}
