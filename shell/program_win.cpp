#include "shell/program_win.h"

#include "workspace/home.h"

namespace keldrun {

Settings& programSettings() {
  static Settings settings(programFolder());
  return settings;
}

ComparisonContext& programContext() {
  static ComparisonContext context;
  static bool placed = false;
  if (!placed) {
    context.setDataFolder(programSettings().catalog().dataFolder());
    placed = true;
  }
  return context;
}

}  // namespace keldrun
