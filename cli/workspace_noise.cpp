#include "cli/workspace_noise.h"

#include <cstdio>
#include <string>
#include <vector>

#include "workspace/noise.h"
#include "workspace/settings.h"

namespace keldrun {

void useWorkspaceNoise(const CommandContext& ctx, ComparisonContext* context) {
  Settings settings(ctx.home);
  settings.ensureLoaded();
  std::vector<std::string> problems;
  context->setNoise(workspaceNoise(settings, &problems));
  for (const std::string& p : problems) std::fprintf(stderr, "keldrun: warning: %s\n", p.c_str());
  context->setShowNoise(ctx.has("--with-noise"));
}

}  // namespace keldrun
