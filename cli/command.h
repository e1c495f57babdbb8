// The subcommands of the command-line front end. Each cli/cmd_*.cpp file registers its command
// with a static Registration, so that adding a command touches no other file. A command states
// its operands and options in its table; main parses them (cli/options.h) before run is called.
#ifndef KELDRUN_CLI_COMMAND_H_
#define KELDRUN_CLI_COMMAND_H_

#include <string>
#include <vector>

#include "cli/options.h"

namespace keldrun {

// Exit statuses: 0 success, 1 differences found (compare), 2 error.
constexpr int kExitOk = 0;
constexpr int kExitDifferences = 1;
constexpr int kExitError = 2;

struct Command;

// What every command gets: the global options and its own, already parsed.
struct CommandContext {
  const Command* command = nullptr;
  std::string home;        // workspace folder (--home, $KELDRUN_HOME, ...), already resolved
  std::string winePrefix;  // --wine-prefix, empty when not given
  bool noWait = false;     // --no-wait: fail instead of waiting for another writer of the catalog
  ParsedOptions options;   // the command's options and operands
  const std::vector<std::string>& operands() const { return options.operands; }
  bool has(const char* option) const { return options.has(option); }
  std::string value(const char* option) const { return options.value(option); }
  bool stdoutIsTerminal = false;
  bool stderrIsTerminal = false;
  bool color = false;      // colour allowed: stdout is a terminal and NO_COLOR is not set
};

struct Command {
  const char* name;
  const char* summary;      // one line for the command list; "" keeps the command off it
  const char* operands;     // as the usage line names them: "A B", "N [PATH]", "FILE..."
  int minOperands;
  int maxOperands;          // -1: no limit
  const Option* options;    // the command's table, ending with {nullptr}
  const char* description;  // the paragraphs of --help between usage and options, as printed
  const char* example;      // arguments after "keldrun " of one typical use
  int (*run)(CommandContext& ctx);
};

// The table of a command without options of its own.
constexpr Option kNoOptions[] = {{nullptr, nullptr, nullptr}};

struct Registration {
  explicit Registration(const Command& command);
};

const std::vector<Command>& commands();

// The whole --help text of a command, generated from its table.
std::string commandHelp(const Command& command);

// The whole program: argv[0] is the program's name, the rest its arguments in UTF-8.
int runMain(int argc, char** argv);

// Prints "keldrun: <message>" to standard error and returns kExitError.
int fail(const std::string& message);

// The errors every command words alike; each returns kExitError.
int failUsage(const CommandContext& ctx, const std::string& problem);  // "... (see 'keldrun X --help')"
int failValue(const char* option, const std::string& value, const char* expected);
int failConflict(const char* option, const char* other);

}  // namespace keldrun

#endif  // KELDRUN_CLI_COMMAND_H_
