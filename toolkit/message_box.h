// The program's message box: every message to the user goes through it. A small dialog in the
// program's look that sizes itself to its text, with three kinds and three button sets (see
// message_box_model.h). It runs its own modal loop while its owner is disabled.
#ifndef KELDRUN_TOOLKIT_MESSAGE_BOX_H_
#define KELDRUN_TOOLKIT_MESSAGE_BOX_H_

#include <windows.h>

#include <string>

#include "toolkit/message_box_model.h"
#include "workspace/message.h"

namespace keldrun {

// Information kind, button set OK. Returns 6, or 2 / -1 as showMessage says.
int showInfo(const std::u16string& text);
// Error kind, button set OK.
int showError(const std::u16string& text);
// Warning kind with the given button set.
int showWarning(const std::u16string& text, int buttonSet = kButtonsOk);
// The general form. buttonSet may carry kDefaultThirdButton. Returns 6 for "Ok" or "Yes", 7 for
// "No", 2 for "Cancel", Escape or the close button; -1 when a close or quit request posted to
// the thread ended the box first (a quit request is posted again for the loop outside).
int showMessage(const std::u16string& text, int buttonSet, MessageBoxKind kind = MessageBoxKind::kWarning);

// Shows a model's message in its kind (nothing for an empty one). Its text is UTF-8, since
// messages name paths.
void showShellMessage(const ShellMessage& message);

// The box that is open now, or null (for tests and automation).
HWND openMessageBox();

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_MESSAGE_BOX_H_
