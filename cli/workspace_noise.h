// The noise list of the workspace, as the commands that compare two snapshots use it.
#ifndef KELDRUN_CLI_WORKSPACE_NOISE_H_
#define KELDRUN_CLI_WORKSPACE_NOISE_H_

#include "cli/command.h"
#include "views/comparison_context.h"

namespace keldrun {

// Gives the context the list of the workspace ctx.home (noise.txt, else the default list),
// with noise shown when the command has --with-noise. The file's problems go to stderr as
// warnings.
void useWorkspaceNoise(const CommandContext& ctx, ComparisonContext* context);

}  // namespace keldrun

#endif  // KELDRUN_CLI_WORKSPACE_NOISE_H_
