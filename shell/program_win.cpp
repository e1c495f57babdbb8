#include "shell/program_win.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "base/files.h"
#include "base/text.h"
#include "toolkit/message_box.h"

namespace keldrun {

std::string executableFolder();  // platform/env_win.cpp

std::string programFolder() { return withSeparator(executableFolder()); }

Settings& programSettings() {
  static Settings settings(programFolder());
  return settings;
}

ComparisonContext& programContext() {
  static ComparisonContext context;
  static bool placed = false;
  if (!placed) {
    context.setDataFolder(programSettings().dataFolder());
    placed = true;
  }
  return context;
}

std::string documentsFolder() {
  wchar_t path[MAX_PATH] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return std::string();
  }
  return withSeparator(toUtf8(std::u16string(reinterpret_cast<const char16_t*>(path))));
}

void showShellMessage(const ShellMessage& message) {
  std::u16string text = fromUtf8(message.text);  // messages name paths, which are UTF-8
  switch (message.kind) {
    case MessageKind::None: return;
    case MessageKind::Error: showError(text); return;
    case MessageKind::Warning: showWarning(text); return;
    case MessageKind::Information: showInfo(text); return;
  }
}

bool openWithShell(const std::string& path, long long* shellResult) {
  std::u16string wide = fromUtf8(path);
  HINSTANCE r = ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(wide.c_str()),
                              nullptr, nullptr, SW_SHOWNORMAL);
  if (shellResult) *shellResult = static_cast<long long>(reinterpret_cast<INT_PTR>(r));
  return reinterpret_cast<INT_PTR>(r) > 32;
}

}  // namespace keldrun
