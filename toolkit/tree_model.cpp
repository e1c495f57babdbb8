#include "toolkit/tree_model.h"

namespace keldrun {

ItemColourMap::Entry* ItemColourMap::find(uintptr_t item) {
  for (Entry& e : buckets_[bucketOf(item)]) {
    if (e.item == item) return &e;
  }
  return nullptr;
}

const ItemColourMap::Entry* ItemColourMap::find(uintptr_t item) const {
  for (const Entry& e : buckets_[bucketOf(item)]) {
    if (e.item == item) return &e;
  }
  return nullptr;
}

ItemColourMap::Entry& ItemColourMap::slot(uintptr_t item) {
  if (Entry* e = find(item)) return *e;
  buckets_[bucketOf(item)].push_back({item, rgb(0, 0, 0), false});
  return buckets_[bucketOf(item)].back();
}

void ItemColourMap::setColour(uintptr_t item, Colour colour) { slot(item).colour = colour; }
void ItemColourMap::setBold(uintptr_t item, bool bold) { slot(item).bold = bold; }

Colour ItemColourMap::colour(uintptr_t item) const {
  const Entry* e = find(item);
  return e ? e->colour : rgb(0, 0, 0);
}

bool ItemColourMap::bold(uintptr_t item) const {
  const Entry* e = find(item);
  return e && e->bold;
}

bool ItemColourMap::has(uintptr_t item) const { return find(item) != nullptr; }

void ItemColourMap::erase(uintptr_t item) {
  std::vector<Entry>& b = buckets_[bucketOf(item)];
  for (size_t i = 0; i < b.size(); ++i) {
    if (b[i].item == item) {
      b[i] = b.back();
      b.pop_back();
      return;
    }
  }
}

void ItemColourMap::clear() {
  for (auto& b : buckets_) b.clear();
}

size_t ItemColourMap::size() const {
  size_t n = 0;
  for (const auto& b : buckets_) n += b.size();
  return n;
}

}  // namespace keldrun
