#include "toolkit/shell_open.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "base/files.h"
#include "base/text.h"

namespace keldrun {

bool openWithShell(const std::string& path, long long* shellResult) {
  std::u16string wide = fromUtf8(path);
  HINSTANCE r = ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(wide.c_str()),
                              nullptr, nullptr, SW_SHOWNORMAL);
  if (shellResult) *shellResult = static_cast<long long>(reinterpret_cast<INT_PTR>(r));
  return reinterpret_cast<INT_PTR>(r) > 32;
}

std::string documentsFolder() {
  wchar_t path[MAX_PATH] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return std::string();
  }
  return withSeparator(toUtf8(std::u16string(reinterpret_cast<const char16_t*>(path))));
}

}  // namespace keldrun
