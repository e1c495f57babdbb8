// Forced into every test file of the Windows build: the few POSIX calls that the portable tests
// use for temporary folders and UTC times, mapped to the C runtime of mingw-w64.
#ifndef KELDRUN_TESTS_WIN_COMPAT_H_
#define KELDRUN_TESTS_WIN_COMPAT_H_
#ifdef _WIN32
#ifdef __cplusplus
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <cstdlib>
#include <cstring>
#include <ctime>

// Replaces the trailing XXXXXX of tmpl and creates that folder; null when it cannot.
inline char* mkdtemp(char* tmpl) {
  size_t n = std::strlen(tmpl);
  if (n < 6) return nullptr;
  for (int attempt = 0; attempt < 100; attempt++) {
    std::memcpy(tmpl + n - 6, "XXXXXX", 6);
    if (_mktemp_s(tmpl, n + 1) != 0) return nullptr;
    if (_mkdir(tmpl) == 0) return tmpl;
  }
  return nullptr;
}
inline int mkdir(const char* path, int) { return _mkdir(path); }
inline time_t timegm(struct tm* t) { return _mkgmtime(t); }
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif
#endif
#endif  // KELDRUN_TESTS_WIN_COMPAT_H_
