// Fuzzes the value table reader and every text form of the values it yields.
//
// Input: two bytes for the display limits, then the entries of a value table block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/value_entry.h"
#include "engine/value_text.h"

namespace {

class BlockReader : public keldrun::ValueListReader {
 public:
  size_t step(const uint8_t* p, size_t remaining) const { return stepSize(p, remaining); }
};

void render(const keldrun::ValueEntry& v, const keldrun::DisplayLimits& limits) {
  keldrun::valueName(v);
  keldrun::typeName(v);
  keldrun::displayText(v, limits);
  keldrun::searchText(v);
  keldrun::regNamePart(v, true);
  keldrun::regValueLine(v);
  keldrun::valueRawData(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  keldrun::DisplayLimits limits;
  if (data[0] != 0xFF) limits.binaryBytes = data[0];
  if (data[1] != 0xFF) limits.stringChars = data[1];
  // The block as readBlock gives it: the entries, then the one extra byte.
  std::vector<uint8_t> block(data + 2, data + size);
  size_t length = block.size();
  block.push_back(0);
  BlockReader reader;
  std::vector<keldrun::Item> items;
  size_t pos = 0;
  while (pos < length) {
    size_t step = reader.step(block.data() + pos, length - pos);
    if (step == 0 || step > length - pos) break;
    items.push_back({block.data() + pos, step});
    pos += step;
  }
  for (size_t i = 0; i < items.size(); i++) {
    keldrun::ValueEntry v;
    if (keldrun::parseValueEntry(items[i].p, items[i].size, &v)) render(v, limits);
    const keldrun::Item& other = items[(i + 1) % items.size()];
    reader.order(items[i], other);
    reader.differs(items[i], other);
  }
  // Every entry parsed straight from the unstepped bytes too.
  keldrun::ValueEntry v;
  if (keldrun::parseValueEntry(data + 2, size - 2, &v)) render(v, limits);
  return 0;
}
