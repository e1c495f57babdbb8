#include "toolkit/layout_model.h"

#include <utility>

namespace keldrun {

namespace {

// One axis of an anchored control whose parent grew by `delta` (negative when it shrank):
// moving keeps both edges' distance from the parent's far edge; growing keeps only the far
// edge's, and never lets it pass the near edge when the parent becomes very small.
void anchorAxis(int* nearEdge, int* farEdge, int delta, bool move, bool grow) {
  if (move) {
    *nearEdge += delta;
    *farEdge += delta;
  } else if (grow) {
    *farEdge += delta;
    if (*farEdge < *nearEdge) *farEdge = *nearEdge;
  }
}

}  // namespace

void AnchorLayout::add(uintptr_t key, int flags, const LayoutRect& rect) {
  Entry e{key, flags, rect, started_, width_, height_};
  for (Entry& old : entries_) {
    if (old.key == key) {
      old = e;
      return;
    }
  }
  entries_.push_back(e);
}

bool AnchorLayout::apply(int width, int height, std::vector<Placement>* out) {
  out->clear();
  if (!started_) {
    started_ = true;
    width_ = width;
    height_ = height;
    for (Entry& e : entries_) {
      if (!e.based) {
        e.based = true;
        e.baseWidth = width;
        e.baseHeight = height;
      }
    }
    return false;
  }
  width_ = width;
  height_ = height;
  for (const Entry& e : entries_) {
    LayoutRect r = e.rect;
    anchorAxis(&r.left, &r.right, width - e.baseWidth, (e.flags & kAnchorMoveRight) != 0,
               (e.flags & kAnchorGrowRight) != 0);
    anchorAxis(&r.top, &r.bottom, height - e.baseHeight, (e.flags & kAnchorMoveDown) != 0,
               (e.flags & kAnchorGrowBottom) != 0);
    out->push_back({e.key, r});
  }
  return true;
}

void TabStripLayout::setTabs(std::vector<int> textWidths) {
  widths_ = std::move(textWidths);
  for (int& w : widths_) w += kTabTextPadding;
  first_ = 0;
  layout(width_, height_);
}

int TabStripLayout::totalWidth() const {
  int total = 0;
  for (int w : widths_) total += w;
  return total;
}

void TabStripLayout::layout(int width, int height) {
  width_ = width;
  height_ = height;
  scroll_ = totalWidth() > width;
  if (!scroll_) first_ = 0;
  if (first_ >= widths_.size()) first_ = widths_.empty() ? 0 : widths_.size() - 1;
}

LayoutRect TabStripLayout::leftButton() const {
  if (!scroll_) return LayoutRect();
  return LayoutRect{0, 0, height_, height_};
}

LayoutRect TabStripLayout::rightButton() const {
  if (!scroll_) return LayoutRect();
  return LayoutRect{width_ - height_, 0, width_, height_};
}

LayoutRect TabStripLayout::tabRect(size_t index) const {
  if (index >= widths_.size() || index < first_) return LayoutRect();
  int x = scroll_ ? height_ : 0;
  int limit = scroll_ ? width_ - height_ : width_;
  for (size_t i = first_; i < index; ++i) x += widths_[i];
  if (x >= limit) return LayoutRect();
  int right = x + widths_[index];
  if (right > limit) right = limit;
  return LayoutRect{x, 0, right, height_};
}

int TabStripLayout::hitTest(int x, int y) const {
  if (scroll_ && (leftButton().contains(x, y) || rightButton().contains(x, y))) return -1;
  for (size_t i = first_; i < widths_.size(); ++i) {
    if (tabRect(i).contains(x, y)) return int(i);
  }
  return -1;
}

bool TabStripLayout::scrollLeft() {
  if (!scroll_ || first_ == 0) return false;
  --first_;
  return true;
}

bool TabStripLayout::scrollRight() {
  if (!scroll_ || first_ + 1 >= widths_.size()) return false;
  ++first_;
  return true;
}

SortArrow sortArrow(const LayoutRect& item, bool ascending) {
  SortArrow a;
  int h = item.height();
  int q = h / 4;
  // The arrow lives in a square as high as the item at its right end; the triangle is inset by
  // a quarter of the height from that square's edges, and the text stops where it begins.
  a.arrowArea = LayoutRect{item.right - h + q, item.top + q, item.right - q, item.bottom - q};
  if (a.arrowArea.left < item.left) a.arrowArea.left = item.left;
  a.textArea = item;
  a.textArea.right = a.arrowArea.left;
  int left = a.arrowArea.left, right = a.arrowArea.right;
  int top = a.arrowArea.top, bottom = a.arrowArea.bottom;
  int mid = (left + right) / 2;
  if (ascending) {
    a.x[0] = mid, a.y[0] = top;
    a.x[1] = right, a.y[1] = bottom;
    a.x[2] = left, a.y[2] = bottom;
  } else {
    a.x[0] = left, a.y[0] = top;
    a.x[1] = right, a.y[1] = top;
    a.x[2] = mid, a.y[2] = bottom;
  }
  return a;
}

MenuItemSize menuItemSize(bool separator, int textWidth) {
  if (separator) return {kMenuTextLeft, kMenuSeparatorHeight};
  return {textWidth + 30, kMenuItemHeight};
}

ButtonContent buttonContent(const LayoutRect& client, bool hasIcon, bool hasText, bool pressed,
                            int iconSize) {
  ButtonContent c;
  int shift = pressed ? 1 : 0;
  int iconX = hasText ? client.left + 6 : client.left + (client.width() - iconSize) / 2;
  c.iconX = iconX + shift;
  c.iconY = client.top + (client.height() - iconSize) / 2 + shift;
  c.text = client;
  c.centreText = !hasIcon;
  if (hasIcon) c.text.left = iconX + 16;
  c.text.left += shift;
  c.text.right += shift;
  c.text.top += shift;
  c.text.bottom += shift;
  c.focus = LayoutRect{client.left + 2, client.top + 2, client.right - 2, client.bottom - 2};
  return c;
}

int clampSplitter(int position, int extent, int barSize, int minPane) {
  int high = extent - barSize - minPane;
  if (position > high) position = high;
  if (position < minPane) position = minPane;
  return position;
}

}  // namespace keldrun
