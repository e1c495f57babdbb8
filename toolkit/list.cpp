#include "toolkit/list.h"

#include "base/text.h"
#include "toolkit/layout_model.h"
#include "toolkit/subclass.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

const UINT_PTR kListSubclassId = 0x4B4C;  // "KL"

}  // namespace

CXVirtualList::~CXVirtualList() { unhook(); }

void CXVirtualList::hook() {
  parent_ = GetParent(hwnd_);
  subclassWindow(hwnd_, listProc, kListSubclassId, reinterpret_cast<DWORD_PTR>(this));
  // The list's notifications go to its parent; several lists may share one parent, so each
  // subclasses it under its own id.
  subclassWindow(parent_, parentProc, reinterpret_cast<UINT_PTR>(this),
                    reinterpret_cast<DWORD_PTR>(this));
  ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES |
                                               LVS_EX_DOUBLEBUFFER);
  ListView_SetUnicodeFormat(hwnd_, TRUE);
  ListView_SetBkColor(hwnd_, COLORREF(model_.defaultBackground()));
  ListView_SetTextBkColor(hwnd_, COLORREF(model_.defaultBackground()));
}

void CXVirtualList::unhook() {
  if (!hwnd_) return;
  removeSubclass(hwnd_, listProc, kListSubclassId);
  if (parent_) removeSubclass(parent_, parentProc, reinterpret_cast<UINT_PTR>(this));
  hwnd_ = nullptr;
  parent_ = nullptr;
}

