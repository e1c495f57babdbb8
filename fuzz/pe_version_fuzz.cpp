// Fuzz target for the version-resource reader: whole images (headers, section table, resource
// directory) and bare version blocks.
#include <cstddef>
#include <cstdint>

#include "platform/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  keldrun::FileVersionInfo info;
  keldrun::readPeVersion(data, size, &info);
  keldrun::parseVersionResource(data, size, &info);
  return 0;
}
