// A map from file offsets (non-zero 32-bit keys) to 32-bit values in one flat array.
#ifndef KELDRUN_BASE_OFFSET_MAP_H_
#define KELDRUN_BASE_OFFSET_MAP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keldrun {

// Open addressing with linear probing over a power-of-two table kept at most three quarters
// full. A reader that records every table of a large snapshot inserts hundreds of thousands of
// keys; a node allocated per key, as a node-based map does, cost more than the rest of the
// work, and so did the first touch of the pages of a table kept half empty (the probes of a
// fuller one stay within a cache line or two).
class OffsetMap {
 public:
  // The value held for key (not 0); when key is absent, it is entered with `value` first.
  uint32_t insert(uint32_t key, uint32_t value) {
    if (4 * (used_ + 1) > 3 * slots_.size()) grow();
    size_t mask = slots_.size() - 1;
    for (size_t i = slot(key, mask);; i = (i + 1) & mask) {
      uint64_t s = slots_[i];
      if (s == 0) {
        slots_[i] = uint64_t(key) << 32 | value;
        used_++;
        return value;
      }
      if (uint32_t(s >> 32) == key) return uint32_t(s);
    }
  }
  size_t size() const { return used_; }
  // Empties the map and gives its memory back.
  void clear() {
    std::vector<uint64_t>().swap(slots_);
    used_ = 0;
  }

 private:
  // Fibonacci hashing: offsets of tables share their low bits, the product's high bits do not.
  static size_t slot(uint32_t key, size_t mask) {
    return size_t((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 32) & mask;
  }
  void grow() {
    std::vector<uint64_t> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
    size_t mask = slots_.size() - 1;
    for (uint64_t s : old) {
      if (s == 0) continue;
      size_t i = slot(uint32_t(s >> 32), mask);
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  std::vector<uint64_t> slots_;  // key << 32 | value; 0: an empty slot
  size_t used_ = 0;
};

}  // namespace keldrun

#endif  // KELDRUN_BASE_OFFSET_MAP_H_
