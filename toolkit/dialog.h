// CXDialogBase: the program's dialog, top-level or a child page, with its own modal loop.
//
// A dialog comes from a dialog resource or from an in-memory DialogTemplate. It adds a tooltip
// control, routes Enter and Escape (below), paints itself with the scheme's first brush and draws
// static texts transparent. Derived classes override the on...() hooks.
//
// Key routing: Enter and Escape never reach the controls. Starting at the dialog that holds the
// focused window and going up through its parent windows (never past a top-level window), the
// first window that has a control with id 1 (Enter) or 2 (Escape) receives a command for that id,
// but only when that control is enabled; the key is consumed in every case.
#ifndef KELDRUN_TOOLKIT_DIALOG_H_
#define KELDRUN_TOOLKIT_DIALOG_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace keldrun {

// Builds a DLGTEMPLATE in memory (dialog units, "MS Shell Dlg" 8 points).
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, int x, int y, int cx, int cy, const std::u16string& caption,
                 DWORD exStyle = 0);
  // Adds a control of a window class ("BUTTON", "STATIC", "EDIT", WC_TREEVIEWW, ...).
  void add(const wchar_t* windowClass, int id, DWORD style, int x, int y, int cx, int cy,
           const std::u16string& text = std::u16string(), DWORD exStyle = 0);
  const DLGTEMPLATE* get() const;
  size_t byteSize() const { return data_.size() * sizeof(uint16_t); }

 private:
  void word(uint16_t w);
  void text(const wchar_t* s);
  void align();
  std::vector<uint16_t> data_;
  size_t countAt_ = 0;
};

class CXDialogBase {
 public:
  // A dialog from the resource template `templateId` of the toolkit's module.
  explicit CXDialogBase(int templateId);
  // A dialog from an in-memory template (copied).
  explicit CXDialogBase(const DialogTemplate& tmpl);
  virtual ~CXDialogBase();
  CXDialogBase(const CXDialogBase&) = delete;
  CXDialogBase& operator=(const CXDialogBase&) = delete;

  // Makes the dialog come from an in-memory template instead (before it is created).
  void useTemplate(const DialogTemplate& tmpl);

  // Runs the dialog modally above `owner` (disabled meanwhile) and returns the value given to
  // endDialog(); -1 when the dialog cannot be created. A WM_QUIT taken by the loop ends the
  // dialog with -1 and is posted again for the loop outside.
  INT_PTR runModal(HWND owner);
  // Creates the dialog modeless: a child page when its template has WS_CHILD. False on failure.
  bool create(HWND parent);
  // Ends a modal run with `result`; destroys a modeless dialog.
  void endDialog(INT_PTR result);
  void destroy();

  HWND hwnd() const { return hwnd_; }
  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  // A rectangle given in the dialog's units (a quarter of its font's average character width,
  // an eighth of its height) in the dialog's pixels: what code places beside the template's
  // controls scales with them.
  RECT fromUnits(int left, int top, int right, int bottom) const {
    RECT r = {left, top, right, bottom};
    MapDialogRect(hwnd_, &r);
    return r;
  }
  bool isOpen() const { return hwnd_ != nullptr; }

  // Adds a tooltip for a child control.
  void addTooltip(int id, const std::u16string& text);
  HWND tooltip() const { return tooltip_; }
  // A transparent dialog paints no background of its own.
  void setTransparentBackground(bool transparent) { transparent_ = transparent; }
  // The brush the dialog paints with; the first scheme brush unless set.
  void setBackground(HBRUSH brush) { background_ = brush; }

  // The toolkit dialog that owns `window` (itself or its nearest ancestor), or null.
  static CXDialogBase* fromHandle(HWND window);
  // Looks at a message taken from the queue before it is dispatched: relays mouse messages to
  // the tooltip and routes Enter and Escape. True when the message is consumed.
  static bool preTranslate(MSG* msg);
  // Sends the routed command for `id` (1 or 2) starting at window `from`; true when some
  // enabled control took it.
  static bool routeKey(HWND from, int id);

 protected:
  // Called once the controls exist. Return true to let the system set the focus.
  virtual bool onInitDialog() { return true; }
  // Commands from controls and routed keys. The default ends a top-level dialog on a click of
  // 1 (onOk) or 2 (onCancel); other notification codes under those ids are ignored.
  virtual void onCommand(int id, int code, HWND control);
  virtual void onOk() { endDialog(IDOK); }
  virtual void onCancel() { endDialog(IDCANCEL); }
  // Notifications from controls; set *handled to return the result.
  virtual LRESULT onNotify(NMHDR* header, bool* handled) { return 0; }
  virtual void onSize(int width, int height) {}
  virtual void onTimer(UINT_PTR id) {}
  virtual void onDestroy() {}
  // First look at every message; set *handled to stop the default handling.
  virtual INT_PTR onMessage(UINT message, WPARAM wparam, LPARAM lparam, bool* handled) {
    return 0;
  }

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
  HWND createWindow(HWND parent);

  int templateId_ = 0;
  std::vector<uint8_t> template_;
  HWND hwnd_ = nullptr;
  HWND tooltip_ = nullptr;
  HBRUSH background_ = nullptr;
  bool transparent_ = false;
  bool modal_ = false;
  bool ended_ = false;
  INT_PTR result_ = -1;
};

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_DIALOG_H_
