// What the coloured tree keeps apart from the tree view itself.
#ifndef KELDRUN_TOOLKIT_TREE_MODEL_H_
#define KELDRUN_TOOLKIT_TREE_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "toolkit/scheme_model.h"

namespace keldrun {

// Text colour and boldness per tree item, keyed by the item handle. 17 buckets chosen by the
// handle divided by 16 (handles are aligned pointers) modulo 17, each a hash map, so that a look
// is found in constant time however many items a tree colours. An item without an entry is
// black and not bold.
class ItemColourMap {
 public:
  static constexpr size_t kBuckets = 17;
  static size_t bucketOf(uintptr_t item) { return (item / 16) % kBuckets; }

  void setColour(uintptr_t item, Colour colour);
  void setBold(uintptr_t item, bool bold);
  Colour colour(uintptr_t item) const;
  bool bold(uintptr_t item) const;
  // True when the item has an entry (its text must be drawn again in its own look).
  bool has(uintptr_t item) const;
  void erase(uintptr_t item);
  void clear();
  size_t size() const;

 private:
  struct Look {
    Colour colour = 0;
    bool bold = false;
  };
  const Look* find(uintptr_t item) const;
  std::unordered_map<uintptr_t, Look> buckets_[kBuckets];
};

// Check states of the tree's state images: state image index = check state + 1.
constexpr int kCheckUnchecked = 0;
constexpr int kCheckChecked = 1;
constexpr int kCheckPartial = 2;
inline int checkFromStateImage(int stateImage) { return stateImage - 1; }
inline int stateImageFromCheck(int check) { return check + 1; }
// The state image a click on an item's state image moves it to: the next one, and after the
// last of the list's imageCount images (image 0, none, not counted) the first again. Without a
// count it just moves on.
inline int nextStateImage(int image, int imageCount) {
  return imageCount > 0 && image >= imageCount ? 1 : image + 1;
}

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_TREE_MODEL_H_
