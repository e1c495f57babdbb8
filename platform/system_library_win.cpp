#include "platform/system_library_win.h"

#include <string>

namespace keldrun {

FARPROC systemFunction(const wchar_t* library, const char* name) {
  // Only the system folder's copy: a library of the same name beside the program or in the
  // current folder is never loaded in its place.
  HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A Windows 7 without the update that brought the flag: name the system folder's file.
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    module = LoadLibraryW((std::wstring(folder, n) + L"\\" + library).c_str());
  }
  return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace keldrun
