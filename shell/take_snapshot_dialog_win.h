// The take-snapshot dialog (132), as the Snapshots screen opens it.
#ifndef KELDRUN_SHELL_TAKE_SNAPSHOT_DIALOG_WIN_H_
#define KELDRUN_SHELL_TAKE_SNAPSHOT_DIALOG_WIN_H_

#include <windows.h>

namespace keldrun {

// The dialog works on programSettings() (shell/program_win.h), the process's one catalog.
// Runs the dialog modally above parent; true when a snapshot was taken and entered in the
// catalog (the caller then refreshes its list).
bool runTakeSnapshotDialog(HWND parent);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_TAKE_SNAPSHOT_DIALOG_WIN_H_
