#include "base/text_table.h"

#include <zlib.h>

#include <memory>
#include <mutex>

#include "base/text_table_data.h"

namespace keldrun {

namespace {

std::once_flag expandOnce;
std::unique_ptr<char[]> expanded;  // kTextExpandedSize bytes once expanded; never released

// The table is part of the program, so a stream that does not inflate, or an offset past the
// expanded bytes, is a build fault. Entries then read as empty rather than as stray memory.
bool expandedOk = false;

void expand() {
  expanded.reset(new char[kTextExpandedSize + 1]);
  uLongf length = uLongf(kTextExpandedSize);
  int rc = uncompress(reinterpret_cast<Bytef*>(expanded.get()), &length, kTextStream,
                      uLong(kTextStreamSize));
  expanded[kTextExpandedSize] = '\0';
  expandedOk = rc == Z_OK && length == kTextExpandedSize;
}

}  // namespace

const char* text(int index) {
  if (index < 0 || index > kTextLastEntry) return nullptr;
  std::call_once(expandOnce, expand);
  uint32_t offset = kTextOffsets[index];
  if (!expandedOk || offset >= kTextExpandedSize) return "";
  return expanded.get() + offset;
}

}  // namespace keldrun
