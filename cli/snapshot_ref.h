// Naming a snapshot on the command line: a number names "snapNNN.snp" in the workspace's data
// folder, anything else is the path of a snapshot file.
#ifndef KELDRUN_CLI_SNAPSHOT_REF_H_
#define KELDRUN_CLI_SNAPSHOT_REF_H_

#include <string>

namespace keldrun {

// The path of the snapshot named by ref under the workspace home. False, with a message for
// the user in *error, when ref is a number without such a file, or a path that does not exist.
bool resolveSnapshotRef(const std::string& home, const std::string& ref, std::string* path,
                        std::string* error);

class ComparisonContext;

// Reads every table of the snapshots open in the context once, counting damage in each file
// (see checkSnapshot); commands that read little of a snapshot (show, export-reg) or write a
// whole report call it right after opening, before they print anything. compare does not: it
// reads only the tables whose digests differ, and counts the damage that its walk meets.
void checkSnapshots(ComparisonContext* context);
// For each open snapshot that met damage, during the check or afterwards, prints
// "keldrun: snapshot REF is damaged: N tables unreadable, first at offset X" on standard error.
// Returns kExitError when any snapshot is damaged, else status.
int damageStatus(ComparisonContext* context, const std::string& refA, const std::string& refB,
                 int status);

}  // namespace keldrun

#endif  // KELDRUN_CLI_SNAPSHOT_REF_H_
