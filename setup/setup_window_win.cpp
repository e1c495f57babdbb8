#include "setup/setup_window_win.h"

#include <cstdio>
#include <vector>

#include "base/text.h"
#include "base/text_table.h"
#include "resources/resource_ids.h"
#include "toolkit/file_dialog.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

// Where both pages sit in the setup window, in dialog units.
constexpr RECT kPageArea = {5, 107, 5 + 445, 107 + 233};

std::u16string folderText(const std::string& folder) {
  std::string format = text(kTextSetupFolderFormat);
  std::vector<char> out(format.size() + folder.size() + 1);
  std::snprintf(out.data(), out.size(), format.c_str(), folder.c_str());
  return fromUtf8(out.data());
}

}  // namespace

SetupWindow::AgreementPage::AgreementPage() : CXDialogBase(IDD_SETUP_AGREEMENT_PAGE) {}

bool SetupWindow::AgreementPage::onInitDialog() {
  RECT area;
  GetClientRect(hwnd(), &area);
  if (browser_.create(area, WS_VISIBLE, IDC_SETUP_AGREEMENT, hwnd())) browser_.writeWide(widen(text(kTextAgreementPage)));
  return true;
}

void SetupWindow::AgreementPage::onSize(int width, int height) {
  if (browser_.hwnd()) MoveWindow(browser_.hwnd(), 0, 0, width, height, TRUE);
}

SetupWindow::InstallPage::InstallPage(Installation* installation)
    : CXDialogBase(IDD_SETUP_INSTALL_PAGE), installation_(installation) {}

bool SetupWindow::InstallPage::onInitDialog() {
  change_.attach(hwnd(), IDC_SETUP_CHANGE_FOLDER);
  CheckDlgButton(hwnd(), IDC_SETUP_DESKTOP_ICON, installation_->desktopIcon ? BST_CHECKED : BST_UNCHECKED);
  showFolder();
  return true;
}

void SetupWindow::InstallPage::showFolder() {
  SetDlgItemTextW(hwnd(), IDC_SETUP_FOLDER_TEXT, wide(folderText(installation_->targetFolder)));
}

void SetupWindow::InstallPage::onCommand(int id, int code, HWND control) {
  if (id == IDC_SETUP_CHANGE_FOLDER && code == BN_CLICKED) {
    std::string chosen;
    if (browseForFolder(u"Browse", hwnd(), &chosen)) {
      installation_->targetFolder = targetFolderIn(chosen);
      showFolder();
    }
    return;
  }
  CXDialogBase::onCommand(id, code, control);
}

SetupWindow::SetupWindow() : CXDialogBase(IDD_SETUP), install_(&installation_) {}

bool SetupWindow::onInitDialog() {
  next_.attach(hwnd(), IDOK);
  next_.setIcon(buttonImages(), 0);
  cancel_.attach(hwnd(), IDCANCEL);
  cancel_.setIcon(buttonImages(), 1);
  RECT area = kPageArea;
  MapDialogRect(hwnd(), &area);
  struct Page {
    CXDialogBase* page;
    int id;
  } pages[] = {{&agreement_, IDD_SETUP_AGREEMENT_PAGE}, {&install_, IDD_SETUP_INSTALL_PAGE}};
  for (const Page& p : pages) {
    CXDialogBase* page = p.page;
    if (!page->create(hwnd())) continue;
    // Each page's window id is its dialog number, so that it can be found from outside.
    SetWindowLongPtrW(page->hwnd(), GWLP_ID, p.id);
    SetWindowPos(page->hwnd(), nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOZORDER);
  }
  ShowWindow(agreement_.hwnd(), SW_SHOW);
  return true;
}

void SetupWindow::onOk() {
  if (!agreed_) {
    agreed_ = true;
    ShowWindow(agreement_.hwnd(), SW_HIDE);
    ShowWindow(install_.hwnd(), SW_SHOW);
    SetDlgItemTextW(hwnd(), IDOK, L"Install");
    InvalidateRect(item(IDOK), nullptr, TRUE);
    return;
  }
  installation_.desktopIcon = IsDlgButtonChecked(install_.hwnd(), IDC_SETUP_DESKTOP_ICON) == BST_CHECKED;
  if (!installation_.install()) {
    showError(fromUtf8(installation_.errorText));
    return;  // the window stays open for another folder
  }
  showInfo(u"Setup complete");
  endDialog(IDOK);
}

void runSetupWindow() {
  SetupWindow window;
  window.runModal(nullptr);
}

namespace {

class UninstallQuestion : public CXDialogBase {
 public:
  UninstallQuestion() : CXDialogBase(IDD_UNINSTALL) {}

 protected:
  bool onInitDialog() override {
    ok_.attach(hwnd(), IDOK);
    ok_.setIcon(buttonImages(), 0);
    cancel_.attach(hwnd(), IDCANCEL);
    cancel_.setIcon(buttonImages(), 1);
    return true;
  }

 private:
  CXButton ok_, cancel_;
};

}  // namespace

bool confirmUninstall() {
  UninstallQuestion question;
  return question.runModal(nullptr) == IDOK;
}

}  // namespace keldrun
