// The take-snapshot dialog (132) with its selection tree page (153): the window over the
// TakeSnapshot model.
#ifndef KELDRUN_SHELL_TAKE_SNAPSHOT_DIALOG_WIN_H_
#define KELDRUN_SHELL_TAKE_SNAPSHOT_DIALOG_WIN_H_

#include <windows.h>

#include "platform/env.h"
#include "workspace/settings.h"

namespace keldrun {

// Runs the dialog modally above parent over the program's settings. True when a snapshot was
// added to the catalog (the snapshot list refreshes then).
bool runTakeSnapshotDialog(HWND parent);
// The same over a chosen catalog and machine (env null: the real one).
bool runTakeSnapshotDialog(HWND parent, Settings* settings, Env* env = nullptr);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_TAKE_SNAPSHOT_DIALOG_WIN_H_
