// What the catalog commands (list, info, rename, delete, export, import) share: the workspace's
// Settings, snapshot numbers from the command line, and JSON text.
#ifndef KELDRUN_CLI_CATALOG_CLI_H_
#define KELDRUN_CLI_CATALOG_CLI_H_

#include <cstdint>
#include <string>
#include <vector>

#include "shell/settings.h"

namespace keldrun {

// Loads the workspace's settings and catalog. For a command that will save them (forWriting),
// a damaged settings file is an error: saving would replace the catalog it may still hold. On
// failure *error names the file and the reason.
bool openCatalog(Settings* settings, bool forWriting, std::string* error);

// A snapshot number: decimal digits only, 1 or more. False otherwise.
bool parseSnapshotNumber(const std::string& arg, int32_t* number);

// Parses every argument as a number in the catalog; *error names the first that is not.
bool catalogNumbers(const Settings& settings, const std::vector<std::string>& args,
                    std::vector<int32_t>* numbers, std::string* error);

// A JSON string literal for 8-bit program text (bytes above 0x7F are read as Latin-1).
std::string jsonString(const std::string& text);
// A JSON string literal for UTF-16 text.
std::string jsonString(const std::u16string& text);

// The section names "Registry", "Files", "Applications".
const char* sectionTitle(int section);

}  // namespace keldrun

#endif  // KELDRUN_CLI_CATALOG_CLI_H_
