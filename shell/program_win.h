// The windowed program's process-wide objects: the settings with the snapshot catalog, read from
// and written to the program folder (the folder of the running executable, the same workspace
// the command line uses), and the main comparison context over its data folder.
#ifndef KELDRUN_SHELL_PROGRAM_WIN_H_
#define KELDRUN_SHELL_PROGRAM_WIN_H_

#include "views/comparison_context.h"
#include "workspace/settings.h"

namespace keldrun {

// Both live until the process ends; made on first use.
Settings& programSettings();
ComparisonContext& programContext();

}  // namespace keldrun

#endif  // KELDRUN_SHELL_PROGRAM_WIN_H_
