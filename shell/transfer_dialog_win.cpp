// Placeholder until the import and export dialogs land: does nothing.
#include "shell/transfer_dialog_win.h"

namespace keldrun {

void runImportCommand(HWND parent) {}
void runExportCommand(HWND parent, const std::vector<int>& snapshotNumbers) {}

}  // namespace keldrun