bool CXVirtualList::attach(HWND dialog, int id) {
  HWND w = GetDlgItem(dialog, id);
  if (!w) return false;
  unhook();
  LONG style = GetWindowLongW(w, GWL_STYLE);
  if (!(style & LVS_OWNERDATA)) {
    // Virtual mode can only be chosen when the list is made.
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
    HWND made = CreateWindowExW(ex, WC_LISTVIEWW, L"", DWORD(style) | LVS_OWNERDATA, r.left,
                                r.top, r.right - r.left, r.bottom - r.top, dialog,
                                reinterpret_cast<HMENU>(INT_PTR(id)), toolkitInstance(), nullptr);
    if (!made) return false;
    SetWindowPos(made, w, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    DestroyWindow(w);
    w = made;
  }
  hwnd_ = w;
  hook();
  return true;
}

bool CXVirtualList::create(HWND parent, int id, const RECT& rect, DWORD style) {
  HWND w =
      createChildControl(parent, id, rect, WC_LISTVIEWW, L"", WS_CHILD | LVS_OWNERDATA | style);
  if (!w) return false;
  unhook();
  hwnd_ = w;
  hook();
  return true;
}

void CXVirtualList::setColumns(const std::vector<std::u16string>& titles,
                               const std::vector<int>& sortTypes) {
  while (ListView_DeleteColumn(hwnd_, 0)) {
  }
  model_.setColumns(titles, sortTypes);
  for (size_t i = 0; i < titles.size(); ++i) {
    LVCOLUMNW c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.fmt = LVCFMT_LEFT;
    c.cx = dpiScale(100);
    c.pszText = const_cast<wchar_t*>(wide(titles[i]));
    ListView_InsertColumn(hwnd_, int(i), &c);
  }
  updateHeader();
}

void CXVirtualList::setColumnWidths(const std::vector<int>& widths) {
  for (size_t i = 0; i < widths.size() && i < model_.columnCount(); ++i) {
    ListView_SetColumnWidth(hwnd_, int(i), dpiScale(widths[i]));
  }
  applyFill();
}

void CXVirtualList::fillColumn(int column, int minimum) {
  fillColumn_ = column;
  fillMinimum_ = minimum;
  applyFill();
}

void CXVirtualList::applyFill() {
  if (fillColumn_ < 0 || size_t(fillColumn_) >= model_.columnCount()) return;
  RECT r;
  GetClientRect(hwnd_, &r);
  std::vector<int> widths;
  for (size_t i = 0; i < model_.columnCount(); ++i) {
    widths.push_back(ListView_GetColumnWidth(hwnd_, int(i)));
  }
  ListView_SetColumnWidth(hwnd_, fillColumn_,
                          fillColumnWidth(r.right, widths, fillColumn_, dpiScale(fillMinimum_)));
}

void CXVirtualList::setImageList(HIMAGELIST images) {
  ListView_SetImageList(hwnd_, images, LVSIL_SMALL);
}

size_t CXVirtualList::addRow(const std::vector<std::u16string>& texts) {
  return addRow(std::vector<std::u16string>(texts));
}

size_t CXVirtualList::addRow(std::vector<std::u16string>&& texts) {
  size_t i = model_.addRow(std::move(texts));
  if (!updating_) {
    ListView_SetItemCountEx(hwnd_, int(model_.size()), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  }
  return i;
}

size_t CXVirtualList::addRowUtf8(const std::vector<std::string>& texts) {
  std::vector<std::u16string> w;
  w.reserve(texts.size());
  for (const std::string& t : texts) w.push_back(fromUtf8(t));
  return addRow(w);
}

void CXVirtualList::setRowColours(size_t row, Colour background, Colour text) {
  if (row >= model_.size()) return;
  model_.row(row).background = background;
  model_.row(row).text = text;
  if (!updating_) ListView_RedrawItems(hwnd_, int(row), int(row));
}

void CXVirtualList::setRowImage(size_t row, int image) {
  if (row >= model_.size()) return;
  model_.row(row).image = image;
  if (!updating_) ListView_RedrawItems(hwnd_, int(row), int(row));
}

void CXVirtualList::setRowData(size_t row, uintptr_t data) {
  if (row < model_.size()) model_.row(row).data = data;
}

void CXVirtualList::beginUpdate() {
  if (updating_++ == 0) SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
}

void CXVirtualList::endUpdate() {
  if (updating_ == 0 || --updating_ != 0) return;
  ListView_SetItemCountEx(hwnd_, int(model_.size()), LVSICF_NOSCROLL);
  SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void CXVirtualList::clear() {
  model_.clear();
  ListView_SetItemCountEx(hwnd_, 0, 0);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void CXVirtualList::select(int row, bool ensureVisible) {
  ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  if (row < 0 || size_t(row) >= model_.size()) return;
  ListView_SetItemState(hwnd_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_SetSelectionMark(hwnd_, row);
  if (ensureVisible) ListView_EnsureVisible(hwnd_, row, FALSE);
}

std::vector<int> CXVirtualList::selectedRows() const {
  std::vector<int> out;
  for (int i = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(hwnd_, i, LVNI_SELECTED)) {
    out.push_back(i);
  }
  return out;
}

bool CXVirtualList::clickColumn(int column) {
  bool ascending = !(column == model_.sortColumn() && model_.sortAscending());
  return sortBy(column, ascending);
}

bool CXVirtualList::sortBy(int column, bool ascending) {
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  bool sorted = model_.sortBy(column, ascending);
  SetCursor(old);
  if (!sorted) return false;
  updateHeader();
  InvalidateRect(hwnd_, nullptr, FALSE);
  return true;
}

void CXVirtualList::showSortArrow(int column, bool ascending) {
  model_.markSorted(column, ascending);
  updateHeader();
}

void CXVirtualList::updateHeader() {
  HWND h = header();
  if (!h) return;
  int n = Header_GetItemCount(h);
  for (int i = 0; i < n; ++i) {
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    Header_GetItem(h, i, &item);
    item.fmt |= HDF_OWNERDRAW;
    Header_SetItem(h, i, &item);
  }
  InvalidateRect(h, nullptr, TRUE);
}

void CXVirtualList::drawHeaderItem(const DRAWITEMSTRUCT* d) {
  HDC dc = d->hDC;
  RECT r = d->rcItem;
  fillSolid(dc, r, schemeColour(SchemeColour::kHeaderBackground));
  // Edges: light at the left, shadow at the right and bottom.
  fillSolid(dc, RECT{r.left, r.top, r.left + 1, r.bottom}, schemeColour(SchemeColour::kArrowLight));
  fillSolid(dc, RECT{r.right - 1, r.top, r.right, r.bottom}, schemeColour(SchemeColour::kShadow));
  fillSolid(dc, RECT{r.left, r.bottom - 1, r.right, r.bottom}, schemeColour(SchemeColour::kShadow));

  int column = int(d->itemID);
  wchar_t text[260] = {0};
  HDITEMW item = {};
  item.mask = HDI_TEXT | HDI_FORMAT;
  item.pszText = text;
  item.cchTextMax = 260;
  Header_GetItem(d->hwndItem, column, &item);

  LayoutRect area{r.left + 4, r.top, r.right - 4, r.bottom};
  if (column == model_.sortColumn()) {
    SortArrow a = sortArrow(LayoutRect{r.left, r.top, r.right, r.bottom}, model_.sortAscending());
    area.right = a.textArea.right - 2;
    POINT pts[3] = {{a.x[0], a.y[0]}, {a.x[1], a.y[1]}, {a.x[2], a.y[2]}};
    HBRUSH fillBrush = CreateSolidBrush(schemeColour(SchemeColour::kArrowFill));
    HPEN pen = CreatePen(PS_SOLID, 1, schemeColour(SchemeColour::kArrowDark));
    HGDIOBJ ob = SelectObject(dc, fillBrush), op = SelectObject(dc, pen);
    Polygon(dc, pts, 3);
    SelectObject(dc, ob);
    SelectObject(dc, op);
    DeleteObject(fillBrush);
    DeleteObject(pen);
    // The light edge on the side facing the light (left and top).
    HPEN light = CreatePen(PS_SOLID, 1, schemeColour(SchemeColour::kArrowLight));
    op = SelectObject(dc, light);
    if (model_.sortAscending()) {
      MoveToEx(dc, pts[0].x, pts[0].y + 1, nullptr);
      LineTo(dc, pts[2].x + 1, pts[2].y);
    } else {
      MoveToEx(dc, pts[0].x + 1, pts[0].y + 1, nullptr);
      LineTo(dc, pts[1].x, pts[1].y + 1);
    }
    SelectObject(dc, op);
    DeleteObject(light);
  }
  if (d->itemState & ODS_SELECTED) {
    area.left += 1;
    area.right += 1;
    area.top += 2;
    area.bottom += 2;
  }
  UINT align = DT_LEFT;
  if ((item.fmt & HDF_JUSTIFYMASK) == HDF_CENTER) align = DT_CENTER;
  if ((item.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT) align = DT_RIGHT;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, schemeColour(SchemeColour::kHeaderText));
  RECT tr = {area.left, area.top, area.right, area.bottom};
  DrawTextW(dc, text, -1, &tr, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX | align);
}

bool CXVirtualList::onParentNotify(NMHDR* n, LRESULT* result) {
  switch (n->code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(n)->item;
      if (item.iItem < 0 || size_t(item.iItem) >= model_.size()) return false;
      if (item.mask & LVIF_TEXT) {
        const std::u16string& t = model_.text(size_t(item.iItem), item.iSubItem);
        if (item.pszText && item.cchTextMax > 0) {
          size_t n2 = t.size() < size_t(item.cchTextMax - 1) ? t.size() : size_t(item.cchTextMax - 1);
          for (size_t k = 0; k < n2; ++k) item.pszText[k] = wchar_t(t[k]);
          item.pszText[n2] = 0;
        }
      }
      if ((item.mask & LVIF_IMAGE) && item.iSubItem == 0) {
        item.iImage = model_.row(size_t(item.iItem)).image;
      }
      *result = 0;
      return true;
    }
    case LVN_ODFINDITEMW:
      *result = -1;
      return true;
    case NM_CUSTOMDRAW: {
      auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(n);
      if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) {
        *result = CDRF_NOTIFYITEMDRAW;
        return true;
      }
      if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        size_t i = size_t(cd->nmcd.dwItemSpec);
        if (i < model_.size()) {
          cd->clrText = COLORREF(model_.row(i).text);
          cd->clrTextBk = COLORREF(model_.row(i).background);
        }
        *result = CDRF_NEWFONT;
        return true;
      }
      return false;
    }
    case LVN_COLUMNCLICK:
      if (onColumnClick_) onColumnClick_(reinterpret_cast<NMLISTVIEW*>(n)->iSubItem);
      else clickColumn(reinterpret_cast<NMLISTVIEW*>(n)->iSubItem);
      *result = 0;
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK CXVirtualList::parentProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam, UINT_PTR id, DWORD_PTR data) {
  auto* self = reinterpret_cast<CXVirtualList*>(data);
  if (message == WM_NOTIFY && self->hwnd_ &&
      reinterpret_cast<NMHDR*>(lparam)->hwndFrom == self->hwnd_) {
    LRESULT result = 0;
    if (self->onParentNotify(reinterpret_cast<NMHDR*>(lparam), &result)) return result;
  } else if (message == WM_NCDESTROY) {
    removeSubclass(window, parentProc, id);
    self->parent_ = nullptr;
  }
  return defSubclassProc(window, message, wparam, lparam);
}

LRESULT CALLBACK CXVirtualList::listProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CXVirtualList*>(data);
  switch (message) {
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lparam);
      if (d->CtlType == ODT_HEADER || d->hwndItem == self->header()) {
        self->drawHeaderItem(d);
        return TRUE;
      }
      break;
    }
    case WM_SIZE: {
      LRESULT r = defSubclassProc(window, message, wparam, lparam);
      self->applyFill();
      return r;
    }
    case kListRowColourQuery:
      return wparam < self->model_.size() ? LRESULT(self->model_.row(wparam).text) : -1;
    case WM_NCDESTROY:
      removeSubclass(window, listProc, kListSubclassId);
      if (self->parent_) {
        removeSubclass(self->parent_, parentProc, reinterpret_cast<UINT_PTR>(self));
      }
      self->hwnd_ = nullptr;
      self->parent_ = nullptr;
      break;
    default:
      break;
  }
  return defSubclassProc(window, message, wparam, lparam);
}

}  // namespace keldrun
