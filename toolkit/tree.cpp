#include "toolkit/tree.h"

#include <windowsx.h>

#include <vector>

#include "toolkit/toolkit.h"

namespace keldrun {

CXColourTree::~CXColourTree() { detach(); }

bool CXColourTree::attach(HWND dialog, int id) {
  HWND w = GetDlgItem(dialog, id);
  if (!w) return false;
  detach();
  hwnd_ = w;
  // The tree is subclassed through its own procedure pointer and user data, not through
  // SetWindowSubclass: that finds its chain in a window property on every message, and under
  // Wine every property lookup is a round trip to the server, two for each item inserted.
  SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  original_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CXColourTree::proc)));
  prepareFonts();
  TreeView_SetTextColor(w, RGB(0, 0, 0));
  return true;
}

void CXColourTree::detach() {
  if (!hwnd_) return;
  if (GetWindowLongPtrW(hwnd_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CXColourTree::proc)) {
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  }
  hwnd_ = nullptr;
}

bool CXColourTree::create(HWND parent, int id, const RECT& rect, DWORD style) {
  if (!createChildControl(parent, id, rect, WC_TREEVIEWW, L"", WS_CHILD | style)) return false;
  return attach(parent, id);
}

void CXColourTree::prepareFonts() {
  HFONT own = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  normalFont_ = derivedFont(own, FW_NORMAL);
  boldFont_ = derivedFont(own, FW_BOLD);
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
}

void CXColourTree::setImageList(HIMAGELIST images) {
  TreeView_SetImageList(hwnd_, images, TVSIL_NORMAL);
}

void CXColourTree::setStateImages(HIMAGELIST images) {
  TreeView_SetImageList(hwnd_, images, TVSIL_STATE);
}

HTREEITEM CXColourTree::insertItem(HTREEITEM parent, HTREEITEM after, const std::u16string& text,
                                   int image, int selectedImage, LPARAM data) {
  TVINSERTSTRUCTW ins = {};
  ins.hParent = parent;
  ins.hInsertAfter = after;
  ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  ins.item.pszText = const_cast<wchar_t*>(wide(text));
  ins.item.iImage = image;
  ins.item.iSelectedImage = selectedImage;
  ins.item.lParam = data;
  return TreeView_InsertItem(hwnd_, &ins);
}

void CXColourTree::setItemColour(HTREEITEM item, Colour colour) {
  colours_.setColour(reinterpret_cast<uintptr_t>(item), colour);
  RECT r;
  if (TreeView_GetItemRect(hwnd_, item, &r, TRUE)) InvalidateRect(hwnd_, &r, FALSE);
}

void CXColourTree::setItemLook(HTREEITEM item, Colour colour, bool bold) {
  colours_.setColour(reinterpret_cast<uintptr_t>(item), colour);
  if (bold) setItemBold(item, true);
}

Colour CXColourTree::itemColour(HTREEITEM item) const {
  return colours_.colour(reinterpret_cast<uintptr_t>(item));
}

void CXColourTree::setItemBold(HTREEITEM item, bool bold) {
  colours_.setBold(reinterpret_cast<uintptr_t>(item), bold);
  // The tree measures the label in bold too, so the label rectangle fits the bold text.
  TreeView_SetItemState(hwnd_, item, bold ? TVIS_BOLD : 0, TVIS_BOLD);
}

bool CXColourTree::itemBold(HTREEITEM item) const {
  return colours_.bold(reinterpret_cast<uintptr_t>(item));
}

void CXColourTree::setCheck(HTREEITEM item, int state) {
  TreeView_SetItemState(hwnd_, item, INDEXTOSTATEIMAGEMASK(stateImageFromCheck(state)),
                        TVIS_STATEIMAGEMASK);
}

int CXColourTree::getCheck(HTREEITEM item) const {
  UINT s = TreeView_GetItemState(hwnd_, item, TVIS_STATEIMAGEMASK);
  return checkFromStateImage(int(s >> 12));
}

