// Export and import of snapshot files: the folder browser, the multi-file open dialog and the
// progress dialog (147) that runs a TransferJob.
#ifndef KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_
#define KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_

#include <windows.h>

#include <string>
#include <vector>

#include "shell/settings.h"
#include "shell/transfer_job.h"

namespace keldrun {

// Import snapshots: chooses files, unpacks them behind the progress dialog into new snapshots.
// The caller refreshes the snapshot list afterwards, also after a cancelled or failed import.
void runImportCommand(HWND parent);
void runImportCommand(HWND parent, Settings* settings);
// Export snapshots: packs the snapshots of these numbers (from the bottom selected row up)
// into a chosen folder. Does nothing when none of them is in the catalog.
void runExportCommand(HWND parent, const std::vector<int>& snapshotNumbers);
void runExportCommand(HWND parent, Settings* settings, const std::vector<int>& snapshotNumbers);

// The shell's folder browser for file-system folders; the chosen folder (UTF-8) ends in a
// backslash. False when none was chosen. The current folder is kept.
bool browseForFolder(const std::u16string& title, HWND owner, std::string* folder);
// The open-file dialog with several files allowed and the read-only box hidden; the chosen
// files (UTF-8 paths) in the order the dialog returned them. False when none was chosen. The
// current folder is kept. filter: "Text|*.ext|...||".
bool openFilesDialog(HWND owner, const std::u16string& filter, std::vector<std::string>* files);

// Runs the job behind the modal progress dialog until it has ended (IDOK) or the user confirmed
// "Aborting?" (IDCANCEL; the job has ended then too). -1 when the job could not be started.
INT_PTR runProgress(HWND owner, TransferJob* job);

// The folder chosen for the last export in this run of the program, empty before the first.
const std::string& lastExportFolder();

}  // namespace keldrun

#endif  // KELDRUN_SHELL_TRANSFER_DIALOG_WIN_H_
