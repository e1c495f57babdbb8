// The coloured tree: a tree view whose items carry their own text colour and boldness, with
// check-box state images and a callback for clicks on them.
#ifndef KELDRUN_TOOLKIT_TREE_H_
#define KELDRUN_TOOLKIT_TREE_H_

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "toolkit/tree_model.h"

namespace keldrun {

// Sent to the tree: the text colour (COLORREF) of item lparam, black for an item without a look
// of its own. The looks live in this process only, so tools and tests that look from outside
// ask with this message.
constexpr UINT kTreeItemColourQuery = WM_APP + 0x701;
// The longest item text read back whole: more than a stored name can hold.
constexpr size_t kLongestItemText = 65536;

class CXColourTree {
 public:
  CXColourTree() = default;
  ~CXColourTree();
  CXColourTree(const CXColourTree&) = delete;
  CXColourTree& operator=(const CXColourTree&) = delete;

  // Takes over the tree view `id` of `dialog`; false when there is none.
  bool attach(HWND dialog, int id);
  bool create(HWND parent, int id, const RECT& rect,
              DWORD style = WS_VISIBLE | WS_TABSTOP | WS_BORDER | TVS_HASBUTTONS |
                            TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS);
  HWND hwnd() const { return hwnd_; }

  void setImageList(HIMAGELIST images);
  // Gives the tree the check-box state images (index 0 none, then unchecked, checked, partly).
  void setStateImages(HIMAGELIST images);

  // Inserts an item with a UTF-16 text; image indexes refer to the tree's image list.
  HTREEITEM insertItem(HTREEITEM parent, HTREEITEM after, const std::u16string& text, int image,
                       int selectedImage, LPARAM data);
  void setItemColour(HTREEITEM item, Colour colour);
  // Sets colour and boldness at once, without repainting (for items being inserted).
  void setItemLook(HTREEITEM item, Colour colour, bool bold);
  Colour itemColour(HTREEITEM item) const;
  void setItemBold(HTREEITEM item, bool bold);
  bool itemBold(HTREEITEM item) const;

  // Check state = state image index - 1 (-1 when the item has no state image).
  void setCheck(HTREEITEM item, int state);
  int getCheck(HTREEITEM item) const;

  // Called after a click on an item's state image has moved it to its next image.
  void setStateImageCallback(std::function<void(HTREEITEM item)> callback) {
    stateClick_ = std::move(callback);
  }

  std::u16string itemText(HTREEITEM item) const;
  LPARAM itemData(HTREEITEM item) const;
  HTREEITEM selection() const { return TreeView_GetSelection(hwnd_); }

  // Forgets every colour and deletes every item.
  void clear();

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
  // Gives the tree its own procedure back.
  void detach();
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT byDefault(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT onPaint(HDC given);
  LRESULT onPrintClient(HDC dc);
  LRESULT onButtonDown(WPARAM keys, LPARAM point);
  LRESULT onKeyDown(WPARAM key, LPARAM flags);
  // Moves the item to its next state image and reports the click.
  LRESULT stateImageClicked(HTREEITEM item);
  LRESULT itemClicked(HTREEITEM item);
  LRESULT onDeleteItem(WPARAM wparam, LPARAM lparam);
  LRESULT onSetFont(WPARAM wparam, LPARAM lparam);
  void paint(HDC target, const RECT& update);
  void prepareFonts();
  void forgetSubtree(HTREEITEM item);

  HWND hwnd_ = nullptr;
  WNDPROC original_ = nullptr;  // the tree view's procedure, which this one hands over to
  ItemColourMap colours_;
  std::function<void(HTREEITEM)> stateClick_;
  HFONT normalFont_ = nullptr;
  HFONT boldFont_ = nullptr;
};

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_TREE_H_
