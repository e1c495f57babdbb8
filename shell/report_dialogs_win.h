// The differences report options (dialog 909), the report viewer (dialog 910) and the snapshot
// export (dialog 911): the windows over DifferencesOptionsForm, viewerDocument and
// SnapshotExportForm.
#ifndef KELDRUN_SHELL_REPORT_DIALOGS_WIN_H_
#define KELDRUN_SHELL_REPORT_DIALOGS_WIN_H_

#include <windows.h>

#include <string>

#include "reports/report_writer.h"
#include "views/comparison_context.h"
#include "workspace/settings.h"

namespace keldrun {

// Dialog 909 for the differences of the context's two snapshots. section: kOriginSnapshotList
// (-1) from the snapshot list, else the screen's section (0 Registry, 1 Files, 2 Applications)
// with its current key or folder path as pathPrefix. Export writes the report to a file the user
// chooses; View writes it into the program folder's "tmp" and shows it in the viewer, and the
// report's files are deleted when the viewer closes. Returns when the dialog has closed.
void showDifferencesReportOptions(HWND owner, Settings* settings, ComparisonContext* context,
                                  int section, const std::u16string& pathPrefix);

// Dialog 910: the report written by writer at reportPath, modal until the user closes it.
void showReportViewer(HWND owner, const ReportWriter& writer, const std::string& reportPath);

// Dialog 911 for the snapshot of a view-mode context.
void showSnapshotExport(HWND owner, Settings* settings, ComparisonContext* context);

}  // namespace keldrun

#endif  // KELDRUN_SHELL_REPORT_DIALOGS_WIN_H_
