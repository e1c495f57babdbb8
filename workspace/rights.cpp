#include "workspace/rights.h"

#include <cerrno>

namespace keldrun {

bool isMissingRight(int errorNumber) {
  return errorNumber == EACCES || errorNumber == EPERM || errorNumber == EROFS;
}

std::string withRightsAdvice(const std::string& message, int errorNumber, RightsTask task) {
  if (!isMissingRight(errorNumber)) return message;
  const char* advice = "";
  switch (task) {
    case RightsTask::Install:
      advice = "This account may not write there. Start setup with \"Run as administrator\", or "
               "choose a folder you can write with \"Change folder...\".";
      break;
    case RightsTask::UseWorkspace:
      advice = "This account may not write Keldrun's folder, which holds the snapshots. Start "
               "Keldrun with \"Run as administrator\", or install it into a folder you can write.";
      break;
    case RightsTask::CommandLine:
      advice = "This account may not write the workspace. Run the command in a console started "
               "with \"Run as administrator\", or give --home a folder you can write.";
      break;
  }
  return message + "\n\n" + advice;
}

}  // namespace keldrun
