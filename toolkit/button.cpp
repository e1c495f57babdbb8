#include "toolkit/button.h"

#include <windowsx.h>

#include "toolkit/layout_model.h"
#include "toolkit/subclass.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

const UINT_PTR kSubclassId = 0x4B42;  // "KB"

RECT toRECT(const LayoutRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

void edge(HDC dc, const RECT& r, COLORREF light, COLORREF dark) {
  fillSolid(dc, RECT{r.left, r.top, r.right - 1, r.top + 1}, light);
  fillSolid(dc, RECT{r.left, r.top, r.left + 1, r.bottom - 1}, light);
  fillSolid(dc, RECT{r.left, r.bottom - 1, r.right, r.bottom}, dark);
  fillSolid(dc, RECT{r.right - 1, r.top, r.right, r.bottom}, dark);
}

}  // namespace

CXButton::~CXButton() { detach(); }

void CXButton::detach() {
  if (!hwnd_) return;
  removeSubclass(hwnd_, proc, kSubclassId);
  hwnd_ = nullptr;
}

bool CXButton::attach(HWND dialog, int id) {
  HWND w = GetDlgItem(dialog, id);
  if (!w) return false;
  detach();
  hwnd_ = w;
  // Owner drawing keeps the system from painting its own face between our paints.
  LONG style = GetWindowLongW(w, GWL_STYLE);
  SetWindowLongW(w, GWL_STYLE, (style & ~LONG(BS_TYPEMASK)) | BS_OWNERDRAW);
  subclassWindow(w, proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  InvalidateRect(w, nullptr, TRUE);
  return true;
}

bool CXButton::create(HWND parent, int id, const RECT& rect, const wchar_t* text, DWORD style) {
  if (!createChildControl(parent, id, rect, L"BUTTON", text, WS_CHILD | BS_OWNERDRAW | style)) {
    return false;
  }
  return attach(parent, id);
}

void CXButton::setIcon(HIMAGELIST images, int index) {
  images_ = images;
  icon_ = index;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CXButton::setFaceColour(Colour colour) {
  hasFace_ = true;
  face_ = colour;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CXButton::clearFaceColour() {
  hasFace_ = false;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CXButton::click() {
  HWND target = target_ ? target_ : GetParent(hwnd_);
  int id = GetDlgCtrlID(hwnd_);
  SendMessageW(target, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(hwnd_));
}

void CXButton::paint(HDC target) {
  OffscreenCanvas canvas(hwnd_, target);
  HDC dc = canvas.dc();
  if (!dc) return;
  const RECT& client = canvas.client();
  int w = client.right, h = client.bottom;

  bool enabled = IsWindowEnabled(hwnd_) != FALSE;
  bool down = state_.down();
  ButtonColours c = buttonColours(scheme(), state_.look(enabled), hasFace_, face_);
  fillSolid(dc, client, COLORREF(c.face));
  if (down) {
    edge(dc, client, COLORREF(c.darkEdge), COLORREF(c.lightEdge));
  } else {
    edge(dc, client, COLORREF(c.lightEdge), COLORREF(c.darkEdge));
  }

  std::u16string text = windowText(hwnd_);
  bool hasIcon = images_ && icon_ >= 0;
  ButtonContent layout =
      buttonContent(LayoutRect{0, 0, w, h}, hasIcon, !text.empty(), down);
  if (hasIcon) {
    if (enabled) {
      ImageList_Draw(images_, icon_, dc, layout.iconX, layout.iconY, ILD_TRANSPARENT);
    } else {
      IMAGELISTDRAWPARAMS p = {};
      p.cbSize = sizeof(p);
      p.himl = images_;
      p.i = icon_;
      p.hdcDst = dc;
      p.x = layout.iconX;
      p.y = layout.iconY;
      p.rgbBk = CLR_NONE;
      p.rgbFg = CLR_DEFAULT;
      p.fStyle = ILD_TRANSPARENT;
      p.fState = ILS_SATURATE;
      if (!ImageList_DrawIndirect(&p)) {
        ImageList_DrawEx(images_, icon_, dc, layout.iconX, layout.iconY, 16, 16, CLR_NONE,
                         GetSysColor(COLOR_GRAYTEXT), ILD_BLEND50);
      }
    }
  }
  if (!text.empty()) {
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, COLORREF(c.text));
    RECT tr = toRECT(layout.text);
    DrawTextW(dc, wide(text), int(text.size()), &tr,
              DT_SINGLELINE | DT_VCENTER | (layout.centreText ? DT_CENTER : DT_LEFT));
    SelectObject(dc, oldFont);
  }
  if (GetFocus() == hwnd_) {
    RECT fr = toRECT(layout.focus);
    DrawFocusRect(dc, &fr);
  }
  canvas.copyTo(target, client);
}

LRESULT CALLBACK CXButton::proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CXButton*>(data);
  if (message == WM_NCDESTROY) {
    LRESULT r = defSubclassProc(window, message, wparam, lparam);
    self->detach();
    return r;
  }
  return self->handle(message, wparam, lparam);
}

LRESULT CXButton::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: return onPaint(reinterpret_cast<HDC>(wparam));
    case WM_PRINTCLIENT: return onPrintClient(reinterpret_cast<HDC>(wparam));
    case WM_ERASEBKGND: return 1;
    case WM_MOUSEMOVE: return onMouseMove(lparam);
    case WM_MOUSELEAVE: return apply(state_.mouseLeft());
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: return apply(state_.buttonDown(IsWindowEnabled(hwnd_) != FALSE));
    case WM_LBUTTONUP: return onButtonUp(lparam);
    case WM_CAPTURECHANGED: return onCaptureChanged(reinterpret_cast<HWND>(lparam));
    case WM_KEYDOWN: return onKeyDown(wparam, lparam);
    case WM_KEYUP: return onKeyUp(wparam, lparam);
    case BM_CLICK: return onClickMessage();
    case WM_SETFOCUS:
    case WM_KILLFOCUS: return onFocus(message, wparam, lparam);
    case WM_ENABLE: return onEnable(wparam, lparam);
    case WM_SETTEXT: return onSetText(wparam, lparam);
    // The system would repaint through WM_DRAWITEM; our own paint is all there is.
    case BM_SETSTATE:
    case BM_SETSTYLE: return repaint();
    default: return byDefault(message, wparam, lparam);
  }
}

