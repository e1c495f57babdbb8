// keldrun: the command-line front end. A thin layer over the engine: it parses the global
// options, picks the command and hands it the rest.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/command.h"
#include "cli/workspace.h"
#include "platform/env.h"

#ifdef _WIN32
#include <io.h>
#define KELDRUN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KELDRUN_ISATTY(fd) isatty(fd)
#endif

namespace keldrun {

namespace {

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
    if (*c.summary) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);  // "" = not listed
  std::fprintf(out, "\nRun 'keldrun COMMAND --help' for the options of a command.\n");
}

}  // namespace

Registration::Registration(const Command& command) { registry().push_back(command); }

const std::vector<Command>& commands() { return registry(); }

int fail(const std::string& message) {
  std::fprintf(stderr, "keldrun: %s\n", message.c_str());
  return kExitError;
}

int runMain(int argc, char** argv) {
  CommandContext ctx;
  std::string homeOption;
  int i = 1;
  for (; i < argc; i++) {
    std::string a = argv[i];
    if ((a == "--home" || a == "--wine-prefix") && i + 1 < argc) {
      (a == "--home" ? homeOption : ctx.winePrefix) = argv[++i];
    } else if (a.rfind("--home=", 0) == 0) {
      homeOption = a.substr(7);
    } else if (a.rfind("--wine-prefix=", 0) == 0) {
      ctx.winePrefix = a.substr(14);
    } else if (a == "--help" || a == "-h") {
      printUsage(stdout);
      return kExitOk;
    } else if (!a.empty() && a[0] == '-') {
      return fail("unknown option '" + a + "' (see 'keldrun --help')");
    } else {
      break;
    }
  }
  if (i >= argc) {
    printUsage(stderr);
    return kExitError;
  }
  const Command* command = nullptr;
  for (const Command& c : registry())
    if (std::strcmp(c.name, argv[i]) == 0) command = &c;
  if (!command) return fail(std::string("unknown command '") + argv[i] + "' (see 'keldrun --help')");
  for (int k = i + 1; k < argc; k++) {
    if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
      std::fputs(command->usage, stdout);
      return kExitOk;
    }
    ctx.args.push_back(argv[k]);
  }
  if (!ctx.winePrefix.empty()) setWinePrefix(ctx.winePrefix);
  ctx.home = defaultHome(homeOption);
  ctx.stdoutIsTerminal = KELDRUN_ISATTY(1);
  ctx.stderrIsTerminal = KELDRUN_ISATTY(2);
  const char* noColor = std::getenv("NO_COLOR");
  ctx.color = ctx.stdoutIsTerminal && !(noColor && *noColor);
  return command->run(ctx);
}

}  // namespace keldrun

#ifdef _WIN32
// Arguments arrive as UTF-16 and travel on as UTF-8.
#include "engine/text.h"
extern "C" int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> storage;
  std::vector<char*> argv;
  for (int i = 0; i < argc; i++)
    storage.push_back(keldrun::toUtf8(std::u16string(reinterpret_cast<const char16_t*>(wargv[i]))));
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return keldrun::runMain(argc, argv.data());
}
#else
int main(int argc, char** argv) { return keldrun::runMain(argc, argv); }
#endif
