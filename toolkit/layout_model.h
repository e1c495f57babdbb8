// Geometry decided by the toolkit's controls, apart from any window: the anchor layout, the tab
// strip, the sort arrow, the popup menu's items and the contents of a program-drawn button.
#ifndef KELDRUN_TOOLKIT_LAYOUT_MODEL_H_
#define KELDRUN_TOOLKIT_LAYOUT_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keldrun {

struct LayoutRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const LayoutRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// Anchor flags: how a control follows its parent's size.
constexpr int kAnchorGrowRight = 1;   // the right edge follows the width
constexpr int kAnchorGrowBottom = 2;  // the bottom edge follows the height
constexpr int kAnchorMoveRight = 4;   // moves horizontally with the width
constexpr int kAnchorMoveDown = 8;    // moves vertically with the height

// Keeps controls anchored while their parent resizes. Controls are named by an opaque key (a
// window handle in window code). The first apply() only records the parent's size; later calls
// move every control by the change of width and height as its flags say. A growing edge stays
// at least its first distance away from the parent's right or bottom edge.
class AnchorLayout {
 public:
  // Adds a control with its rectangle in parent client coordinates at the time of the first
  // apply(); adding a key again replaces its flags (and rectangle).
  void add(uintptr_t key, int flags, const LayoutRect& rect);
  // Returns true when the controls should be moved (not on the first call); then *out holds one
  // (key, rectangle) pair per control, in the order they were added.
  struct Placement {
    uintptr_t key;
    LayoutRect rect;
  };
  bool apply(int width, int height, std::vector<Placement>* out);
  bool started() const { return started_; }
  void reset() { started_ = false; }

 private:
  struct Entry {
    uintptr_t key;
    int flags;
    LayoutRect rect;
    bool based;  // the parent size below belongs to rect
    int baseWidth, baseHeight;
  };
  std::vector<Entry> entries_;
  bool started_ = false;
  int width_ = 0, height_ = 0;
};

// Tab strip: each tab is as wide as its text plus 16. When the tabs are wider than the strip,
// two square scroll buttons as high as the strip sit at its ends and the tabs scroll by one.
class TabStripLayout {
 public:
  void setTabs(std::vector<int> textWidths);
  // Lays out for a strip of this size and the current first visible tab.
  void layout(int width, int height);
  size_t count() const { return widths_.size(); }
  bool scrollButtonsShown() const { return scroll_; }
  LayoutRect leftButton() const;
  LayoutRect rightButton() const;
  // The tab's rectangle; empty when scrolled out of view.
  LayoutRect tabRect(size_t index) const;
  // The tab under a point, -1 when none (the scroll buttons are not tabs).
  int hitTest(int x, int y) const;
  size_t firstVisible() const { return first_; }
  // Scrolls by one tab; false when it cannot go further.
  bool scrollLeft();
  bool scrollRight();

 private:
  int totalWidth() const;
  std::vector<int> widths_;
  int width_ = 0, height_ = 0;
  bool scroll_ = false;
  size_t first_ = 0;
};

constexpr int kTabTextPadding = 16;

// The sort arrow of a sorted header item: a triangle at the item's right end, inset by a quarter
// of the item's height from the edges of a square as high as the item.
struct SortArrow {
  LayoutRect textArea;   // what is left for the item's text
  LayoutRect arrowArea;  // bounds of the triangle
  // Triangle corners: (x0,y0) (x1,y1) (x2,y2); points up for ascending, down for descending.
  int x[3], y[3];
};
SortArrow sortArrow(const LayoutRect& item, bool ascending);

// Popup menu items: 20 pixels high and as wide as their text plus 30; separators 4 high. The
// icon sits at (2, 2) inside a 20-pixel strip; the text starts 25 pixels from the left.
constexpr int kMenuItemHeight = 20;
constexpr int kMenuSeparatorHeight = 4;
constexpr int kMenuIconStrip = 20;
constexpr int kMenuTextLeft = 25;
struct MenuItemSize {
  int width, height;
};
MenuItemSize menuItemSize(bool separator, int textWidth);

// Placement of icon and text inside a program-drawn button: the icon 6 pixels from the left and
// vertically centred (centred both ways without text), the text 16 pixels further right; a
// pressed button moves both 1 pixel right and down; the focus frame is inset by 2.
struct ButtonContent {
  int iconX = 0, iconY = 0;  // valid when the button has an icon
  LayoutRect text;                 // valid when the button has text
  bool centreText = false;   // without an icon the text is centred
  LayoutRect focus;                // the focus frame
};
ButtonContent buttonContent(const LayoutRect& client, bool hasIcon, bool hasText, bool pressed,
                            int iconSize = 16);

// The splitter keeps each pane at least `minPane` wide.
int clampSplitter(int position, int extent, int barSize, int minPane);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_LAYOUT_MODEL_H_
