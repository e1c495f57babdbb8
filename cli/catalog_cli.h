// What the catalog commands (list, info, rename, delete, export, import) share: the workspace's
// Settings and snapshot numbers from the command line.
#ifndef KELDRUN_CLI_CATALOG_CLI_H_
#define KELDRUN_CLI_CATALOG_CLI_H_

#include <cstdint>
#include <string>
#include <vector>

#include "cli/output.h"
#include "workspace/settings.h"

namespace keldrun {

// Loads the workspace's settings and catalog. A command that will save them (forWriting) first
// takes the workspace lock ("Keldrun.lock" in the workspace) for the rest of the process, so
// that the catalog it reads is the one it saves over: when another Keldrun holds the lock it
// says "waiting for another Keldrun to finish…" and waits, or with noWait fails. For such a
// command a damaged settings file is an error too: saving would replace the catalog it may
// still hold. On failure *error names the file and the reason.
bool openCatalog(Settings* settings, bool forWriting, std::string* error, bool noWait = false);

// False (with *error) when an output file of a command would overwrite one of the workspace's
// own files or one of the command's inputs: a file inside the data folder (at any depth), the
// settings file, the log, the scan filter, the lock file, or any of `inputs`. Files are
// compared as the system identifies them (device and inode, volume and index), so no other
// spelling or link gets past.
bool checkOutputTarget(const std::string& home, const std::string& target,
                       const std::vector<std::string>& inputs, std::string* error);

// Parses every argument as a snapshot number (1 to 999999999) in the catalog; *error names the
// first that is not.
bool catalogNumbers(const Settings& settings, const std::vector<std::string>& args,
                    std::vector<int32_t>* numbers, std::string* error);


// A snapshot name given on the command line, which must be UTF-8 text (names are UTF-8 in every
// script). False, with the message in *error, when it is not.
bool snapshotNameArgument(const std::string& utf8, std::string* name, std::string* error);

}  // namespace keldrun

#endif  // KELDRUN_CLI_CATALOG_CLI_H_
