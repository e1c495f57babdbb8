#include "shell/properties_dialog_win.h"

#include "base/text.h"
#include "reports/report_generation.h"
#include "resources/resource_ids.h"
#include "shell/program_win.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"

namespace keldrun {

PropertiesDialog::PropertiesDialog(Settings* settings, int32_t number)
    : CXDialogBase(IDD_PROPERTIES), properties_(settings, number) {}

bool PropertiesDialog::onInitDialog() {
  ok_.attach(hwnd(), IDOK);
  ok_.setIcon(buttonImages(), 0);
  cancel_.attach(hwnd(), IDCANCEL);
  cancel_.setIcon(buttonImages(), 1);
  ShellMessage problem = properties_.open();
  if (!problem.empty()) {
    showShellMessage(problem);
    endDialog(0);
    return true;
  }
  const SnapshotInfo& info = properties_.info();
  SetDlgItemTextW(hwnd(), IDC_PROPERTIES_NAME, wide(fromUtf8(info.name)));
  SetDlgItemTextW(hwnd(), IDC_PROPERTIES_DATE, wide(widen(info.date)));
  SetDlgItemTextW(hwnd(), IDC_PROPERTIES_COMPUTER, wide(widen(info.computer)));

  RECT frame;
  GetWindowRect(item(IDC_PROPERTIES_SUMMARY), &frame);
  MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&frame), 2);
  ShowWindow(item(IDC_PROPERTIES_SUMMARY), SW_HIDE);
  if (summary_.create(frame, WS_VISIBLE, IDC_PROPERTIES_BROWSER, hwnd())) {
    summary_.writeWide(writeSnapshotSummary(info));
  }
  return true;
}

void PropertiesDialog::onOk() {
  if (properties_.ok(toUtf8(windowText(item(IDC_PROPERTIES_NAME))))) {
    endDialog(IDOK);
  } else if (!properties_.refusal().empty()) {
    showShellMessage(properties_.refusal());
  }
}

}  // namespace keldrun
