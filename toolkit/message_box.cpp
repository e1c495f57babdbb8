#include "toolkit/message_box.h"

#include "base/text.h"
#include "toolkit/button.h"
#include "toolkit/dialog.h"
#include "toolkit/resource_ids.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

HWND gOpenBox = nullptr;

DialogTemplate builtInTemplate() {
  DialogTemplate t(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 200, 80, u"Warning");
  t.add(L"STATIC", kMessageTextId, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 40, 10, 150, 10);
  t.add(L"STATIC", kMessageIconId, WS_VISIBLE | SS_ICON, 8, 8, 20, 20);
  t.add(L"BUTTON", kMessageButton1, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 10, 55, 50, 14, u"Ok");
  t.add(L"BUTTON", kMessageButton2, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 70, 55, 50, 14, u"No");
  t.add(L"BUTTON", kMessageButton3, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 130, 55, 50, 14,
        u"Cancel");
  return t;
}

bool hasResourceTemplate() {
  return FindResourceW(toolkitInstance(), MAKEINTRESOURCEW(IDD_MESSAGE_BOX), MAKEINTRESOURCEW(5)) !=
         nullptr;
}

class MessageBoxDialog : public CXDialogBase {
 public:
  MessageBoxDialog(const std::u16string& text, int buttonSet, MessageBoxKind kind, bool fromResource)
      : CXDialogBase(IDD_MESSAGE_BOX), text_(text), buttonSet_(buttonSet), kind_(kind) {
    if (!fromResource) useTemplate(builtInTemplate());
  }

  int result = kResultOpen;
  HWND owner = nullptr;

  // Presses the focused button; false when the focus is on none of them.
  bool pressFocused() {
    HWND focus = GetFocus();
    for (int id : {kMessageButton1, kMessageButton2, kMessageButton3}) {
      if (focus == item(id) && IsWindowVisible(focus)) {
        result = messageResultForButton(id);
        return true;
      }
    }
    return false;
  }

 protected:
  bool onInitDialog() override {
    // The text is in the box's own font, which its template names and the system scales; the
    // layout is made at 100 % scale (the texts measured back to it) and placed at the display's.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
    MessageBoxLayout layout = layoutMessageBox(text_, buttonSet_, kind_, [font](const std::u16string& line) {
      return (textWidth(font, line) * 96 + displayDpi() - 1) / displayDpi();  // rounded up
    });
    SetWindowTextW(hwnd(), wide(std::u16string(messageCaption(kind_))));

    HWND textControl = item(kMessageTextId);
    SendMessageW(textControl, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    std::u16string shown;
    for (const std::u16string& line : messageLines(text_)) {
      if (!shown.empty()) shown += u"\r\n";
      shown += line;
    }
    SetWindowTextW(textControl, wide(shown));
    place(textControl, layout.text);

    const wchar_t* iconName = kind_ == MessageBoxKind::kError         ? IDI_HAND
                              : kind_ == MessageBoxKind::kInformation ? IDI_ASTERISK
                                                                   : IDI_EXCLAMATION;
    HWND icon = item(kMessageIconId);
    SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, iconName)), 0);
    SetWindowPos(icon, nullptr, dpiScale(20), dpiScale(20), dpiScale(32), dpiScale(32), SWP_NOZORDER | SWP_NOACTIVATE);

    int ids[3] = {kMessageButton1, kMessageButton2, kMessageButton3};
    for (int i = 0; i < 3; ++i) {
      const MessageButton* spec = nullptr;
      for (const MessageButton& b : layout.buttons) {
        if (b.id == ids[i]) spec = &b;
      }
      HWND w = item(ids[i]);
      if (!spec) {
        ShowWindow(w, SW_HIDE);
        EnableWindow(w, FALSE);
        continue;
      }
      buttons_[i].attach(hwnd(), ids[i]);
      SetWindowTextW(w, wide(spec->text));
      buttons_[i].setIcon(buttonImages(), spec->icon);
      place(w, spec->rect);
      ShowWindow(w, SW_SHOW);
    }

    // The box: text width + 90 wide, 15 per line + 110 high, centred on its owner or the screen.
    RECT area;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
      GetWindowRect(owner, &area);
    } else {
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    int width = dpiScale(layout.width), height = dpiScale(layout.height);
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(hwnd(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    cancelFocus_ = layout.cancelHasFocus;
    applyFocus();
    return false;
  }

 public:
  // Activates the box with the focus on Cancel (when it is the default) or the first button;
  // called again once the box is shown, since showing it moves the focus.
  void applyFocus() {
    if (cancelFocus_) {
      SetForegroundWindow(hwnd());
      SetActiveWindow(hwnd());
      SetFocus(item(kMessageButton3));
    } else {
      SetFocus(item(kMessageButton1));
    }
  }

 protected:

  void onCommand(int id, int code, HWND control) override {
    if (id == kMessageButton1 || id == kMessageButton2 || id == kMessageButton3) {
      result = messageResultForButton(id);
    } else if (id == IDCANCEL) {
      result = kResultCancel;
    }
  }
  void onCancel() override { result = kResultCancel; }
  void onOk() override {}

 private:
  static void place(HWND w, const LayoutRect& r) {
    SetWindowPos(w, nullptr, dpiScale(r.left), dpiScale(r.top), dpiScale(r.right) - dpiScale(r.left),
                 dpiScale(r.bottom) - dpiScale(r.top), SWP_NOZORDER | SWP_NOACTIVATE);
  }

  std::u16string text_;
  int buttonSet_;
  MessageBoxKind kind_;
  bool cancelFocus_ = false;
  CXButton buttons_[3];
};

HWND findOwner() {
  HWND owner = mainWindow();
  if (!owner) owner = GetActiveWindow();
  if (!owner) return nullptr;
  HWND popup = GetLastActivePopup(owner);
  return (popup && IsWindowVisible(popup)) ? popup : owner;
}

}  // namespace

