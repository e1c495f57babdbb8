// What the program's message box decides, apart from any window: captions, buttons, results and
// the layout that sizes the box to its text.
#ifndef KELDRUN_TOOLKIT_MESSAGE_BOX_MODEL_H_
#define KELDRUN_TOOLKIT_MESSAGE_BOX_MODEL_H_

#include <functional>
#include <string>
#include <vector>

#include "toolkit/layout_model.h"

namespace keldrun {

enum class MessageBoxKind { kError, kWarning, kInformation };

// Button sets.
constexpr int kButtonsOk = 0;
constexpr int kButtonsYesNoCancel = 3;
constexpr int kButtonsYesNo = 4;
// Added to a button set: the third button is the default.
constexpr int kDefaultThirdButton = 0x100;

// Results.
constexpr int kResultOpen = -1;
constexpr int kResultCancel = 2;  // Cancel, Escape, the close button
constexpr int kResultYes = 6;     // "Ok" or "Yes"
constexpr int kResultNo = 7;

// Control ids of the box.
constexpr int kMessageTextId = 10001;
constexpr int kMessageIconId = 10002;
constexpr int kMessageButton1 = 20003;
constexpr int kMessageButton2 = 20004;
constexpr int kMessageButton3 = 20005;

const char16_t* messageCaption(MessageBoxKind kind);

struct MessageButton {
  int id;
  std::u16string text;
  int icon;  // index in the button image list, -1 for none
  LayoutRect rect;
};

struct MessageBoxLayout {
  LayoutRect text;                            // the text control
  std::vector<MessageButton> buttons;   // in id order
  int width = 0, height = 0;            // of the box
  int lineCount = 0;
  int textWidth = 0;                    // after the minimum for the button set
  bool cancelHasFocus = false;
};

// Splits at "\n"; a final "\n" ends the last line without starting another.
std::vector<std::u16string> messageLines(const std::u16string& text);

// Lays the box out. measure gives the pixel width of one line (tabs expanded). An unknown
// button set is treated as OK.
MessageBoxLayout layoutMessageBox(const std::u16string& text, int buttonSet, MessageBoxKind kind,
                                  const std::function<int(const std::u16string&)>& measure);

// The result of a press on one of the box's buttons.
int messageResultForButton(int id);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_MESSAGE_BOX_MODEL_H_
