#include "toolkit/dialog.h"

#include <commctrl.h>

#include <cstring>
#include <unordered_map>

#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

// The dialogs of this thread by window, for the message loop's lookup of every message's
// dialog: a window property would be a round trip to the Wine server each time.
thread_local std::unordered_map<HWND, CXDialogBase*> dialogs;

bool isChildWindow(HWND w) { return (GetWindowLongW(w, GWL_STYLE) & WS_CHILD) != 0; }

bool isEditControl(HWND w) {
  wchar_t name[16];
  return GetClassNameW(w, name, 16) && lstrcmpiW(name, L"Edit") == 0;
}

}  // namespace

// ---- DialogTemplate ----

DialogTemplate::DialogTemplate(DWORD style, int x, int y, int cx, int cy,
                               const std::u16string& caption, DWORD exStyle) {
  style |= DS_SETFONT;
  word(LOWORD(style));
  word(HIWORD(style));
  word(LOWORD(exStyle));
  word(HIWORD(exStyle));
  countAt_ = data_.size();
  word(0);
  word(uint16_t(x));
  word(uint16_t(y));
  word(uint16_t(cx));
  word(uint16_t(cy));
  word(0);  // no menu
  word(0);  // the standard dialog class
  text(wide(caption));
  word(8);
  text(L"MS Shell Dlg");
}

void DialogTemplate::add(const wchar_t* windowClass, int id, DWORD style, int x, int y, int cx,
                         int cy, const std::u16string& caption, DWORD exStyle) {
  align();
  style |= WS_CHILD;
  word(LOWORD(style));
  word(HIWORD(style));
  word(LOWORD(exStyle));
  word(HIWORD(exStyle));
  word(uint16_t(x));
  word(uint16_t(y));
  word(uint16_t(cx));
  word(uint16_t(cy));
  word(uint16_t(id));
  text(windowClass);
  text(wide(caption));
  word(0);  // no creation data
  data_[countAt_]++;
}

const DLGTEMPLATE* DialogTemplate::get() const {
  return reinterpret_cast<const DLGTEMPLATE*>(data_.data());
}

void DialogTemplate::word(uint16_t w) { data_.push_back(w); }

void DialogTemplate::text(const wchar_t* s) {
  for (; s && *s; ++s) data_.push_back(uint16_t(*s));
  data_.push_back(0);
}

void DialogTemplate::align() {
  if (data_.size() % 2) data_.push_back(0);
}

// ---- CXDialogBase ----

CXDialogBase::CXDialogBase(int templateId) : templateId_(templateId) {}

CXDialogBase::CXDialogBase(const DialogTemplate& tmpl) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(tmpl.get());
  template_.assign(bytes, bytes + tmpl.byteSize());
}

void CXDialogBase::useTemplate(const DialogTemplate& tmpl) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(tmpl.get());
  template_.assign(bytes, bytes + tmpl.byteSize());
}

CXDialogBase::~CXDialogBase() {
  if (hwnd_) {
    dialogs.erase(hwnd_);
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    HWND w = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(w);
  }
}

HWND CXDialogBase::createWindow(HWND parent) {
  if (!template_.empty()) {
    // The copy is kept in a vector of bytes whose storage is suitably aligned for the template.
    return CreateDialogIndirectParamW(toolkitInstance(),
                                      reinterpret_cast<const DLGTEMPLATE*>(template_.data()),
                                      parent, dialogProc, reinterpret_cast<LPARAM>(this));
  }
  return CreateDialogParamW(toolkitInstance(), MAKEINTRESOURCEW(templateId_), parent, dialogProc,
                            reinterpret_cast<LPARAM>(this));
}

bool CXDialogBase::create(HWND parent) {
  if (hwnd_) return true;
  modal_ = false;
  return createWindow(parent) != nullptr;
}

INT_PTR CXDialogBase::runModal(HWND owner) {
  if (hwnd_) return -1;
  modal_ = true;
  ended_ = false;
  result_ = -1;
  if (!createWindow(owner)) {
    modal_ = false;
    return -1;
  }
  bool reenable = owner && IsWindowEnabled(owner);
  if (reenable) EnableWindow(owner, FALSE);
  if (!ended_) ShowWindow(hwnd_, SW_SHOW);
  MSG msg;
  while (!ended_ && hwnd_) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // The quit request belongs to the loop outside this dialog: hand it on.
      if (got == 0) PostQuitMessage(int(msg.wParam));
      result_ = -1;
      break;
    }
    if (preTranslate(&msg)) continue;
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (reenable) EnableWindow(owner, TRUE);
  if (hwnd_) {
    HWND w = hwnd_;
    ShowWindow(w, SW_HIDE);
    DestroyWindow(w);
  }
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  modal_ = false;
  return result_;
}

void CXDialogBase::endDialog(INT_PTR result) {
  result_ = result;
  if (modal_) {
    ended_ = true;
    if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
  } else {
    destroy();
  }
}

