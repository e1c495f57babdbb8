// The setup window (902): the agreement page (907) first, then the install page (146) with the
// target folder, the folder browser and the desktop-icon box; button 1 agrees, then installs.
#ifndef KELDRUN_SETUP_SETUP_WINDOW_WIN_H_
#define KELDRUN_SETUP_SETUP_WINDOW_WIN_H_

#include <windows.h>

#include "setup/installation_win.h"
#include "toolkit/button.h"
#include "toolkit/dialog.h"
#include "toolkit/web_browser.h"

namespace keldrun {

class SetupWindow : public CXDialogBase {
 public:
  SetupWindow();
  Installation& installation() { return installation_; }

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  class AgreementPage : public CXDialogBase {
   public:
    AgreementPage();
   protected:
    bool onInitDialog() override;
    // The browser fills the page at whatever size the window gives it.
    void onSize(int width, int height) override;
   private:
    CXWebBrowser browser_;
  };
  class InstallPage : public CXDialogBase {
   public:
    explicit InstallPage(Installation* installation);
    void showFolder();
   protected:
    bool onInitDialog() override;
    void onCommand(int id, int code, HWND control) override;
   private:
    Installation* installation_;
    CXButton change_;
  };

  Installation installation_;
  AgreementPage agreement_;
  InstallPage install_;
  CXButton next_, cancel_;
  bool agreed_ = false;
};

// Runs the setup window modally; the process ends afterwards.
void runSetupWindow();

// The question of the first uninstall stage (903), with the program-drawn OK and Cancel
// buttons. True when the user chose OK.
bool confirmUninstall();

}  // namespace keldrun

#endif  // KELDRUN_SETUP_SETUP_WINDOW_WIN_H_
