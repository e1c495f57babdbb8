// Rights. Keldrun keeps its workspace (settings, catalog, snapshots) in its program folder, and
// the program asks Windows for the highest rights its user holds ("highestAvailable" in its
// manifest): an administrator's copy runs elevated and can read the whole machine and write a
// workspace under Program Files; a standard user's copy still starts, shows what it can read and
// says what to do when a right is missing. The command line runs with the rights it was started
// with ("asInvoker"), so an elevated console gives it the same workspace as the program.
#ifndef KELDRUN_WORKSPACE_RIGHTS_H_
#define KELDRUN_WORKSPACE_RIGHTS_H_

#include <string>

namespace keldrun {

// What the user was doing when a right was missing: the advice differs.
enum class RightsTask { Install, UseWorkspace, CommandLine };

// True when a failure's errno says the account may not do it (access denied, read-only medium),
// not that something is broken or full.
bool isMissingRight(int errorNumber);

// The message, and when errorNumber is a missing right, a blank line and what the user can do.
std::string withRightsAdvice(const std::string& message, int errorNumber, RightsTask task);

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_RIGHTS_H_
