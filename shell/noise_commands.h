// What the windows' noise commands do to the workspace, apart from their windows: the menus'
// "Hide as noise", "Show again" and "Undo noise change" on a node of a comparison screen, the
// screens' noise line, and the "Learn noise" dialog's proposals and what its OK writes.
#ifndef KELDRUN_SHELL_NOISE_COMMANDS_H_
#define KELDRUN_SHELL_NOISE_COMMANDS_H_

#include <string>
#include <vector>

#include "views/comparison_context.h"
#include "views/noise_learning.h"
#include "workspace/message.h"
#include "workspace/settings.h"
#include "workspace/snapshot_list.h"

namespace keldrun {

// Where the node at `path` stands in the workspace's noise list, for noiseMenu.
struct NoiseMenuState {
  bool listed = false;   // the list holds the path itself (a wildcard above it does not count)
  bool canUndo = false;  // the list has a change to take back
};
NoiseMenuState noiseMenuState(const Settings& settings, const std::u16string& path);

// Carries out a NoiseCommand on the node at `path` (ignored by kNoiseUndo) in the workspace's
// noise.txt and gives the context the list as it now is. False, with *message saying why
// (a never-hidden location names the rule: "... starts with the machine and is never hidden"),
// when nothing changed.
bool runNoiseCommand(const Settings& settings, int command, const std::u16string& path,
                     ComparisonContext* context, std::string* message);

// The noise line of a comparison screen: the screen's hidden count while noise is hidden
// (SnapshotScreenModel::hiddenNoiseLine), kNoiseShownLine while it is shown and the list covers
// something in the section, empty otherwise.
extern const char16_t kNoiseShownLine[];
std::u16string noiseLine(const std::u16string& hiddenLine, bool shown, bool listCoversSection);

// "Learn noise from these two snapshots" is offered while exactly two rows are selected.
bool learnNoiseEnabled(const SnapshotList& list);
// "Learn noise from these two snapshots": opens the pair selected in the list (exactly two
// rows, the smaller number older) seen through the workspace's list, so that what it hides
// already is not proposed again, and learns from it. False with "Cannot open snapshots" when
// the pair cannot be opened; *names (may be null) gets their names, "A and B", for the comment OK writes.
bool learnFromSelectedPair(const SnapshotList& list, const Settings& settings,
                           NoiseLearning* learning, std::string* names, ShellMessage* message);

// The line below the dialog's check boxes: "Never hidden, so not proposed: LOCATION, ..." (each
// location once) and the applications section's differences; empty when nothing was skipped.
std::u16string skippedNoiseLine(const NoiseLearning& learning);

// The dialog's OK: adds the checked proposals to the workspace's noise.txt, the group under one
// comment "learned from NAMES", as one change that "Undo noise change" takes back. Returns how
// many were added (0 writes nothing); -1, with *message, when the file cannot be written.
int writeCheckedProposals(const Settings& settings, const std::vector<NoiseProposal>& proposals,
                          const std::string& names, std::string* message);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_NOISE_COMMANDS_H_
