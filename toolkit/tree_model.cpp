#include "toolkit/tree_model.h"

namespace keldrun {

const ItemColourMap::Look* ItemColourMap::find(uintptr_t item) const {
  const auto& b = buckets_[bucketOf(item)];
  auto it = b.find(item);
  return it == b.end() ? nullptr : &it->second;
}

void ItemColourMap::setColour(uintptr_t item, Colour colour) { buckets_[bucketOf(item)][item].colour = colour; }
void ItemColourMap::setBold(uintptr_t item, bool bold) { buckets_[bucketOf(item)][item].bold = bold; }

Colour ItemColourMap::colour(uintptr_t item) const {
  const Look* e = find(item);
  return e ? e->colour : rgb(0, 0, 0);
}

bool ItemColourMap::bold(uintptr_t item) const {
  const Look* e = find(item);
  return e && e->bold;
}

bool ItemColourMap::has(uintptr_t item) const { return find(item) != nullptr; }

void ItemColourMap::erase(uintptr_t item) { buckets_[bucketOf(item)].erase(item); }

void ItemColourMap::clear() {
  for (auto& b : buckets_) b.clear();
}

size_t ItemColourMap::size() const {
  size_t n = 0;
  for (const auto& b : buckets_) n += b.size();
  return n;
}

}  // namespace keldrun
