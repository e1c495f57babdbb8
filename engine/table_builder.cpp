#include <algorithm>

#include "engine/snapshot.h"
#include "engine/snapshot_format.h"

namespace keldrun {

size_t TableBuilder::add(const uint8_t* bytes, size_t n) {
  size_t index = starts_.size();
  starts_.push_back(uint32_t(bytes_.size()));
  bytes_.insert(bytes_.end(), bytes, bytes + n);
  if (sorted_) order_.push_back(uint32_t(index));
  return index;
}

size_t TableBuilder::addTreeEntry(const std::u16string& name) {
  size_t index = starts_.size();
  starts_.push_back(uint32_t(bytes_.size()));
  bytes_.resize(bytes_.size() + kTreeNameLength, 0);
  appendStoredName(&bytes_, name);
  if (sorted_) order_.push_back(uint32_t(index));
  return index;
}

void TableBuilder::setTreeFields(size_t i, uint32_t childHash, uint32_t contentHash,
                                 uint32_t childTable, uint32_t contentTable) {
  uint8_t* p = entry(i);
  putU32(p + kTreeChildHash, childHash);
  putU32(p + kTreeContentHash, contentHash);
  putU32(p + kTreeChildTable, childTable);
  putU32(p + kTreeContentTable, contentTable);
}

size_t TableBuilder::entrySize(size_t i) const {
  size_t end = i + 1 < starts_.size() ? starts_[i + 1] : bytes_.size();
  return end - starts_[i];
}

void TableBuilder::sortByName(StoredText (*nameOf)(const uint8_t* entry)) {
  size_t n = starts_.size();
  order_.resize(n);
  for (size_t i = 0; i < n; i++) order_[i] = uint32_t(i);
  const uint8_t* base = bytes_.data();
  const uint32_t* starts = starts_.data();
  std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) {
    int c = compareStored(nameOf(base + starts[a]), nameOf(base + starts[b]));
    return c != 0 ? c < 0 : a < b;
  });
  sorted_ = true;
}

void TableBuilder::serialize(std::vector<uint8_t>* out) const {
  if (!sorted_) {
    out->insert(out->end(), bytes_.begin(), bytes_.end());
    return;
  }
  size_t at = out->size();
  out->resize(at + bytes_.size());
  uint8_t* p = out->data() + at;
  for (uint32_t i : order_) {
    size_t n = entrySize(i);
    std::copy(bytes_.data() + starts_[i], bytes_.data() + starts_[i] + n, p);
    p += n;
  }
}

void TableBuilder::clear() {
  bytes_.clear();
  starts_.clear();
  order_.clear();
  sorted_ = false;
}

StoredText treeEntryName(const uint8_t* entry) {
  StoredText t;
  t.bytes = entry + kTreeEntryFixed;
  decodeTextLength(getU16(entry + kTreeNameLength), &t.chars, &t.wide);
  return t;
}

}  // namespace keldrun
