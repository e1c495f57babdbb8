#include "toolkit/button_model.h"

namespace keldrun {

ButtonOutcome ButtonState::mouseMoved(bool inside) {
  ButtonOutcome o;
  if (pressed_ && inside != inside_) {
    inside_ = inside;
    o.repaint = true;
  }
  if (inside && !hover_) {
    hover_ = true;
    o.trackLeave = o.repaint = true;
  } else if (!inside && hover_ && !pressed_) {
    // While pressed the button keeps its hover: the press may still come back inside.
    hover_ = false;
    o.repaint = true;
  }
  return o;
}

ButtonOutcome ButtonState::mouseLeft() {
  ButtonOutcome o;
  if (hover_ && !pressed_) {
    hover_ = false;
    o.repaint = true;
  }
  return o;
}

ButtonOutcome ButtonState::buttonDown(bool enabled) {
  ButtonOutcome o;
  if (!enabled) return o;
  pressed_ = inside_ = true;
  o.capture = o.repaint = true;
  return o;
}

ButtonOutcome ButtonState::buttonUp(bool inside) {
  ButtonOutcome o;
  if (!pressed_) return o;
  pressed_ = inside_ = false;
  hover_ = inside;
  o.releaseCapture = o.repaint = true;
  o.clicked = inside;
  return o;
}

ButtonOutcome ButtonState::captureLost() {
  ButtonOutcome o;
  if (pressed_) {
    pressed_ = inside_ = false;
    o.repaint = true;
  }
  return o;
}

ButtonOutcome ButtonState::spaceDown() {
  ButtonOutcome o;
  if (!spaceDown_) {
    spaceDown_ = true;
    o.repaint = true;
  }
  return o;
}

ButtonOutcome ButtonState::spaceUp() {
  ButtonOutcome o;
  if (spaceDown_) {
    spaceDown_ = false;
    o.repaint = o.clicked = true;
  }
  return o;
}

ButtonOutcome ButtonState::focusChanged(bool gained) {
  // The focus frame comes or goes; a space press ends without a click when the focus leaves.
  if (!gained) spaceDown_ = false;
  ButtonOutcome o;
  o.repaint = true;
  return o;
}

ButtonOutcome ButtonState::enabledChanged(bool enabled) {
  if (!enabled) hover_ = pressed_ = inside_ = spaceDown_ = false;
  ButtonOutcome o;
  o.repaint = true;
  return o;
}

ButtonLook ButtonState::look(bool enabled) const {
  if (!enabled) return ButtonLook::kDisabled;
  if (down()) return ButtonLook::kPressed;
  return hover_ ? ButtonLook::kHover : ButtonLook::kNormal;
}

}  // namespace keldrun
