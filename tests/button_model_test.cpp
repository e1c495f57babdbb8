// The program-drawn button's hover and press state: the mouse, the capture, the space bar, the
// focus and enabling, each sequence with the look it leaves and the clicks it gives.
#include "toolkit/button_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace keldrun {
namespace {

enum class Event {
  kEnter,        // the mouse moves inside
  kMoveOut,      // the mouse moves outside
  kLeave,        // the leave notice
  kPress,        // left button down on an enabled button
  kPressOff,     // left button down on a disabled button
  kReleaseIn,    // left button up inside
  kReleaseOut,   // left button up outside
  kCaptureLost,  // another window took the capture
  kSpaceDown,
  kSpaceUp,
  kFocusIn,
  kFocusOut,
  kDisable,
  kEnable,
};

// Runs the events on a new button; counts its clicks.
struct Driven {
  ButtonState state;
  int clicks = 0;
  bool enabled = true;
  std::vector<ButtonOutcome> outcomes;

  explicit Driven(const std::vector<Event>& events) {
    for (Event e : events) outcomes.push_back(step(e));
  }
  ButtonOutcome step(Event e) {
    ButtonOutcome o;
    switch (e) {
      case Event::kEnter: o = state.mouseMoved(true); break;
      case Event::kMoveOut: o = state.mouseMoved(false); break;
      case Event::kLeave: o = state.mouseLeft(); break;
      case Event::kPress: o = state.buttonDown(enabled); break;
      case Event::kPressOff: o = state.buttonDown(false); break;
      case Event::kReleaseIn: o = state.buttonUp(true); break;
      case Event::kReleaseOut: o = state.buttonUp(false); break;
      case Event::kCaptureLost: o = state.captureLost(); break;
      case Event::kSpaceDown: o = state.spaceDown(); break;
      case Event::kSpaceUp: o = state.spaceUp(); break;
      case Event::kFocusIn: o = state.focusChanged(true); break;
      case Event::kFocusOut: o = state.focusChanged(false); break;
      case Event::kDisable: enabled = false; o = state.enabledChanged(false); break;
      case Event::kEnable: enabled = true; o = state.enabledChanged(true); break;
    }
    if (o.clicked) clicks++;
    return o;
  }
};

struct SequenceCase {
  const char* name;
  std::vector<Event> events;
  ButtonLook look;
  bool hovering;
  bool pressed;  // pressed by the mouse with the mouse inside
  int clicks;
};

using E = Event;
using L = ButtonLook;

const SequenceCase kSequences[] = {
    {"new", {}, L::kNormal, false, false, 0},
    {"enter", {E::kEnter}, L::kHover, true, false, 0},
    {"enter, move out", {E::kEnter, E::kMoveOut}, L::kNormal, false, false, 0},
    {"enter, leave notice", {E::kEnter, E::kLeave}, L::kNormal, false, false, 0},
    {"press", {E::kEnter, E::kPress}, L::kPressed, true, true, 0},
    {"press, release inside", {E::kEnter, E::kPress, E::kReleaseIn}, L::kHover, true, false, 1},
    {"double press clicks twice",
     {E::kEnter, E::kPress, E::kReleaseIn, E::kPress, E::kReleaseIn}, L::kHover, true, false, 2},
    {"press, move out", {E::kEnter, E::kPress, E::kMoveOut}, L::kHover, true, false, 0},
    {"press, move out, leave notice keeps the hover",
     {E::kEnter, E::kPress, E::kMoveOut, E::kLeave}, L::kHover, true, false, 0},
    {"press, move out, back in", {E::kEnter, E::kPress, E::kMoveOut, E::kEnter}, L::kPressed, true, true, 0},
    {"press, move out, release outside",
     {E::kEnter, E::kPress, E::kMoveOut, E::kReleaseOut}, L::kNormal, false, false, 0},
    {"press, out and back, release inside",
     {E::kEnter, E::kPress, E::kMoveOut, E::kEnter, E::kReleaseIn}, L::kHover, true, false, 1},
    {"release without a press", {E::kEnter, E::kReleaseIn}, L::kHover, true, false, 0},
    {"capture lost while pressed", {E::kEnter, E::kPress, E::kCaptureLost}, L::kHover, true, false, 0},
    {"release after the capture was lost",
     {E::kEnter, E::kPress, E::kCaptureLost, E::kReleaseIn}, L::kHover, true, false, 0},
    {"press on a disabled button", {E::kEnter, E::kPressOff, E::kReleaseIn}, L::kHover, true, false, 0},
    {"disabled while pressed", {E::kEnter, E::kPress, E::kDisable}, L::kDisabled, false, false, 0},
    {"disabled while pressed, released, enabled",
     {E::kEnter, E::kPress, E::kDisable, E::kReleaseIn, E::kEnable}, L::kNormal, false, false, 0},
    {"enabling keeps the state", {E::kEnter, E::kPress, E::kEnable}, L::kPressed, true, true, 0},
    {"space down", {E::kSpaceDown}, L::kPressed, false, false, 0},
    {"space down and up", {E::kSpaceDown, E::kSpaceUp}, L::kNormal, false, false, 1},
    {"space held down repeats without a second click",
     {E::kSpaceDown, E::kSpaceDown, E::kSpaceUp, E::kSpaceUp}, L::kNormal, false, false, 1},
    {"space up alone", {E::kSpaceUp}, L::kNormal, false, false, 0},
    {"space down, focus lost, space up", {E::kSpaceDown, E::kFocusOut, E::kSpaceUp}, L::kNormal, false, false, 0},
    {"space down, focus gained, space up", {E::kSpaceDown, E::kFocusIn, E::kSpaceUp}, L::kNormal, false, false, 1},
    {"space down, disabled, space up", {E::kSpaceDown, E::kDisable, E::kEnable, E::kSpaceUp}, L::kNormal, false,
     false, 0},
    {"space while hovering", {E::kEnter, E::kSpaceDown}, L::kPressed, true, false, 0},
    {"disabled while hovering", {E::kEnter, E::kDisable}, L::kDisabled, false, false, 0},
};

TEST(ButtonState, SequencesGiveTheirLookAndClicks) {
  for (const SequenceCase& c : kSequences) {
    Driven run(c.events);
    EXPECT_EQ(run.state.look(run.enabled), c.look) << c.name;
    EXPECT_EQ(run.state.hovering(), c.hovering) << c.name;
    EXPECT_EQ(run.state.pressed(), c.pressed) << c.name;
    EXPECT_EQ(run.clicks, c.clicks) << c.name;
  }
}

TEST(ButtonState, DisabledLookWinsOverEveryOther) {
  for (const SequenceCase& c : kSequences) {
    Driven run(c.events);
    EXPECT_EQ(run.state.look(false), ButtonLook::kDisabled) << c.name;
  }
}

// What each event asks of the window: the capture with a press, its release with the end of it,
// one leave notice per entry, a repaint whenever the look may change and never when it cannot.
TEST(ButtonState, WindowWorkFollowsTheEvents) {
  Driven run({E::kEnter, E::kEnter, E::kPress, E::kMoveOut, E::kMoveOut, E::kReleaseOut, E::kLeave,
           E::kEnter});
  const std::vector<ButtonOutcome>& o = run.outcomes;
  EXPECT_TRUE(o[0].trackLeave && o[0].repaint);
  EXPECT_FALSE(o[1].trackLeave || o[1].repaint);  // still inside: nothing changes
  EXPECT_TRUE(o[2].capture && o[2].repaint);
  EXPECT_FALSE(o[2].releaseCapture || o[2].clicked);
  EXPECT_TRUE(o[3].repaint);  // no longer drawn pushed in
  EXPECT_FALSE(o[3].trackLeave);
  EXPECT_FALSE(o[4].repaint);
  EXPECT_TRUE(o[5].releaseCapture && o[5].repaint);
  EXPECT_FALSE(o[5].clicked || o[5].capture);
  EXPECT_FALSE(o[6].repaint);  // the release outside already ended the hover
  EXPECT_TRUE(o[7].trackLeave);

  Driven off({E::kPressOff, E::kReleaseIn, E::kCaptureLost, E::kSpaceUp});
  for (const ButtonOutcome& none : off.outcomes) {
    EXPECT_FALSE(none.capture || none.releaseCapture || none.trackLeave || none.repaint || none.clicked);
  }
  Driven keys({E::kSpaceDown, E::kSpaceDown, E::kSpaceUp, E::kFocusIn, E::kDisable});
  EXPECT_TRUE(keys.outcomes[0].repaint);
  EXPECT_FALSE(keys.outcomes[1].repaint);
  EXPECT_TRUE(keys.outcomes[2].repaint && keys.outcomes[2].clicked);
  EXPECT_FALSE(keys.outcomes[2].capture || keys.outcomes[2].releaseCapture);
  EXPECT_TRUE(keys.outcomes[3].repaint);  // the focus frame
  EXPECT_TRUE(keys.outcomes[4].repaint);
}

}  // namespace
}  // namespace keldrun
