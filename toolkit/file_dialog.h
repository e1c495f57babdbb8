// The save-file dialog shared by the report export and the registry export: the filter
// "<description> (*.<ext>)|*.<ext>|All files (*.*)|*.*||", the overwrite prompt, no read-only
// box, and the current folder as it was before the dialog.
#ifndef KELDRUN_TOOLKIT_FILE_DIALOG_H_
#define KELDRUN_TOOLKIT_FILE_DIALOG_H_

#include <windows.h>

#include <string>

namespace keldrun {

// The filter text with its "|" separators, as the dialog's description reads.
std::u16string saveFileFilter(const std::u16string& description, const std::u16string& extension);

// Asks for a file to write. False when the user cancelled; else *path holds the chosen path.
// The dialog carries title, or the system's own when it is empty.
bool chooseSaveFile(HWND owner, const std::u16string& description, const std::u16string& extension,
                    const std::u16string& defaultName, std::u16string* path,
                    const std::u16string& title = std::u16string());

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_FILE_DIALOG_H_
