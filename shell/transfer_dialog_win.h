// Import and export of snapshot files behind the progress dialog (147), as the Snapshots screen
// starts them.
#ifndef KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_
#define KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_

#include <windows.h>

#include <vector>

namespace keldrun {

// Both work on programSettings() (shell/program_win.h), the process's one catalog.
// Asks for snapshot files and imports them into the catalog, reporting failures itself; the
// caller refreshes its list afterwards.
void runImportCommand(HWND parent);
// Asks for a folder and exports the given snapshots into it, reporting the outcome itself.
void runExportCommand(HWND parent, const std::vector<int>& snapshotNumbers);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_