std::u16string CXColourTree::itemText(HTREEITEM item) const {
  // The control does not say how long a text is: a text that fills the buffer is read again
  // with a larger one, so that a long key or folder name is never cut short.
  std::vector<wchar_t> buf(256);
  for (;;) {
    TVITEMW it = {};
    it.mask = TVIF_TEXT;
    it.hItem = item;
    it.pszText = buf.data();
    it.cchTextMax = int(buf.size());
    buf[0] = 0;
    TreeView_GetItem(hwnd_, &it);
    size_t n = 0;
    while (n < buf.size() && buf[n]) n++;
    if (n + 1 < buf.size() || buf.size() >= kLongestItemText) return std::u16string(buf.begin(), buf.begin() + n);
    buf.assign(buf.size() * 4, 0);
  }
}

LPARAM CXColourTree::itemData(HTREEITEM item) const {
  TVITEMW it = {};
  it.mask = TVIF_PARAM;
  it.hItem = item;
  TreeView_GetItem(hwnd_, &it);
  return it.lParam;
}

void CXColourTree::clear() {
  SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
  TreeView_DeleteAllItems(hwnd_);
  colours_.clear();
  SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void CXColourTree::forgetSubtree(HTREEITEM item) {
  colours_.erase(reinterpret_cast<uintptr_t>(item));
  for (HTREEITEM c = TreeView_GetChild(hwnd_, item); c; c = TreeView_GetNextSibling(hwnd_, c)) {
    forgetSubtree(c);
  }
}

void CXColourTree::paint(HDC target, const RECT& update) {
  OffscreenCanvas canvas(hwnd_, target);
  HDC dc = canvas.dc();
  if (!dc) return;
  const RECT& client = canvas.client();
  int h = client.bottom;
  // The system paints the tree into the memory bitmap first.
  COLORREF back = TreeView_GetBkColor(hwnd_);
  if (back == CLR_NONE) back = GetSysColor(COLOR_WINDOW);
  fillSolid(dc, client, back);
  byDefault(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);

  // Then every visible item that has a look of its own and is neither selected nor
  // drop-highlighted gets its text again in its colour and weight.
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, back);
  HGDIOBJ oldFont = SelectObject(dc, normalFont_);
  for (HTREEITEM item = TreeView_GetFirstVisible(hwnd_); item;
       item = TreeView_GetNextVisible(hwnd_, item)) {
    RECT label;
    if (!TreeView_GetItemRect(hwnd_, item, &label, TRUE)) continue;
    if (label.top >= h) break;
    uintptr_t key = reinterpret_cast<uintptr_t>(item);
    if (!colours_.has(key)) continue;
    UINT state = TreeView_GetItemState(hwnd_, item, TVIS_SELECTED | TVIS_DROPHILITED);
    if (state & (TVIS_SELECTED | TVIS_DROPHILITED)) continue;
    std::u16string text = itemText(item);
    SelectObject(dc, colours_.bold(key) ? boldFont_ : normalFont_);
    SetTextColor(dc, COLORREF(colours_.colour(key)));
    RECT inner = label;
    InflateRect(&inner, -1, -1);
    fillSolid(dc, inner, back);
    ExtTextOutW(dc, label.left + 2, label.top + 1, ETO_CLIPPED, &inner, wide(text),
                UINT(text.size()), nullptr);
  }
  SelectObject(dc, oldFont);
  canvas.copyTo(target, update);
}

LRESULT CALLBACK CXColourTree::proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<CXColourTree*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    WNDPROC original = self->original_;
    self->detach();
    return CallWindowProcW(original, window, message, wparam, lparam);
  }
  return self->handle(message, wparam, lparam);
}

