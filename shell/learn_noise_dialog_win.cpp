#include "shell/learn_noise_dialog_win.h"

#include <commctrl.h>

#include "base/text.h"
#include "resources/resource_ids.h"
#include "shell/noise_commands.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"

namespace keldrun {

LearnNoiseDialog::LearnNoiseDialog(const Settings* settings, NoiseLearning learning, std::string names)
    : CXDialogBase(IDD_LEARN_NOISE), settings_(settings), learning_(std::move(learning)), names_(std::move(names)) {}

bool LearnNoiseDialog::onInitDialog() {
  HWND list = item(IDC_NOISE_PROPOSALS);
  ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  RECT r;
  GetClientRect(list, &r);
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH;
  column.cx = r.right - GetSystemMetrics(SM_CXVSCROLL);
  ListView_InsertColumn(list, 0, &column);
  for (size_t i = 0; i < learning_.proposals.size(); i++) {
    const NoiseProposal& p = learning_.proposals[i];
    std::u16string text = proposalText(p);
    LVITEMW row = {};
    row.mask = LVIF_TEXT;
    row.iItem = int(i);
    row.pszText = const_cast<wchar_t*>(wide(text));
    int at = ListView_InsertItem(list, &row);
    ListView_SetCheckState(list, at, p.checked ? TRUE : FALSE);
  }
  SetDlgItemTextW(hwnd(), IDC_NOISE_SKIPPED, wide(skippedNoiseLine(learning_)));
  return true;
}

void LearnNoiseDialog::onOk() {
  HWND list = item(IDC_NOISE_PROPOSALS);
  for (size_t i = 0; i < learning_.proposals.size(); i++)
    learning_.proposals[i].checked = ListView_GetCheckState(list, int(i)) != FALSE;
  std::string message;
  int added = writeCheckedProposals(*settings_, learning_.proposals, names_, &message);
  if (added < 0) {
    showError(widen(message));
    return;
  }
  endDialog(added > 0 ? IDOK : IDCANCEL);
}

bool showLearnNoise(HWND owner, const SnapshotList& list, const Settings* settings) {
  NoiseLearning learning;
  std::string names;
  ShellMessage message;
  if (!learnFromSelectedPair(list, *settings, &learning, &names, &message)) {
    showShellMessage(message);
    return false;
  }
  if (learning.proposals.empty()) {
    std::u16string skipped = skippedNoiseLine(learning);
    showInfo(u"Nothing to learn: the snapshots differ only where noise is hidden already." +
             (skipped.empty() ? std::u16string() : u"\n" + skipped));
    return false;
  }
  LearnNoiseDialog dialog(settings, std::move(learning), names);
  return dialog.runModal(owner) == IDOK;
}

}  // namespace keldrun
