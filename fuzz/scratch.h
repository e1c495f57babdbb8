// A private folder for the files a fuzz target writes on every run. It lives in memory
// (/dev/shm) where the machine has it, since creating and renaming files on a disk would take
// most of the run time, and it is removed with its files when the target exits.
#ifndef KELDRUN_FUZZ_SCRATCH_H_
#define KELDRUN_FUZZ_SCRATCH_H_

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_support {

inline const std::string& scratchFolder() {
  // Never destroyed: the exit handler runs after the destructors of function statics.
  static const std::string* folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
    std::string p = base + "/keldrun_fuzzXXXXXX";
    if (!mkdtemp(p.data())) std::abort();
    std::atexit([] {
      const std::string& f = scratchFolder();
      if (DIR* d = opendir(f.c_str())) {
        while (dirent* e = readdir(d)) {
          if (e->d_name[0] != '.') std::remove((f + "/" + e->d_name).c_str());
        }
        closedir(d);
      }
      rmdir(f.c_str());
    });
    return new std::string(p);
  }();
  return *folder;
}

}  // namespace fuzz_support

#endif  // KELDRUN_FUZZ_SCRATCH_H_
