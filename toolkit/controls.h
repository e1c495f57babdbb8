// The tab strip, the splitter bar, the owner-drawn popup menu and the anchor layout.
#ifndef KELDRUN_TOOLKIT_CONTROLS_H_
#define KELDRUN_TOOLKIT_CONTROLS_H_

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/button.h"
#include "toolkit/layout_model.h"

namespace keldrun {

// A row of tabs drawn as trapezoids along the top edge. Each tab is as wide as its text in the
// tab font plus 16. When the tabs do not fit, two program-drawn buttons "<" and ">" (ids 1001
// and 1002) at the ends scroll them by one. A left press on a tab selects it and calls the
// selection callback when the selection changed; a right click sends WM_NOTIFY code NM_RCLICK
// (-5) to the parent.
class CXTabStrip {
 public:
  static constexpr int kScrollLeftId = 1001;
  static constexpr int kScrollRightId = 1002;

  CXTabStrip() = default;
  ~CXTabStrip();
  CXTabStrip(const CXTabStrip&) = delete;
  CXTabStrip& operator=(const CXTabStrip&) = delete;

  bool create(HWND parent, int id, const RECT& rect);
  HWND hwnd() const { return hwnd_; }
  int addTab(const std::u16string& text);
  // Selects a tab without calling the callback.
  void selectTab(int index);
  int selected() const { return selected_; }
  size_t count() const { return texts_.size(); }
  void setSelectionCallback(std::function<void(int index)> callback) {
    onSelect_ = std::move(callback);
  }
  const TabStripLayout& layout() const { return layout_; }
  // The tab under a point of the strip's client area, -1 when none.
  int tabAt(int x, int y) const { return layout_.hitTest(x, y); }

 private:
  template <typename Control>
  friend LRESULT CALLBACK controlWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void relayout();
  void paint(HDC dc);

  HWND hwnd_ = nullptr;
  std::vector<std::u16string> texts_;
  TabStripLayout layout_;
  int selected_ = -1;
  std::function<void(int)> onSelect_;
  CXButton left_, right_;
};

// A bar between two panes. Dragging it (mouse capture, resize cursor) and releasing it calls
// the callback with the new position of the bar's leading edge in the parent's client
// coordinates, kept so that each pane is at least `minPane` wide, and sends WM_NOTIFY with
// SplitterNotify to the parent.
struct SplitterNotify {
  NMHDR header;  // code kSplitterMoved
  int position;
};
constexpr UINT kSplitterMoved = 0x4B53;  // outside the common controls' ranges

class CXSplitter {
 public:
  CXSplitter() = default;
  ~CXSplitter();
  CXSplitter(const CXSplitter&) = delete;
  CXSplitter& operator=(const CXSplitter&) = delete;

  // vertical: a bar between a left and a right pane (moves horizontally).
  bool create(HWND parent, int id, const RECT& rect, bool vertical, int minPane = 20);
  HWND hwnd() const { return hwnd_; }
  void setCallback(std::function<void(int position)> callback) { onMoved_ = std::move(callback); }
  bool dragging() const { return dragging_; }
  bool vertical() const { return vertical_; }

 private:
  template <typename Control>
  friend LRESULT CALLBACK controlWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  int positionFor(LPARAM lparam) const;

  HWND hwnd_ = nullptr;
  bool vertical_ = true;
  int minPane_ = 20;
  bool dragging_ = false;
  int grab_ = 0;  // offset of the mouse inside the bar when the drag began
  std::function<void(int)> onMoved_;
};

// The owner-drawn popup menu of the screens: a disabled title row, items with icons from the
// menu image list, separators.
class CXPopupMenu {
 public:
  CXPopupMenu();
  ~CXPopupMenu();
  CXPopupMenu(const CXPopupMenu&) = delete;
  CXPopupMenu& operator=(const CXPopupMenu&) = delete;

  void addItem(const std::u16string& text, int commandId, int iconIndex, bool enabled);
  void addSeparator();
  // Shows the menu at the mouse position (right-button tracking). With returnCommand the chosen
  // command (0 for none) is returned; otherwise it is sent to `owner` as WM_COMMAND and 0 is
  // returned.
  int show(const std::u16string& title, HWND owner, bool returnCommand);
  // The same at a given screen position (used by tests and keyboard menus).
  int showAt(const std::u16string& title, HWND owner, bool returnCommand, int x, int y);

  void setImages(HIMAGELIST images) { images_ = images; }

  struct Item {
    std::u16string text;
    int command;
    int icon;
    bool enabled;
    bool separator;
    bool title;
  };
  const std::vector<Item>& items() const { return items_; }
  // Size of an item as measured for drawing (GUI font).
  MenuItemSize measure(const Item& item) const;

 private:
  static LRESULT CALLBACK ownerProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void draw(const DRAWITEMSTRUCT* d);

  std::vector<Item> items_;
  HIMAGELIST images_ = nullptr;
  std::u16string title_;
};

// Keeps child controls anchored while their parent resizes (flags in layout_model.h).
class CXAnchorLayout {
 public:
  // Adds a control with its current place; adding it again replaces its flags.
  void add(HWND control, int flags);
  // On every resize of the parent; the first call only records the size.
  void apply(HWND parent, int width, int height);

 private:
  AnchorLayout model_;
};

// The window classes of the tab strip and the splitter bar; initToolkit registers them.
bool registerTabStripClass(HINSTANCE instance);
bool registerSplitterClass(HINSTANCE instance);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_CONTROLS_H_
