#include "toolkit/file_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "toolkit/toolkit.h"

namespace keldrun {

std::u16string saveFileFilter(const std::u16string& description, const std::u16string& extension) {
  return description + u" (*." + extension + u")|*." + extension + u"|All files (*.*)|*.*||";
}

bool chooseSaveFile(HWND owner, const std::u16string& description, const std::u16string& extension,
                    const std::u16string& defaultName, std::u16string* path,
                    const std::u16string& title) {
  // The dialog wants the filter's pieces separated by NULs.
  std::u16string filter = saveFileFilter(description, extension);
  for (char16_t& c : filter) {
    if (c == u'|') c = 0;
  }
  std::vector<wchar_t> file(32768, L'\0');
  defaultName.copy(reinterpret_cast<char16_t*>(file.data()), std::min(defaultName.size(), file.size() - 1));
  std::vector<wchar_t> folder(32768, L'\0');
  DWORD kept = GetCurrentDirectoryW(DWORD(folder.size()), folder.data());
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wide(filter);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = DWORD(file.size());
  ofn.lpstrDefExt = wide(extension);
  if (!title.empty()) ofn.lpstrTitle = wide(title);
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  bool chosen = GetSaveFileNameW(&ofn) != FALSE;
  if (kept > 0 && kept < folder.size()) SetCurrentDirectoryW(folder.data());
  if (chosen) *path = u16(file.data());
  return chosen;
}

}  // namespace keldrun
