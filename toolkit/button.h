// CXButton (program-drawn push button with an icon), the check box and the radio group.
#ifndef KELDRUN_TOOLKIT_BUTTON_H_
#define KELDRUN_TOOLKIT_BUTTON_H_

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "toolkit/button_model.h"

namespace keldrun {

// A push button drawn by the program: an optional 16x16 icon from an image list, hover,
// pressed and disabled looks, an optional custom face colour. A click (press and release inside
// it, a space bar press, or BM_CLICK) sends WM_COMMAND with its id and BN_CLICKED to its parent or
// to the notification target.
class CXButton {
 public:
  CXButton() = default;
  ~CXButton();
  CXButton(const CXButton&) = delete;
  CXButton& operator=(const CXButton&) = delete;

  // Takes over the button `id` of `dialog`; false when there is none.
  bool attach(HWND dialog, int id);
  // Creates a new button.
  bool create(HWND parent, int id, const RECT& rect, const wchar_t* text,
              DWORD style = WS_VISIBLE | WS_TABSTOP);
  HWND hwnd() const { return hwnd_; }

  // Icon index -1 = no icon.
  void setIcon(HIMAGELIST images, int index);
  int icon() const { return icon_; }
  void setFaceColour(Colour colour);
  void clearFaceColour();
  void setNotifyTarget(HWND target) { target_ = target; }

  // The look it is drawn in now.
  bool hovering() const { return state_.hovering(); }
  bool pressed() const { return state_.pressed(); }

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT byDefault(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT onPaint(HDC given);
  LRESULT onPrintClient(HDC dc);
  LRESULT onMouseMove(LPARAM point);
  LRESULT onButtonUp(LPARAM point);
  LRESULT onCaptureChanged(HWND newOwner);
  LRESULT onKeyDown(WPARAM key, LPARAM lparam);
  LRESULT onKeyUp(WPARAM key, LPARAM lparam);
  LRESULT onClickMessage();
  LRESULT onFocus(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT onEnable(WPARAM enabled, LPARAM lparam);
  LRESULT onSetText(WPARAM wparam, LPARAM lparam);
  LRESULT repaint();
  // Carries out what the state asks for after an event; always 0, the result of every mouse
  // message the button takes.
  LRESULT apply(const ButtonOutcome& outcome);
  bool containsPoint(LPARAM point) const;
  void paint(HDC dc);
  void click();
  void detach();

  HWND hwnd_ = nullptr;
  HWND target_ = nullptr;
  HIMAGELIST images_ = nullptr;
  int icon_ = -1;
  bool hasFace_ = false;
  Colour face_ = 0;
  ButtonState state_;
};

// A check box whose state the object keeps (0 unchecked, 1 checked, 2 indeterminate). The state
// follows clicks and BM_SETCHECK.
class CXCheckBox {
 public:
  ~CXCheckBox();
  bool attach(HWND dialog, int id);
  HWND hwnd() const { return hwnd_; }
  void setCheck(int state);
  int check() const { return state_; }

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  HWND hwnd_ = nullptr;
  int state_ = 0;
};

// A group of radio buttons; its value is the index of the checked one (-1 when none).
class CXRadioGroup {
 public:
  ~CXRadioGroup();
  bool attach(HWND dialog, const std::vector<int>& ids);
  void setValue(int index);
  int value() const { return value_; }
  void enable(bool enabled);

 private:
  static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void refresh();
  std::vector<HWND> buttons_;
  int value_ = -1;
};

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_BUTTON_H_
