// The scan filter reader on arbitrary text, the selection tree built from what it read, and the
// round trip of the collected lists through the file's text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "workspace/scan_filter.h"

namespace {

class NoMachine : public keldrun::SelectionSource {
 public:
  std::vector<char16_t> fixedDrives() override { return {u'c', u'd'}; }
  std::vector<Child> children(int section, const std::u16string& path) override {
    return {{u"Sub", true}, {u"leaf", false}};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keldrun;
  std::string text(reinterpret_cast<const char*>(data), size);
  FilterList lists[kSectionCount];
  readFilterText(text, lists);
  NoMachine machine;
  SelectionTree tree(&machine, lists);
  // Expand and click among the first items (the root, the sections, the hives, the drives and
  // their first children), steered by the input's first bytes.
  for (size_t i = 0; i < 40 && i < size; i++) {
    int id = int(data[i] >> 2) % int(tree.itemCount());
    if (data[i] & 1) tree.expand(id);
    if (data[i] & 2) tree.click(id);
  }
  FilterList collected[kSectionCount];
  for (int s = 0; s < kSectionCount; s++) collected[s] = tree.collect(s);
  FilterList back[kSectionCount];
  readFilterText(filterText(collected), back);
  for (int s = 0; s < kSectionCount; s++)
    if (back[s] != collected[s]) __builtin_trap();
  return 0;
}
