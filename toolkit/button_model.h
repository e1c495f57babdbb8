// What a program-drawn push button does with the mouse, the capture, the space bar, the focus
// and enabling, apart from its window: whether it is hovered or pressed, which look it is drawn
// in, and when it is clicked.
#ifndef KELDRUN_TOOLKIT_BUTTON_MODEL_H_
#define KELDRUN_TOOLKIT_BUTTON_MODEL_H_

#include "toolkit/scheme_model.h"

namespace keldrun {

// What the window must do after an event.
struct ButtonOutcome {
  bool capture = false;         // take the mouse capture and the focus
  bool releaseCapture = false;  // give the mouse capture back
  bool trackLeave = false;      // the mouse came in: ask to be told when it leaves
  bool repaint = false;         // the look may have changed
  bool clicked = false;         // send the click to the button's target
};

// A press lasts from the left button going down on the button until it comes up, the capture
// goes elsewhere or the button is disabled. Released inside, it clicks. The space bar presses the
// button as well and clicks when it comes up, unless the focus left in between.
class ButtonState {
 public:
  // The mouse moved; inside tells whether it is over the button.
  ButtonOutcome mouseMoved(bool inside);
  // The mouse left the button's window.
  ButtonOutcome mouseLeft();
  // The left button went down (or double-clicked) on the button; nothing when disabled.
  ButtonOutcome buttonDown(bool enabled);
  // The left button came up, inside the button or not; nothing unless a press is under way.
  ButtonOutcome buttonUp(bool inside);
  // The mouse capture went to another window.
  ButtonOutcome captureLost();
  ButtonOutcome spaceDown();
  // The space bar came up; nothing unless it went down while the button had the focus.
  ButtonOutcome spaceUp();
  ButtonOutcome focusChanged(bool gained);
  // Disabling ends every press and the hover.
  ButtonOutcome enabledChanged(bool enabled);

  bool hovering() const { return hover_; }
  // A mouse press with the mouse still inside.
  bool pressed() const { return pressed_ && inside_; }
  bool spaceHeld() const { return spaceDown_; }
  // Drawn pushed in: pressed by the mouse inside, or by the space bar.
  bool down() const { return pressed() || spaceDown_; }
  ButtonLook look(bool enabled) const;

 private:
  bool hover_ = false;
  bool pressed_ = false;  // the left button went down on it and is still down
  bool inside_ = false;   // the mouse is inside while pressed
  bool spaceDown_ = false;
};

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_BUTTON_MODEL_H_