LRESULT CXButton::byDefault(UINT message, WPARAM wparam, LPARAM lparam) {
  return defSubclassProc(hwnd_, message, wparam, lparam);
}

LRESULT CXButton::onPaint(HDC given) {
  if (given) return onPrintClient(given);
  PAINTSTRUCT ps;
  paint(BeginPaint(hwnd_, &ps));
  EndPaint(hwnd_, &ps);
  return 0;
}

LRESULT CXButton::onPrintClient(HDC dc) {
  paint(dc);
  return 0;
}

bool CXButton::containsPoint(LPARAM point) const {
  POINT p = {GET_X_LPARAM(point), GET_Y_LPARAM(point)};
  RECT r;
  GetClientRect(hwnd_, &r);
  return PtInRect(&r, p) != FALSE;
}

LRESULT CXButton::onMouseMove(LPARAM point) { return apply(state_.mouseMoved(containsPoint(point))); }

LRESULT CXButton::onButtonUp(LPARAM point) { return apply(state_.buttonUp(containsPoint(point))); }

LRESULT CXButton::onCaptureChanged(HWND newOwner) {
  if (newOwner == hwnd_) return 0;
  return apply(state_.captureLost());
}

LRESULT CXButton::onKeyDown(WPARAM key, LPARAM lparam) {
  if (key != VK_SPACE) return byDefault(WM_KEYDOWN, key, lparam);
  return apply(state_.spaceDown());
}

LRESULT CXButton::onKeyUp(WPARAM key, LPARAM lparam) {
  // A space bar that went down elsewhere is the system's business.
  if (key != VK_SPACE || !state_.spaceHeld()) return byDefault(WM_KEYUP, key, lparam);
  return apply(state_.spaceUp());
}

LRESULT CXButton::onClickMessage() {
  if (IsWindowEnabled(hwnd_)) click();
  return 0;
}

LRESULT CXButton::onFocus(UINT message, WPARAM wparam, LPARAM lparam) {
  apply(state_.focusChanged(message == WM_SETFOCUS));
  return byDefault(message, wparam, lparam);
}

LRESULT CXButton::onEnable(WPARAM enabled, LPARAM lparam) {
  apply(state_.enabledChanged(enabled != 0));
  return byDefault(WM_ENABLE, enabled, lparam);
}

LRESULT CXButton::onSetText(WPARAM wparam, LPARAM lparam) {
  LRESULT r = byDefault(WM_SETTEXT, wparam, lparam);
  repaint();
  return r;
}

