#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/command.h"
#include "platform/env.h"
#include "workspace/home.h"

#ifdef _WIN32
#include <io.h>
#define KELDRUN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KELDRUN_ISATTY(fd) isatty(fd)
#endif

namespace keldrun {

namespace {

// Given before the command or among its options.
const Option kGlobalOptions[] = {
    {"--home", "DIR", "the workspace: DIR/Keldrun.cfg (catalog and settings), DIR/data/, DIR/scan_filter.txt, DIR/KeldrunLog.txt"},
    {"--wine-prefix", "DIR", "the Wine prefix whose drives and registry a scan reads"},
    {"--no-wait", nullptr, "fail at once when another Keldrun is writing the workspace's catalog, instead of waiting"},
    {"--help", nullptr, "this text"},
    {nullptr, nullptr, nullptr},
};

std::vector<Command>& registry() {
  static std::vector<Command> all;
  return all;
}

void printUsage(FILE* out) {
  std::fprintf(out,
               "usage: keldrun [--home DIR] [--wine-prefix DIR] COMMAND [ARGS...]\n\n"
               "Records the state of a Windows machine into snapshots and shows what changed.\n\n"
               "Commands:\n");
  for (const Command& c : registry())
    if (*c.summary) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\nOptions:\n%s\n"
               "The workspace defaults to $KELDRUN_HOME, else $XDG_DATA_HOME/keldrun, else\n"
               "~/.local/share/keldrun (on Windows: the folder of the program).\n"
               "Run 'keldrun COMMAND --help' for the options of a command.\n",
               optionLines(kGlobalOptions).c_str());
}

}  // namespace

Registration::Registration(const Command& command) { registry().push_back(command); }

const std::vector<Command>& commands() { return registry(); }

std::string commandHelp(const Command& c) {
  // The usage line names the workspace options (those with a value); --no-wait, which only
  // the commands that write the catalog heed, and --help go without saying.
  std::vector<std::string> words;
  for (const std::string& w : optionSynopsis(kGlobalOptions))
    if (w.find(' ') != std::string::npos) words.push_back(w);
  words.push_back(c.name);
  if (*c.operands) words.push_back(c.operands);
  for (const std::string& w : optionSynopsis(c.options)) words.push_back(w);
  std::string out = "usage: keldrun " + wrapWords(words, 15, 15) + "\n\n" + c.description;
  if (c.options->name) out += "\n" + optionLines(c.options);
  return out + "\nexample: keldrun " + c.example + "\n";
}

int fail(const std::string& message) {
  std::fprintf(stderr, "keldrun: %s\n", message.c_str());
  return kExitError;
}

int failUsage(const CommandContext& ctx, const std::string& problem) {
  return fail(problem + " (see 'keldrun " + ctx.command->name + " --help')");
}

int failValue(const char* option, const std::string& value, const char* expected) {
  return fail("invalid value '" + value + "' for " + option + " (expected " + expected + ")");
}

int failConflict(const char* option, const char* other) {
  return fail(std::string("options '") + option + "' and '" + other + "' cannot be combined");
}

int runMain(int argc, char** argv) {
  CommandContext ctx;
  std::vector<std::string> args(argv + 1, argv + argc), rest;
  ParsedOptions global;
  std::string error;
  if (!parseOptions({kGlobalOptions}, args, true, &global, &rest, &error))
    return fail(error + " (see 'keldrun --help')");
  if (global.has("--help")) {
    printUsage(stdout);
    return kExitOk;
  }
  if (rest.empty()) {
    printUsage(stderr);
    return kExitError;
  }
  for (const Command& c : registry())
    if (rest[0] == c.name) ctx.command = &c;
  if (!ctx.command) return fail("unknown command '" + rest[0] + "' (see 'keldrun --help')");
  const Command& command = *ctx.command;
  rest.erase(rest.begin());
  // The global options may also follow the command.
  if (!parseOptions({command.options, kGlobalOptions}, rest, false, &ctx.options, nullptr, &error))
    return failUsage(ctx, error);
  if (ctx.options.has("--help")) {
    std::fputs(commandHelp(command).c_str(), stdout);
    return kExitOk;
  }
  int count = int(ctx.operands().size());
  if (count < command.minOperands) return failUsage(ctx, std::string(command.name) + " expects " + command.operands);
  if (command.maxOperands >= 0 && count > command.maxOperands)
    return failUsage(ctx, "unexpected argument '" + ctx.operands()[size_t(command.maxOperands)] + "'");
  std::string homeOption = ctx.options.has("--home") ? ctx.options.value("--home") : global.value("--home");
  ctx.winePrefix = ctx.options.has("--wine-prefix") ? ctx.options.value("--wine-prefix")
                                                    : global.value("--wine-prefix");
  if (!ctx.winePrefix.empty() && !setWinePrefix(ctx.winePrefix, &error)) return fail(error);
  ctx.noWait = ctx.options.has("--no-wait") || global.has("--no-wait");
  ctx.home = defaultHome(homeOption);
  ctx.stdoutIsTerminal = KELDRUN_ISATTY(1);
  ctx.stderrIsTerminal = KELDRUN_ISATTY(2);
  const char* noColor = std::getenv("NO_COLOR");
  ctx.color = ctx.stdoutIsTerminal && !(noColor && *noColor);
  return command.run(ctx);
}

}  // namespace keldrun

