#include "toolkit/shell_open.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "base/files.h"
#include "base/text_win.h"

namespace keldrun {

bool openWithShell(const std::string& path, long long* shellResult) {
  HINSTANCE r = ShellExecuteW(nullptr, L"open", toWide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (shellResult) *shellResult = static_cast<long long>(reinterpret_cast<INT_PTR>(r));
  return reinterpret_cast<INT_PTR>(r) > 32;
}

std::string documentsFolder() {
  wchar_t path[MAX_PATH] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return std::string();
  }
  return withSeparator(fromWide(path));
}

}  // namespace keldrun