void CXDialogBase::destroy() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void CXDialogBase::addTooltip(int id, const std::u16string& text) {
  if (!tooltip_ || !item(id)) return;
  TTTOOLINFOW info = {};
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.uFlags = TTF_IDISHWND;
  info.hwnd = hwnd_;
  info.uId = reinterpret_cast<UINT_PTR>(item(id));
  info.lpszText = const_cast<wchar_t*>(wide(text));
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

CXDialogBase* CXDialogBase::fromHandle(HWND window) {
  for (HWND w = window; w; w = isChildWindow(w) ? GetParent(w) : nullptr) {
    auto it = dialogs.find(w);
    if (it != dialogs.end()) return it->second;
  }
  return nullptr;
}

bool CXDialogBase::routeKey(HWND from, int id) {
  for (HWND w = from; w; w = isChildWindow(w) ? GetParent(w) : nullptr) {
    HWND control = GetDlgItem(w, id);
    if (!control) continue;
    if (!IsWindowEnabled(control)) return false;
    SendMessageW(w, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return true;
  }
  return false;
}

bool CXDialogBase::preTranslate(MSG* msg) {
  if (!msg->hwnd) return false;
  CXDialogBase* dialog = fromHandle(msg->hwnd);
  if (!dialog) return false;
  switch (msg->message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      for (CXDialogBase* d = dialog; d;) {
        if (d->tooltip_) {
          SendMessageW(d->tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
          break;
        }
        HWND parent = isChildWindow(d->hwnd_) ? GetParent(d->hwnd_) : nullptr;
        d = parent ? fromHandle(parent) : nullptr;
      }
      return false;
    case WM_KEYDOWN:
      if (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE) {
        routeKey(dialog->hwnd_, msg->wParam == VK_RETURN ? IDOK : IDCANCEL);
        return true;
      }
      return false;
    default:
      return false;
  }
}

void CXDialogBase::onCommand(int id, int code, HWND control) {
  // A child page leaves Enter and Escape to the dialog that holds it.
  if (hwnd_ && isChildWindow(hwnd_)) return;
  // Only a click (or a routed key) means OK or Cancel: an edit control with id 1 also reports
  // focus and changes under that id.
  if (code != BN_CLICKED) return;
  if (id == IDOK) onOk();
  else if (id == IDCANCEL) onCancel();
}

INT_PTR CALLBACK CXDialogBase::dialogProc(HWND window, UINT message, WPARAM wparam,
                                          LPARAM lparam) {
  CXDialogBase* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CXDialogBase*>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    dialogs[window] = self;
    self->hwnd_ = window;
  } else {
    self = reinterpret_cast<CXDialogBase*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  if (!self) return FALSE;
  return self->handle(message, wparam, lparam);
}

INT_PTR CXDialogBase::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  bool handled = false;
  INT_PTR own = onMessage(message, wparam, lparam, &handled);
  if (handled) return own;
  HBRUSH brush = background_ ? background_ : dialogBrush();
  switch (message) {
    case WM_INITDIALOG:
      tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                 WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                 toolkitInstance(), nullptr);
      return onInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      onCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return TRUE;
    case WM_NOTIFY: {
      LRESULT result = onNotify(reinterpret_cast<NMHDR*>(lparam), &handled);
      if (!handled) return FALSE;
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_SIZE:
      onSize(LOWORD(lparam), HIWORD(lparam));
      return TRUE;
    case WM_TIMER:
      onTimer(wparam);
      return TRUE;
    case WM_ERASEBKGND:
      if (transparent_) return TRUE;
      if (brush) {
        RECT r;
        GetClientRect(hwnd_, &r);
        FillRect(reinterpret_cast<HDC>(wparam), &r, brush);
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORDLG:
      if (transparent_) return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
      return reinterpret_cast<INT_PTR>(brush);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      HWND control = reinterpret_cast<HWND>(lparam);
      if (message == WM_CTLCOLORSTATIC && isEditControl(control)) {
        // Read-only and disabled edit fields.
        if (!dialogBrush()) return FALSE;
        SetBkColor(dc, schemeColour(SchemeColour::kDialogBackground));
        return reinterpret_cast<INT_PTR>(dialogBrush());
      }
      SetBkMode(dc, TRANSPARENT);
      if (transparent_ || !brush) return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
      return reinterpret_cast<INT_PTR>(brush);
    }
    case WM_CLOSE:
      if (isChildWindow(hwnd_)) return TRUE;
      if (HWND cancel = item(IDCANCEL)) {
        if (IsWindowEnabled(cancel)) onCommand(IDCANCEL, BN_CLICKED, cancel);
      } else {
        onCancel();
      }
      return TRUE;
    case WM_DESTROY:
      onDestroy();
      return FALSE;
    case WM_NCDESTROY:
      dialogs.erase(hwnd_);
      SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
      hwnd_ = nullptr;
      tooltip_ = nullptr;  // owned, destroyed with the dialog
      if (modal_) ended_ = true;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace keldrun
