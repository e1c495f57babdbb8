// The snapshot properties dialog (908): name (editable), computer, date and the scanned-items
// summary of one snapshot. SnapshotProperties does the reading and the rename.
#ifndef KELDRUN_SHELL_PROPERTIES_DIALOG_WIN_H_
#define KELDRUN_SHELL_PROPERTIES_DIALOG_WIN_H_

#include <windows.h>

#include "toolkit/button.h"
#include "toolkit/dialog.h"
#include "toolkit/web_browser.h"
#include "workspace/catalog_commands.h"

namespace keldrun {

class PropertiesDialog : public CXDialogBase {
 public:
  // runModal ends with IDOK after a rename (or a rename that could not be written), IDCANCEL,
  // or 0 when the snapshot could not be opened.
  PropertiesDialog(Settings* settings, int32_t number);

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  SnapshotProperties properties_;
  CXButton ok_, cancel_;
  CXWebBrowser summary_;
};

}  // namespace keldrun

#endif  // KELDRUN_SHELL_PROPERTIES_DIALOG_WIN_H_