HWND openMessageBox() { return gOpenBox; }

int showMessage(const std::u16string& text, int buttonSet, MessageBoxKind kind) {
  MessageBoxDialog box(text, buttonSet, kind, hasResourceTemplate());
  HWND owner = findOwner();
  box.owner = owner;
  HWND previousBox = gOpenBox;
  // Without an owner the box is simply modal on its own.
  bool reenable = owner && IsWindowEnabled(owner);
  if (reenable) EnableWindow(owner, FALSE);
  if (!box.create(owner)) {
    if (reenable) EnableWindow(owner, TRUE);
    return kResultOpen;
  }
  gOpenBox = box.hwnd();
  ShowWindow(box.hwnd(), SW_SHOW);
  box.applyFocus();

  bool stop = false;
  bool requeueQuit = false;
  int quitCode = 0;
  MSG closeFor = {};
  bool requeueClose = false;
  while (!stop && box.result == kResultOpen && box.isOpen()) {
    MSG msg;
    bool took = false;
    while (!stop && box.result == kResultOpen && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      took = true;
      if (msg.message == WM_QUIT) {
        requeueQuit = true;
        quitCode = int(msg.wParam);
        stop = true;
        break;
      }
      if (msg.message == WM_CLOSE) {
        // A close request ends the box; one meant for another window is handed on afterwards.
        if (msg.hwnd && msg.hwnd != box.hwnd()) {
          closeFor = msg;
          requeueClose = true;
        }
        stop = true;
        break;
      }
      if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        box.result = kResultCancel;
        break;
      }
      if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && box.pressFocused()) break;
      if (CXDialogBase::preTranslate(&msg)) continue;
      if (box.isOpen() && IsDialogMessageW(box.hwnd(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (stop || box.result != kResultOpen || !box.isOpen()) break;
    if (!took) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }

  int result = box.result;
  if (reenable) EnableWindow(owner, TRUE);
  if (box.isOpen()) {
    ShowWindow(box.hwnd(), SW_HIDE);
    box.destroy();
  }
  gOpenBox = previousBox;
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  if (requeueClose) PostMessageW(closeFor.hwnd, WM_CLOSE, closeFor.wParam, closeFor.lParam);
  if (requeueQuit) PostQuitMessage(quitCode);
  return result;
}

int showInfo(const std::u16string& text) {
  return showMessage(text, kButtonsOk, MessageBoxKind::kInformation);
}

int showError(const std::u16string& text) {
  return showMessage(text, kButtonsOk, MessageBoxKind::kError);
}

int showWarning(const std::u16string& text, int buttonSet) {
  return showMessage(text, buttonSet, MessageBoxKind::kWarning);
}

void showShellMessage(const ShellMessage& message) {
  std::u16string text = fromUtf8(message.text);
  switch (message.kind) {
    case MessageKind::None: return;
    case MessageKind::Error: showError(text); return;
    case MessageKind::Warning: showWarning(text); return;
    case MessageKind::Information: showInfo(text); return;
  }
}

}  // namespace keldrun
