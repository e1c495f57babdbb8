// The noise list reader on arbitrary text, the prefix tree compiled from what it read, matching
// against paths cut from the same input, and the round trip of the list through its own text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "workspace/noise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keldrun;
  std::string text(reinterpret_cast<const char*>(data), size);
  NoiseList list;
  std::vector<std::string> problems;
  list.parse(text, "fuzz", &problems);
  std::vector<std::u16string> entries = list.entries();
  NoiseMatcher matcher(entries);
  // Every line, read as a path, is matched whole and step by step; the two must agree, and an
  // entry always hides its own path unless it names or leads to a never-hidden location.
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::u16string path = fromUtf8(text.substr(at, std::min<size_t>(end - at, 512)));
    at = end + 1;
    NoiseMark stepped = matcher.top();
    for (const std::u16string& c : splitNonEmpty(path, u'\\')) stepped = matcher.step(stepped, c);
    if (stepped.hidden() != matcher.markOf(path).hidden()) __builtin_trap();
  }
  // The text reads back to the same entries; a removed entry can be added again.
  NoiseList back;
  back.parse(list.text(), "fuzz", nullptr);
  if (back.entries() != entries) __builtin_trap();
  if (!entries.empty()) {
    std::u16string first = entries.front();
    if (!back.remove(first)) __builtin_trap();
    back.add(first, "again");
    if (!back.contains(first)) __builtin_trap();
  }
  return 0;
}
