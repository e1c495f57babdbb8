// What the Snapshots screen's View, Compare, Differences list and Export to HTML commands do,
// apart from their window: which snapshots they open, in which mode, with which report options,
// into which file, and the message each failure ends in.
#ifndef KELDRUN_SHELL_SNAPSHOT_COMMANDS_H_
#define KELDRUN_SHELL_SNAPSHOT_COMMANDS_H_

#include <string>

#include "reports/report_generation.h"
#include "shell/message.h"
#include "shell/settings.h"
#include "shell/snapshot_list.h"
#include "views/comparison_context.h"

namespace keldrun {

// View: opens the selected snapshot alone, in full. False when there is nothing to open (no
// row selected, or its number is not in the catalog) or the open failed; the latter also sets
// *message to "Cannot open snapshot".
bool openSelectedSnapshot(const SnapshotList& list, ComparisonContext* context,
                          ShellMessage* message);

// Compare: opens the two boxes' snapshots, the smaller number as the older, in full when
// ViewMode is 0. False with "Cannot open snapshots" when a number is missing or the open fails.
bool openChosenPair(const SnapshotList& list, const Settings& settings, ComparisonContext* context,
                    ShellMessage* message);

// The differences report options as the settings hold them (all sections, no path prefix).
DifferencesReportOptions differencesOptions(const Settings& settings);

// Differences list: the report of the two boxes' snapshots (smaller number older) with the
// stored report options, in a comparison context of its own, written to "export.htm" of the
// report temp folder after that folder has been emptied of earlier reports. Returns true with
// *reportPath; false with "Cannot open snapshots" or "Cannot export to file [...]".
bool writeDifferencesList(const SnapshotList& list, Settings* settings, std::string* reportPath,
                          ShellMessage* message);

// Export to HTML: the data report of the selected snapshot, in a context of its own, written to
// the stored export folder (documentsFolder when none is stored) under the stored name with
// ".htm", split as the stored options say. Returns true with *reportPath and "Export done."
// (information); false with "Cannot open snapshot" or "Cannot export to file [...]"; false
// with no message when no snapshot of the catalog is selected.
bool exportSelectedSnapshot(const SnapshotList& list, Settings* settings,
                            const std::string& documentsFolder, std::string* reportPath,
                            ShellMessage* message);

// The error shown when the settings file could not be written (a read-only program folder, a
// full disk): "Cannot save the settings file [path]".
ShellMessage cannotSaveSettings(const Settings& settings);

// Start-up with a settings file that holds no readable body: the file is moved aside to
// "Keldrun.cfg.damaged" (replacing an older one) so that the next save, which would write the
// empty catalog over it, loses nothing, and the warning says where it went. No message when the
// file was read or is missing; an error when it cannot be moved.
ShellMessage setAsideDamagedSettings(Settings* settings);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_SNAPSHOT_COMMANDS_H_
