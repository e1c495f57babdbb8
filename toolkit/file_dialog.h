// The file and folder dialogs. Each one leaves the current folder as it was before it, since
// that folder addresses "data\" and "scan_filter.txt". The save-file dialog, shared by the
// report export and the registry export, has the filter
// "<description> (*.<ext>)|*.<ext>|All files (*.*)|*.*||", the overwrite prompt and no read-only
// box.
#ifndef KELDRUN_TOOLKIT_FILE_DIALOG_H_
#define KELDRUN_TOOLKIT_FILE_DIALOG_H_

#include <windows.h>
#include <commdlg.h>

#include <string>
#include <vector>

namespace keldrun {

// GetOpenFileNameW and GetSaveFileNameW, with comdlg32 loaded at the first dialog: imported,
// it and the print spooler it brings took Wine 20-50 ms before the first paint. FALSE, with
// CommDlgExtendedError 0, when it cannot be loaded, as when the user cancels.
BOOL showOpenFileDialog(OPENFILENAMEW* dialog);
BOOL showSaveFileDialog(OPENFILENAMEW* dialog);

// The filter text with its "|" separators, as the dialog's description reads.
std::u16string saveFileFilter(const std::u16string& description, const std::u16string& extension);

// Asks for a file to write. False when the user cancelled; else *path holds the chosen path.
// The dialog carries title, or the system's own when it is empty.
bool chooseSaveFile(HWND owner, const std::u16string& description, const std::u16string& extension,
                    const std::u16string& defaultName, std::u16string* path,
                    const std::u16string& title = std::u16string());

// The shell's folder browser for file-system folders; the chosen folder (UTF-8) ends in a
// backslash. False when none was chosen.
bool browseForFolder(const std::u16string& title, HWND owner, std::string* folder);
// The open-file dialog with several files allowed and the read-only box hidden; the chosen
// files (UTF-8 paths) in the order the dialog returned them. False when none was chosen.
// filter: "Text|*.ext|...||".
bool openFilesDialog(HWND owner, const std::u16string& filter, std::vector<std::string>* files);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_FILE_DIALOG_H_
