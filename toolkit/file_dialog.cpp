#include "toolkit/file_dialog.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "platform/system_library_win.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

// Every file or folder dialog may change the current folder, which addresses "data\" and
// "scan_filter.txt"; this puts it back.
class KeepCurrentFolder {
 public:
  KeepCurrentFolder() : saved_(32768, L'\0') {
    DWORD n = GetCurrentDirectoryW(DWORD(saved_.size()), saved_.data());
    if (n == 0 || n >= saved_.size()) saved_[0] = 0;
  }
  ~KeepCurrentFolder() {
    if (saved_[0]) SetCurrentDirectoryW(saved_.data());
  }

 private:
  std::vector<wchar_t> saved_;
};

// The dialogs want a filter's pieces separated by NULs instead of "|".
std::u16string zeroSeparated(std::u16string filter) {
  for (char16_t& c : filter) {
    if (c == u'|') c = 0;
  }
  return filter;
}

// Room for the names of the chosen files: 102400 bytes.
constexpr size_t kFileNameRoom = 102400 / sizeof(wchar_t);

}  // namespace

BOOL showOpenFileDialog(OPENFILENAMEW* dialog) {
  static decltype(&GetOpenFileNameW) show = nullptr;
  if (!show && !findSystemFunction(L"comdlg32.dll", "GetOpenFileNameW", &show)) return FALSE;
  return show(dialog);
}

BOOL showSaveFileDialog(OPENFILENAMEW* dialog) {
  static decltype(&GetSaveFileNameW) show = nullptr;
  if (!show && !findSystemFunction(L"comdlg32.dll", "GetSaveFileNameW", &show)) return FALSE;
  return show(dialog);
}

std::u16string saveFileFilter(const std::u16string& description, const std::u16string& extension) {
  return description + u" (*." + extension + u")|*." + extension + u"|All files (*.*)|*.*||";
}

bool chooseSaveFile(HWND owner, const std::u16string& description, const std::u16string& extension,
                    const std::u16string& defaultName, std::u16string* path,
                    const std::u16string& title) {
  std::u16string filter = zeroSeparated(saveFileFilter(description, extension));
  std::vector<wchar_t> file(32768, L'\0');
  defaultName.copy(reinterpret_cast<char16_t*>(file.data()), std::min(defaultName.size(), file.size() - 1));
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wide(filter);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = DWORD(file.size());
  ofn.lpstrDefExt = wide(extension);
  if (!title.empty()) ofn.lpstrTitle = wide(title);
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  bool chosen;
  {
    KeepCurrentFolder keep;
    chosen = showSaveFileDialog(&ofn) != FALSE;
  }
  if (chosen) *path = u16(file.data());
  return chosen;
}

bool browseForFolder(const std::u16string& title, HWND owner, std::string* folder) {
  KeepCurrentFolder keep;
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.lpszTitle = wide(title);
  // The edit box lets a folder be typed, which the validation then checks.
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_VALIDATE | BIF_EDITBOX |
                 BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return false;
  wchar_t path[MAX_PATH] = {};
  bool ok = SHGetPathFromIDListW(chosen, path) && path[0];
  CoTaskMemFree(chosen);
  if (!ok) return false;
  std::u16string p = u16(path);
  if (p.back() != u'\\') p += u'\\';
  *folder = toUtf8(p);
  return true;
}

bool openFilesDialog(HWND owner, const std::u16string& filter, std::vector<std::string>* files) {
  KeepCurrentFolder keep;
  std::u16string zeroed = zeroSeparated(filter);
  std::vector<wchar_t> names(kFileNameRoom, 0);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = wide(zeroed);
  ofn.lpstrFile = names.data();
  ofn.nMaxFile = DWORD(names.size());
  ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST |
              OFN_PATHMUSTEXIST;
  if (!showOpenFileDialog(&ofn)) return false;
  // One file: its full path. Several: the folder, then each name, each ended by a zero, and an
  // empty name at the end.
  std::vector<std::u16string> parts;
  for (const wchar_t* p = names.data(); *p && p < names.data() + names.size(); p += wcslen(p) + 1)
    parts.push_back(u16(p));
  files->clear();
  if (parts.size() == 1) {
    files->push_back(toUtf8(parts[0]));
  } else if (parts.size() > 1) {
    std::u16string folder = parts[0];
    if (folder.back() != u'\\') folder += u'\\';
    for (size_t i = 1; i < parts.size(); i++) files->push_back(toUtf8(folder + parts[i]));
  }
  return !files->empty();
}

}  // namespace keldrun
