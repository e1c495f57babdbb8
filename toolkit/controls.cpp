#include "toolkit/controls.h"

#include <windowsx.h>

#include "toolkit/subclass.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

const wchar_t kTabStripClass[] = L"CXTabStrip";
const wchar_t kSplitterClass[] = L"CXSplitter";
const UINT_PTR kMenuSubclassId = 0x4B4D;  // "KM"

}  // namespace

// The window procedure of a control class of our own: the object handed to CreateWindowExW
// is kept in the window's user data and handles every message until WM_NCDESTROY.
template <typename Control>
LRESULT CALLBACK controlWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<Control*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self) {
    if (message == WM_NCCREATE) self->hwnd_ = window;
    if (message == WM_NCDESTROY) {
      self->hwnd_ = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    } else {
      return self->handle(message, wparam, lparam);
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool registerTabStripClass(HINSTANCE instance) {
  WNDCLASSW wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = controlWindowProc<CXTabStrip>;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kTabStripClass;
  return RegisterClassW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool registerSplitterClass(HINSTANCE instance) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = controlWindowProc<CXSplitter>;
  wc.hInstance = instance;
  wc.hCursor = nullptr;  // chosen per bar: vertical or horizontal
  wc.lpszClassName = kSplitterClass;
  return RegisterClassW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// ---- CXTabStrip ----

CXTabStrip::~CXTabStrip() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

bool CXTabStrip::create(HWND parent, int id, const RECT& rect) {
  HWND w = createChildWindow(parent, id, rect, kTabStripClass, L"",
                             WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, this);
  if (!w) return false;
  int h = rect.bottom - rect.top;
  RECT lr = {0, 0, h, h};
  left_.create(w, kScrollLeftId, lr, L"<", 0);
  right_.create(w, kScrollRightId, lr, L">", 0);
  SendMessageW(left_.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(tabFont()), FALSE);
  SendMessageW(right_.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(tabFont()), FALSE);
  relayout();
  return true;
}

int CXTabStrip::addTab(const std::u16string& text) {
  texts_.push_back(text);
  relayout();
  if (selected_ < 0) selected_ = 0;
  InvalidateRect(hwnd_, nullptr, TRUE);
  return int(texts_.size()) - 1;
}

void CXTabStrip::selectTab(int index) {
  if (index < 0 || size_t(index) >= texts_.size()) return;
  selected_ = index;
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void CXTabStrip::relayout() {
  if (!hwnd_) return;
  std::vector<int> widths;
  for (const std::u16string& t : texts_) widths.push_back(textWidth(tabFont(), t));
  size_t first = layout_.firstVisible();
  layout_.setTabs(widths);
  RECT r;
  GetClientRect(hwnd_, &r);
  layout_.layout(r.right, r.bottom);
  while (layout_.firstVisible() < first && layout_.scrollRight()) {
  }
  bool shown = layout_.scrollButtonsShown();
  LayoutRect lb = layout_.leftButton(), rb = layout_.rightButton();
  if (left_.hwnd()) {
    SetWindowPos(left_.hwnd(), nullptr, lb.left, lb.top, lb.width(), lb.height(),
                 SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  }
  if (right_.hwnd()) {
    SetWindowPos(right_.hwnd(), nullptr, rb.left, rb.top, rb.width(), rb.height(),
                 SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  }
}

void CXTabStrip::paint(HDC target) {
  OffscreenCanvas canvas(hwnd_, target);
  HDC dc = canvas.dc();
  if (!dc) return;
  const RECT& client = canvas.client();
  int w = client.right, h = client.bottom;
  fillSolid(dc, client, schemeColour(SchemeColour::kTabStripBackground));
  HGDIOBJ oldFont = SelectObject(dc, tabFont());
  SetBkMode(dc, TRANSPARENT);
  HPEN frame = CreatePen(PS_SOLID, 1, schemeColour(SchemeColour::kFrame));
  HGDIOBJ oldPen = SelectObject(dc, frame);
  for (size_t i = 0; i < texts_.size(); ++i) {
    LayoutRect t = layout_.tabRect(i);
    if (t.width() <= 0) continue;
    bool sel = int(i) == selected_;
    int slope = 4;
    POINT pts[4] = {{t.left, t.bottom}, {t.left + slope, t.top + (sel ? 1 : 3)},
                    {t.right - slope, t.top + (sel ? 1 : 3)}, {t.right, t.bottom}};
    HBRUSH face = CreateSolidBrush(sel ? schemeColour(SchemeColour::kSelection) : schemeColour(SchemeColour::kTabFace));
    HGDIOBJ ob = SelectObject(dc, face);
    Polygon(dc, pts, 4);
    SelectObject(dc, ob);
    DeleteObject(face);
    SetTextColor(dc, sel ? RGB(255, 255, 255) : schemeColour(SchemeColour::kText));
    RECT tr = {t.left, t.top + (sel ? 1 : 3), t.right, t.bottom};
    DrawTextW(dc, wide(texts_[i]), int(texts_[i].size()), &tr,
              DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
  }
  // The line under the strip.
  fillSolid(dc, RECT{0, h - 1, w, h}, schemeColour(SchemeColour::kFrame));
  SelectObject(dc, oldPen);
  DeleteObject(frame);
  SelectObject(dc, oldFont);
  canvas.copyTo(target, client);
}

LRESULT CXTabStrip::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      paint(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      paint(reinterpret_cast<HDC>(wparam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      relayout();
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN: {
      int index = layout_.hitTest(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      if (index >= 0 && index != selected_) {
        selected_ = index;
        InvalidateRect(hwnd_, nullptr, FALSE);
        if (onSelect_) onSelect_(index);
      }
      return 0;
    }
    case WM_RBUTTONUP: {
      int index = layout_.hitTest(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      if (index >= 0) {
        NMHDR n = {hwnd_, UINT_PTR(GetDlgCtrlID(hwnd_)), UINT(NM_RCLICK)};
        SendMessageW(GetParent(hwnd_), WM_NOTIFY, n.idFrom, reinterpret_cast<LPARAM>(&n));
      }
      return 0;
    }
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      bool moved = id == kScrollLeftId ? layout_.scrollLeft()
                   : id == kScrollRightId ? layout_.scrollRight()
                                          : false;
      if (moved) InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

// ---- CXSplitter ----

CXSplitter::~CXSplitter() {
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

bool CXSplitter::create(HWND parent, int id, const RECT& rect, bool vertical, int minPane) {
  vertical_ = vertical;
  minPane_ = minPane;
  return createChildWindow(parent, id, rect, kSplitterClass, L"", WS_CHILD | WS_VISIBLE, this) !=
         nullptr;
}

int CXSplitter::positionFor(LPARAM lparam) const {
  POINT p = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  HWND parent = GetParent(hwnd_);
  MapWindowPoints(hwnd_, parent, &p, 1);
  RECT pr, me;
  GetClientRect(parent, &pr);
  GetClientRect(hwnd_, &me);
  int pos = (vertical_ ? p.x : p.y) - grab_;
  int extent = vertical_ ? pr.right : pr.bottom;
  int bar = vertical_ ? me.right : me.bottom;
  return clampSplitter(pos, extent, bar, minPane_);
}

LRESULT CXSplitter::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      RECT r;
      GetClientRect(hwnd_, &r);
      fillSolid(dc, r, schemeColour(SchemeColour::kSplitterFace));
      DrawEdge(dc, &r, EDGE_RAISED, BF_RECT);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_SETCURSOR:
      SetCursor(LoadCursorW(nullptr, vertical_ ? IDC_SIZEWE : IDC_SIZENS));
      return TRUE;
    case WM_LBUTTONDOWN:
      dragging_ = true;
      grab_ = vertical_ ? GET_X_LPARAM(lparam) : GET_Y_LPARAM(lparam);
      SetCapture(hwnd_);
      return 0;
    case WM_MOUSEMOVE:
      if (dragging_) {
        int pos = positionFor(lparam);
        RECT me;
        GetWindowRect(hwnd_, &me);
        MapWindowPoints(nullptr, GetParent(hwnd_), reinterpret_cast<POINT*>(&me), 2);
        SetWindowPos(hwnd_, nullptr, vertical_ ? pos : me.left, vertical_ ? me.top : pos, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (dragging_) {
        int pos = positionFor(lparam);
        dragging_ = false;
        if (GetCapture() == hwnd_) ReleaseCapture();
        if (onMoved_) onMoved_(pos);
        SplitterNotify n = {{hwnd_, UINT_PTR(GetDlgCtrlID(hwnd_)), kSplitterMoved}, pos};
        SendMessageW(GetParent(hwnd_), WM_NOTIFY, n.header.idFrom, reinterpret_cast<LPARAM>(&n));
      }
      return 0;
    case WM_CAPTURECHANGED:
      dragging_ = false;
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

// ---- CXPopupMenu ----

CXPopupMenu::CXPopupMenu() : images_(menuImages()) {}
CXPopupMenu::~CXPopupMenu() = default;

void CXPopupMenu::addItem(const std::u16string& text, int commandId, int iconIndex, bool enabled) {
  items_.push_back({text, commandId, iconIndex, enabled, false, false});
}

void CXPopupMenu::addSeparator() { items_.push_back({u"", 0, -1, false, true, false}); }

MenuItemSize CXPopupMenu::measure(const Item& item) const {
  if (item.separator) return menuItemSize(true, 0);
  return menuItemSize(false, textWidth(guiFont(), item.text));
}

void CXPopupMenu::draw(const DRAWITEMSTRUCT* d) {
  size_t index = size_t(d->itemData);
  const Item* item = nullptr;
  Item title = {title_, 0, -1, false, false, true};
  if (index == 0) item = &title;
  else if (index - 1 < items_.size()) item = &items_[index - 1];
  if (!item) return;
  HDC dc = d->hDC;
  RECT r = d->rcItem;
  if (item->title) {
    fillSolid(dc, r, schemeColour(SchemeColour::kHeaderBackground));
    HGDIOBJ of = SelectObject(dc, derivedFont(guiFont(), FW_BOLD));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, schemeColour(SchemeColour::kHeaderText));
    RECT tr = {r.left + 6, r.top, r.right, r.bottom};
    DrawTextW(dc, wide(item->text), -1, &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, of);
    return;
  }
  RECT strip = {r.left, r.top, r.left + kMenuIconStrip, r.bottom};
  RECT body = {r.left + kMenuIconStrip, r.top, r.right, r.bottom};
  fillSolid(dc, strip, schemeColour(SchemeColour::kMenuStripColour));
  fillSolid(dc, body, schemeColour(SchemeColour::kMenuBackground));
  if (item->separator) {
    RECT line = {r.left + kMenuIconStrip + 2, r.top + 1, r.right - 2, r.bottom};
    DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    return;
  }
  bool hot = (d->itemState & ODS_SELECTED) && item->enabled;
  if (hot) {
    fillSolid(dc, r, schemeColour(SchemeColour::kMenuHighlight));
    HBRUSH frame = CreateSolidBrush(schemeColour(SchemeColour::kSelection));
    FrameRect(dc, &r, frame);
    DeleteObject(frame);
  }
  if (images_ && item->icon >= 0) {
    if (item->enabled) {
      ImageList_Draw(images_, item->icon, dc, r.left + 2, r.top + 2, ILD_TRANSPARENT);
    } else {
      ImageList_DrawEx(images_, item->icon, dc, r.left + 2, r.top + 2, 16, 16, CLR_NONE,
                       GetSysColor(COLOR_GRAYTEXT), ILD_BLEND50);
    }
  }
  HGDIOBJ of = SelectObject(dc, guiFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, item->enabled ? schemeColour(SchemeColour::kText) : schemeColour(SchemeColour::kDisabledText));
  RECT tr = {r.left + kMenuTextLeft, r.top, r.right, r.bottom};
  DrawTextW(dc, wide(item->text), -1, &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  SelectObject(dc, of);
}

LRESULT CALLBACK CXPopupMenu::ownerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR, DWORD_PTR data) {
  auto* menu = reinterpret_cast<CXPopupMenu*>(data);
  if (message == WM_MEASUREITEM) {
    auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
    if (m->CtlType == ODT_MENU) {
      size_t index = size_t(m->itemData);
      MenuItemSize size{0, kMenuItemHeight};
      if (index == 0) {
        size = menuItemSize(false, textWidth(derivedFont(guiFont(), FW_BOLD), menu->title_));
      } else if (index - 1 < menu->items_.size()) {
        size = menu->measure(menu->items_[index - 1]);
      }
      m->itemWidth = UINT(size.width);
      m->itemHeight = UINT(size.height);
      return TRUE;
    }
  } else if (message == WM_DRAWITEM) {
    auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lparam);
    if (d->CtlType == ODT_MENU) {
      menu->draw(d);
      return TRUE;
    }
  }
  return defSubclassProc(window, message, wparam, lparam);
}

int CXPopupMenu::show(const std::u16string& title, HWND owner, bool returnCommand) {
  POINT p;
  GetCursorPos(&p);
  return showAt(title, owner, returnCommand, p.x, p.y);
}

int CXPopupMenu::showAt(const std::u16string& title, HWND owner, bool returnCommand, int x,
                        int y) {
  title_ = title;
  HMENU menu = CreatePopupMenu();
  if (!menu) return 0;
  // The title row is item data 0, then one per item.
  AppendMenuW(menu, MF_OWNERDRAW | MF_DISABLED, 0, reinterpret_cast<LPCWSTR>(0));
  for (size_t i = 0; i < items_.size(); ++i) {
    const Item& it = items_[i];
    UINT flags = MF_OWNERDRAW;
    if (it.separator) flags |= MF_SEPARATOR;
    if (!it.enabled && !it.separator) flags |= MF_GRAYED;
    AppendMenuW(menu, flags, it.separator ? 0 : UINT_PTR(it.command),
                reinterpret_cast<LPCWSTR>(i + 1));
  }
  HWND host = owner;
  HWND temporary = nullptr;
  if (!host) {
    temporary = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                toolkitInstance(), nullptr);
    host = temporary;
  }
  subclassWindow(host, ownerProc, kMenuSubclassId, reinterpret_cast<DWORD_PTR>(this));
  SetForegroundWindow(host);
  int chosen = int(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0,
                                  host, nullptr));
  PostMessageW(host, WM_NULL, 0, 0);
  removeSubclass(host, ownerProc, kMenuSubclassId);
  if (temporary) DestroyWindow(temporary);
  DestroyMenu(menu);
  if (returnCommand) return chosen;
  if (chosen && owner) SendMessageW(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
  return 0;
}

// ---- CXAnchorLayout ----

void CXAnchorLayout::add(HWND control, int flags) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  model_.add(reinterpret_cast<uintptr_t>(control), flags, LayoutRect{r.left, r.top, r.right, r.bottom});
}

void CXAnchorLayout::apply(HWND parent, int width, int height) {
  std::vector<AnchorLayout::Placement> moves;
  if (!model_.apply(width, height, &moves) || moves.empty()) return;
  HDWP batch = BeginDeferWindowPos(int(moves.size()));
  for (const auto& m : moves) {
    HWND w = reinterpret_cast<HWND>(m.key);
    if (!IsWindow(w)) continue;
    if (batch) {
      batch = DeferWindowPos(batch, w, nullptr, m.rect.left, m.rect.top, m.rect.width(),
                             m.rect.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
      SetWindowPos(w, nullptr, m.rect.left, m.rect.top, m.rect.width(), m.rect.height(),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (batch) EndDeferWindowPos(batch);
  InvalidateRect(parent, nullptr, TRUE);
}

}  // namespace keldrun
