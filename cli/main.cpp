// keldrun: the command-line front end. A thin layer over the engine: runMain (cli/command.cpp)
// parses the global options, picks the command, parses its options from its table and runs it.
#include <string>
#include <vector>

#include "cli/command.h"

#ifdef _WIN32
// Arguments arrive as UTF-16 and travel on as UTF-8.
#include "base/text_win.h"
extern "C" int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> storage;
  std::vector<char*> argv;
  for (int i = 0; i < argc; i++)
    storage.push_back(keldrun::fromWide(wargv[i]));
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return keldrun::runMain(argc, argv.data());
}
#else
#include <csignal>
int main(int argc, char** argv) {
  // A file size limit (ulimit -f) then fails the write that passes it, like a full disk, so
  // that the command removes what it made and says so, instead of dying halfway.
  std::signal(SIGXFSZ, SIG_IGN);
  return keldrun::runMain(argc, argv);
}
#endif
