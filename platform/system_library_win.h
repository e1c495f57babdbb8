// Functions of system libraries that the program needs only now and then, found at their first
// use instead of imported: every imported library is loaded before the first line runs, and
// under Wine some take tens of milliseconds (comdlg32 brings the print spooler with it).
#ifndef KELDRUN_PLATFORM_SYSTEM_LIBRARY_WIN_H_
#define KELDRUN_PLATFORM_SYSTEM_LIBRARY_WIN_H_

#include <windows.h>

namespace keldrun {

// The function `name` of the system library `library` ("comdlg32.dll"), loaded from the
// system folder only and kept for the life of the process; null when either is missing.
FARPROC systemFunction(const wchar_t* library, const char* name);

// The same into *out, a pointer of the function's own type (decltype(&GetOpenFileNameW));
// whether it was found.
template <typename F>
bool findSystemFunction(const wchar_t* library, const char* name, F* out) {
  *out = reinterpret_cast<F>(reinterpret_cast<void*>(systemFunction(library, name)));
  return *out != nullptr;
}

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_SYSTEM_LIBRARY_WIN_H_
