// The subcommands of the command-line front end. Each cli/cmd_*.cpp file registers its commands
// with a static Registration, so that adding a command touches no other file.
#ifndef KELDRUN_CLI_COMMAND_H_
#define KELDRUN_CLI_COMMAND_H_

#include <string>
#include <vector>

namespace keldrun {

// Exit statuses: 0 success, 1 differences found (compare), 2 error.
constexpr int kExitOk = 0;
constexpr int kExitDifferences = 1;
constexpr int kExitError = 2;

// What every command gets: the global options and its own arguments.
struct CommandContext {
  std::string home;        // workspace folder (--home, $KELDRUN_HOME, ...), already resolved
  std::string winePrefix;  // --wine-prefix, empty when not given
  std::vector<std::string> args;  // the arguments after the command name
  bool stdoutIsTerminal = false;
  bool stderrIsTerminal = false;
  bool color = false;      // colour allowed: stdout is a terminal and NO_COLOR is not set
};

struct Command {
  const char* name;
  const char* summary;  // one line for the command list
  const char* usage;    // the whole --help text of the command, with an example
  int (*run)(CommandContext& ctx);
};

struct Registration {
  explicit Registration(const Command& command);
};

const std::vector<Command>& commands();

// Prints "keldrun: <message>" to standard error and returns kExitError.
int fail(const std::string& message);

}  // namespace keldrun

#endif  // KELDRUN_CLI_COMMAND_H_
