// Placeholder until the take-snapshot dialog lands: takes nothing.
#include "shell/take_snapshot_dialog_win.h"

namespace keldrun {

bool runTakeSnapshotDialog(HWND parent) { return false; }

}  // namespace keldrun
