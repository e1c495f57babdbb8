// The flat map of table claims against a node-based map, over keys that share their low bits
// (table offsets do) and across many growths.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>

#include "base/offset_map.h"

namespace keldrun {
namespace {

TEST(OffsetMap, KeepsTheFirstValueOfEveryKeyAcrossGrowthLikeAMap) {
  struct Case {
    const char* keys;
    uint32_t step;  // keys are multiples of step, or random when 0
  } cases[] = {{"consecutive", 1}, {"4 KiB apart", 4096}, {"1 MiB apart", 1u << 20}, {"random", 0}};
  for (const Case& c : cases) {
    OffsetMap map;
    std::unordered_map<uint32_t, uint32_t> reference;
    std::mt19937 random(7);
    for (uint32_t i = 1; i <= 200000; i++) {
      uint32_t key = c.step ? (i % 150000 + 1) * c.step : random() % 300000 + 1;
      uint32_t value = random();
      auto [it, added] = reference.emplace(key, value);
      ASSERT_EQ(map.insert(key, value), it->second) << c.keys << " key " << key << (added ? " new" : " again");
    }
    EXPECT_EQ(map.size(), reference.size()) << c.keys;
    for (const auto& [key, value] : reference) ASSERT_EQ(map.insert(key, value + 1), value) << c.keys;
    EXPECT_EQ(map.size(), reference.size()) << c.keys;
    map.clear();
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.insert(c.step ? c.step : 5, 9), 9u) << "a cleared map holds nothing";
    EXPECT_EQ(map.insert(~uint32_t(0), 3), 3u) << "the largest key";
    EXPECT_EQ(map.insert(~uint32_t(0), 4), 3u);
  }
}

}  // namespace
}  // namespace keldrun
