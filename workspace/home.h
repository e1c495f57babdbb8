// The workspace shared by the program and the command-line front end: the program folder with
// "Keldrun.cfg", "data\", "scan_filter.txt", "KeldrunLog.txt" and "tmp\".
#ifndef KELDRUN_WORKSPACE_HOME_H_
#define KELDRUN_WORKSPACE_HOME_H_

#include <string>

namespace keldrun {

// --home when given; on Windows the folder of the executable; on Linux $KELDRUN_HOME, else
// $XDG_DATA_HOME/keldrun, else ~/.local/share/keldrun.
std::string defaultHome(const std::string& homeOption);

// The workspace of the windowed program (the folder of the running executable on Windows), with
// its trailing separator.
std::string programFolder();

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_HOME_H_
