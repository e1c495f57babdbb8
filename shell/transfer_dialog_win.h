// Export and import of snapshot files: the progress dialog (147) that runs a TransferJob.
#ifndef KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_
#define KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_

#include <windows.h>

#include <string>
#include <vector>

#include "workspace/settings.h"
#include "workspace/transfer_job.h"

namespace keldrun {

// Import snapshots: chooses files, unpacks them behind the progress dialog into new snapshots.
// The caller refreshes the snapshot list afterwards, also after a cancelled or failed import.
void runImportCommand(HWND parent);
void runImportCommand(HWND parent, Settings* settings);
// Export snapshots: packs the snapshots of these numbers (from the bottom selected row up)
// into a chosen folder. Does nothing when none of them is in the catalog.
void runExportCommand(HWND parent, const std::vector<int>& snapshotNumbers);
void runExportCommand(HWND parent, Settings* settings, const std::vector<int>& snapshotNumbers);

// Runs the job behind the modal progress dialog until it has ended (IDOK) or the user confirmed
// "Aborting?" (IDCANCEL; the job has ended then too). -1 when the job could not be started.
INT_PTR runProgress(HWND owner, TransferJob* job);

// The folder chosen for the last export in this run of the program, empty before the first.
const std::string& lastExportFolder();

}  // namespace keldrun

#endif  // KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_
