// "Learn noise from these two snapshots" (dialog 912): a check box for every entry learning
// proposes, all checked, and below them a line naming what was not proposed because it is never
// hidden. OK adds the checked entries to the workspace's noise list; Cancel writes nothing.
#ifndef KELDRUN_SHELL_LEARN_NOISE_DIALOG_WIN_H_
#define KELDRUN_SHELL_LEARN_NOISE_DIALOG_WIN_H_

#include <windows.h>

#include <string>

#include "toolkit/dialog.h"
#include "views/noise_learning.h"
#include "workspace/settings.h"
#include "workspace/snapshot_list.h"

namespace keldrun {

class LearnNoiseDialog : public CXDialogBase {
 public:
  // names: the two snapshots' ("A and B"), for the comment above the entries written.
  LearnNoiseDialog(const Settings* settings, NoiseLearning learning, std::string names);

 protected:
  bool onInitDialog() override;
  void onOk() override;

 private:
  const Settings* settings_;
  NoiseLearning learning_;
  std::string names_;
};

// Learns from the pair selected in list and shows the dialog over owner; a message instead when
// the pair cannot be opened or there is nothing to propose. True when OK wrote entries.
bool showLearnNoise(HWND owner, const SnapshotList& list, const Settings* settings);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_LEARN_NOISE_DIALOG_WIN_H_
