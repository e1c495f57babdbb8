#include "shell/transfer_dialog_win.h"

#include <commctrl.h>

#include "base/text.h"
#include "resources/resource_ids.h"
#include "shell/program_win.h"
#include "toolkit/button.h"
#include "toolkit/dialog.h"
#include "toolkit/file_dialog.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollPeriodMs = 100;
constexpr int kCancelImage = 1;
const char16_t kSnapshotFilter[] = u"Snapshots (*.snp)|*.snp|All Files (*.*)|*.*||";

std::string lastFolder;

class ProgressDialog : public CXDialogBase {
 public:
  explicit ProgressDialog(TransferJob* job) : CXDialogBase(IDD_TRANSFER_PROGRESS), job_(job) {}
  bool failedToStart() const { return failedToStart_; }

 protected:
  bool onInitDialog() override {
    bar_ = item(IDC_PROGRESS_BAR);
    SendMessageW(bar_, PBM_SETRANGE32, 0, 10000);
    SendMessageW(bar_, PBM_SETPOS, 0, 0);
    SetWindowTextW(hwnd(), wide(fromUtf8(job_->title())));
    SetDlgItemTextW(hwnd(), IDC_PROGRESS_TEXT, wide(fromUtf8(job_->message())));
    cancel_.attach(hwnd(), IDCANCEL);
    cancel_.setIcon(buttonImages(), kCancelImage);
    if (!job_->start()) {
      failedToStart_ = true;
      endDialog(IDCANCEL);
      return true;
    }
    SetTimer(hwnd(), kPollTimer, kPollPeriodMs, nullptr);
    return true;
  }

  void onTimer(UINT_PTR id) override {
    // While "Aborting?" is open the answer decides how the dialog ends, not the worker.
    if (id != kPollTimer || asking_) return;
    showProgress();
    if (job_->ended()) {
      KillTimer(hwnd(), kPollTimer);
      endDialog(IDOK);
    }
  }

  // Cancel, Escape and the close box. The worker goes on while the question is open: a thread
  // suspended at an arbitrary point may hold a lock (the heap's among them) that the question's
  // own window needs. "No" therefore continues where the work has got to by then.
  void onCancel() override {
    if (asking_) return;
    asking_ = true;
    int answer = showWarning(u"Aborting?", kButtonsYesNo);
    asking_ = false;
    if (answer != 6) return;
    KillTimer(hwnd(), kPollTimer);
    job_->abort();
    endDialog(IDCANCEL);
  }

  void onDestroy() override { KillTimer(hwnd(), kPollTimer); }

 private:
  void showProgress() {
    int range = job_->range();
    int pos = job_->position();
    if (range <= 0) return;
    SendMessageW(bar_, PBM_SETPOS, WPARAM(int64_t(pos) * 10000 / range), 0);
  }

  TransferJob* job_;
  HWND bar_ = nullptr;
  CXButton cancel_;
  bool asking_ = false;
  bool failedToStart_ = false;
};

}  // namespace

const std::string& lastExportFolder() { return lastFolder; }

INT_PTR runProgress(HWND owner, TransferJob* job) {
  ProgressDialog dialog(job);
  INT_PTR r = dialog.runModal(owner);
  if (dialog.failedToStart()) return -1;
  // However the dialog ended (a quit request, a destroyed owner), the worker must be done
  // before the job and the settings it uses are touched again.
  if (!job->ended()) job->abort();
  return r;
}

void runImportCommand(HWND parent) { runImportCommand(parent, &programSettings()); }

void runExportCommand(HWND parent, const std::vector<int>& snapshotNumbers) {
  runExportCommand(parent, &programSettings(), snapshotNumbers);
}

void runExportCommand(HWND parent, Settings* settings, const std::vector<int>& snapshotNumbers) {
  bool any = false;
  for (int n : snapshotNumbers) any = any || settings->catalog().find(n) >= 0;
  if (!any) return;
  std::string folder;
  if (!browseForFolder(u"Export to", parent, &folder)) return;
  lastFolder = folder;
  std::vector<int32_t> numbers(snapshotNumbers.begin(), snapshotNumbers.end());
  auto job = TransferJob::exporting(settings, numbers, folder);
  if (runProgress(parent, job.get()) < 0) return;
  // The closing message comes from this thread, once the worker is done: workers never touch
  // windows.
  showShellMessage(job->result());
}

void runImportCommand(HWND parent, Settings* settings) {
  std::vector<std::string> files;
  if (!openFilesDialog(parent, kSnapshotFilter, &files)) return;
  auto job = TransferJob::importing(settings, files);
  if (runProgress(parent, job.get()) < 0) return;
  showShellMessage(job->result());
}

}  // namespace keldrun