LRESULT CXButton::repaint() {
  InvalidateRect(hwnd_, nullptr, FALSE);
  return 0;
}

LRESULT CXButton::apply(const ButtonOutcome& outcome) {
  if (outcome.capture) {
    SetCapture(hwnd_);
    if (GetFocus() != hwnd_) SetFocus(hwnd_);
  }
  if (outcome.releaseCapture && GetCapture() == hwnd_) ReleaseCapture();
  if (outcome.trackLeave) {
    TRACKMOUSEEVENT t = {sizeof(t), TME_LEAVE, hwnd_, 0};
    TrackMouseEvent(&t);
  }
  if (outcome.repaint) repaint();
  if (outcome.clicked) click();
  return 0;
}

// ---- CXCheckBox ----

CXCheckBox::~CXCheckBox() {
  if (hwnd_) removeSubclass(hwnd_, proc, kSubclassId);
}

bool CXCheckBox::attach(HWND dialog, int id) {
  HWND w = GetDlgItem(dialog, id);
  if (!w) return false;
  if (hwnd_) removeSubclass(hwnd_, proc, kSubclassId);
  hwnd_ = w;
  state_ = int(SendMessageW(w, BM_GETCHECK, 0, 0));
  subclassWindow(w, proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  return true;
}

void CXCheckBox::setCheck(int state) {
  state_ = state;
  if (hwnd_) SendMessageW(hwnd_, BM_SETCHECK, WPARAM(state), 0);
}

LRESULT CALLBACK CXCheckBox::proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                  UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CXCheckBox*>(data);
  if (message == WM_NCDESTROY) {
    removeSubclass(window, proc, kSubclassId);
    self->hwnd_ = nullptr;
    return defSubclassProc(window, message, wparam, lparam);
  }
  if (message == BM_SETCHECK) self->state_ = int(wparam);
  LRESULT r = defSubclassProc(window, message, wparam, lparam);
  if (message == WM_LBUTTONUP || message == WM_KEYUP || message == BM_CLICK) {
    self->state_ = int(SendMessageW(window, BM_GETCHECK, 0, 0));
  }
  return r;
}

// ---- CXRadioGroup ----

CXRadioGroup::~CXRadioGroup() {
  for (HWND b : buttons_) removeSubclass(b, proc, kSubclassId);
}

bool CXRadioGroup::attach(HWND dialog, const std::vector<int>& ids) {
  for (HWND b : buttons_) removeSubclass(b, proc, kSubclassId);
  buttons_.clear();
  for (int id : ids) {
    HWND w = GetDlgItem(dialog, id);
    if (!w) return false;
    buttons_.push_back(w);
  }
  for (HWND b : buttons_) subclassWindow(b, proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  refresh();
  return true;
}

void CXRadioGroup::refresh() {
  value_ = -1;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    if (SendMessageW(buttons_[i], BM_GETCHECK, 0, 0) == BST_CHECKED) {
      value_ = int(i);
      break;
    }
  }
}

void CXRadioGroup::setValue(int index) {
  for (size_t i = 0; i < buttons_.size(); ++i) {
    SendMessageW(buttons_[i], BM_SETCHECK, int(i) == index ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  value_ = (index >= 0 && size_t(index) < buttons_.size()) ? index : -1;
}

void CXRadioGroup::enable(bool enabled) {
  for (HWND b : buttons_) EnableWindow(b, enabled);
}

LRESULT CALLBACK CXRadioGroup::proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                    UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CXRadioGroup*>(data);
  if (message == WM_NCDESTROY) {
    removeSubclass(window, proc, kSubclassId);
    for (HWND& b : self->buttons_) {
      if (b == window) b = nullptr;
    }
    return defSubclassProc(window, message, wparam, lparam);
  }
  LRESULT r = defSubclassProc(window, message, wparam, lparam);
  if (message == WM_LBUTTONUP || message == WM_KEYUP || message == BM_CLICK ||
      message == BM_SETCHECK) {
    // Auto radio buttons uncheck their siblings after the click; read the group again.
    self->value_ = -1;
    for (size_t i = 0; i < self->buttons_.size(); ++i) {
      if (self->buttons_[i] && SendMessageW(self->buttons_[i], BM_GETCHECK, 0, 0) == BST_CHECKED) {
        self->value_ = int(i);
        break;
      }
    }
  }
  return r;
}

}  // namespace keldrun