LRESULT CXColourTree::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: return onPaint(reinterpret_cast<HDC>(wparam));
    case WM_PRINTCLIENT: return onPrintClient(reinterpret_cast<HDC>(wparam));
    case WM_ERASEBKGND: return 1;
    case kTreeItemColourQuery: return LRESULT(colours_.colour(uintptr_t(lparam)));
    case WM_LBUTTONDOWN: return onButtonDown(wparam, lparam);
    case WM_KEYDOWN: return onKeyDown(wparam, lparam);
    case TVM_DELETEITEM: return onDeleteItem(wparam, lparam);
    case WM_SETFONT: return onSetFont(wparam, lparam);
    default: return byDefault(message, wparam, lparam);
  }
}

LRESULT CXColourTree::byDefault(UINT message, WPARAM wparam, LPARAM lparam) {
  return CallWindowProcW(original_, hwnd_, message, wparam, lparam);
}

LRESULT CXColourTree::onPaint(HDC given) {
  if (given) return onPrintClient(given);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  paint(dc, ps.rcPaint);
  EndPaint(hwnd_, &ps);
  return 0;
}

LRESULT CXColourTree::onPrintClient(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  paint(dc, client);
  return 0;
}

LRESULT CXColourTree::onButtonDown(WPARAM keys, LPARAM point) {
  TVHITTESTINFO hit = {};
  hit.pt = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
  HTREEITEM item = TreeView_HitTest(hwnd_, &hit);
  if (!item || (hit.flags & TVHT_ONITEMBUTTON)) return byDefault(WM_LBUTTONDOWN, keys, point);
  if (hit.flags & TVHT_ONITEMSTATEICON) return stateImageClicked(item);
  if (hit.flags & (TVHT_ONITEM | TVHT_ONITEMINDENT | TVHT_ONITEMRIGHT)) return itemClicked(item);
  return byDefault(WM_LBUTTONDOWN, keys, point);
}

LRESULT CXColourTree::onKeyDown(WPARAM key, LPARAM flags) {
  if (key != VK_MULTIPLY) return byDefault(WM_KEYDOWN, key, flags);
  // "*" expands everything below the selected item before the tree answers again, which on a
  // large tree takes seconds: the cursor says so meanwhile.
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  LRESULT r = byDefault(WM_KEYDOWN, key, flags);
  SetCursor(old);
  return r;
}

LRESULT CXColourTree::itemClicked(HTREEITEM item) {
  // Selecting here (rather than in the tree's own handler) avoids its drag detection.
  if (GetFocus() != hwnd_) SetFocus(hwnd_);
  TreeView_SelectItem(hwnd_, item);
  return 0;
}

LRESULT CXColourTree::stateImageClicked(HTREEITEM item) {
  int image = int(TreeView_GetItemState(hwnd_, item, TVIS_STATEIMAGEMASK) >> 12);
  if (image > 0) {
    int count = 0;
    if (HIMAGELIST states = TreeView_GetImageList(hwnd_, TVSIL_STATE)) {
      count = ImageList_GetImageCount(states) - 1;
    }
    TreeView_SetItemState(hwnd_, item, INDEXTOSTATEIMAGEMASK(UINT(nextStateImage(image, count))),
                          TVIS_STATEIMAGEMASK);
  }
  if (stateClick_) stateClick_(item);
  return 0;
}

LRESULT CXColourTree::onDeleteItem(WPARAM wparam, LPARAM lparam) {
  // Item handles are reused, so a deleted item's look must go with it.
  HTREEITEM item = reinterpret_cast<HTREEITEM>(lparam);
  if (!item || item == TVI_ROOT) {
    colours_.clear();
  } else if (colours_.size() != 0) {
    forgetSubtree(item);
  }
  return byDefault(TVM_DELETEITEM, wparam, lparam);
}

LRESULT CXColourTree::onSetFont(WPARAM wparam, LPARAM lparam) {
  LRESULT r = byDefault(WM_SETFONT, wparam, lparam);
  HFONT f = reinterpret_cast<HFONT>(wparam);
  if (f != normalFont_) {
    normalFont_ = derivedFont(f, FW_NORMAL);
    boldFont_ = derivedFont(f, FW_BOLD);
  }
  return r;
}

}  // namespace keldrun
