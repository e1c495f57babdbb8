// What the Snapshots screen's View, Compare, Differences list and Export to HTML commands do,
// apart from their window: which snapshots they open, in which mode, with which report options,
// into which file, and the message each failure ends in.
#ifndef KELDRUN_SHELL_SNAPSHOT_COMMANDS_H_
#define KELDRUN_SHELL_SNAPSHOT_COMMANDS_H_

#include <string>

#include "reports/report_generation.h"
#include "views/comparison_context.h"
#include "workspace/message.h"
#include "workspace/settings.h"
#include "workspace/snapshot_list.h"

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

// Differences list: opens the two boxes' snapshots (smaller number older) in context (one of
// the command's own, not the main window's) for the report options dialog. False with "Cannot
// open snapshots" when a number is missing or the open fails.
bool openDifferencesPair(const SnapshotList& list, const Settings& settings, ComparisonContext* context,
                         ShellMessage* message);

// View of the report options: the report written by writer into "export.htm" of the report
// temp folder after that folder has been emptied of earlier reports. Returns true with
// *reportPath; false with "Cannot export to file [...]", leaving no page behind.
bool writeReportToView(Settings* settings, ComparisonContext* context,
                       const DifferencesReportOptions& options, ReportWriter* writer,
                       std::string* reportPath, ShellMessage* message);

// Export to HTML: opens the selected snapshot alone in context (one of the command's own) for
// the snapshot export dialog. False with "Cannot open snapshot" when the open fails; false with
// no message when no snapshot of the catalog is selected.
bool openSnapshotForExport(const SnapshotList& list, const Settings& settings, ComparisonContext* context,
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
