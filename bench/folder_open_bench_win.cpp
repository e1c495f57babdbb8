// What opening a folder for listing costs, by its full path (as the Win32 Env does) against
// relative to its parent's open handle (NtOpenFile with a RootDirectory), over every folder of
// a tree, and beside both the whole listing of each folder by full path, so that the open's share
// of a files scan shows.
//   folder_open_bench.exe DIR [RUNS]
// DIR: a Windows path (c:\tree or z:\tmp\tree). Prints each pass's median over RUNS (default 5).
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Folder {
  size_t parent;      // index of the parent folder; the root is its own parent
  std::wstring name;  // the last component
  std::wstring path;  // "\\?\" form, no trailing backslash
};

constexpr DWORD kAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The folders below root, parents before their children, depth first.
void collect(size_t index, std::vector<Folder>* out) {
  std::wstring pattern = (*out)[index].path + L"\\*";
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &d, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> names;
  do {
    if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (!wcscmp(d.cFileName, L".") || !wcscmp(d.cFileName, L"..")) continue;
    names.push_back(d.cFileName);
  } while (FindNextFileW(h, &d));
  FindClose(h);
  for (const std::wstring& n : names) {
    out->push_back({index, n, (*out)[index].path + L"\\" + n});
    collect(out->size() - 1, out);
  }
}

double now() {
  static LARGE_INTEGER f = [] { LARGE_INTEGER x; QueryPerformanceFrequency(&x); return x; }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

HANDLE openFull(const Folder& f) {
  return CreateFileW(f.path.c_str(), kAccess, kShare, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

HANDLE openRelative(HANDLE parent, const Folder& f) {
  UNICODE_STRING name;
  name.Buffer = const_cast<wchar_t*>(f.name.c_str());
  name.Length = name.MaximumLength = USHORT(f.name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE h = nullptr;
  NTSTATUS s = NtOpenFile(&h, kAccess, &attributes, &io, kShare,
                          0x1 /* FILE_DIRECTORY_FILE */ | 0x20 /* FILE_SYNCHRONOUS_IO_NONALERT */ |
                              0x4000 /* FILE_OPEN_FOR_BACKUP_INTENT */);
  return s < 0 ? INVALID_HANDLE_VALUE : h;
}

// Every folder opened by its full path and closed; the number that failed.
size_t passFull(const std::vector<Folder>& folders) {
  size_t failed = 0;
  for (const Folder& f : folders) {
    HANDLE h = openFull(f);
    if (h == INVALID_HANDLE_VALUE) failed++;
    else CloseHandle(h);
  }
  return failed;
}

// Every folder opened relative to its parent, whose handle stays open while its children are.
size_t passRelative(const std::vector<Folder>& folders) {
  size_t failed = 0;
  std::vector<std::pair<size_t, HANDLE>> open;  // the current path's folders
  for (size_t i = 0; i < folders.size(); i++) {
    const Folder& f = folders[i];
    while (!open.empty() && open.back().first != f.parent) {
      CloseHandle(open.back().second);
      open.pop_back();
    }
    HANDLE h = open.empty() ? openFull(f) : openRelative(open.back().second, f);
    if (h == INVALID_HANDLE_VALUE) {
      failed++;
      continue;
    }
    open.push_back({i, h});
  }
  for (auto& o : open) CloseHandle(o.second);
  return failed;
}

// Every folder opened by its full path and listed whole, as the Env lists it.
size_t passList(const std::vector<Folder>& folders) {
  std::vector<uint64_t> buffer(64 * 1024 / 8);
  size_t failed = 0;
  for (const Folder& f : folders) {
    HANDLE h = openFull(f);
    if (h == INVALID_HANDLE_VALUE) {
      failed++;
      continue;
    }
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(h, kind, buffer.data(), DWORD(buffer.size() * 8))) kind = FileIdBothDirectoryInfo;
    CloseHandle(h);
  }
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: folder_open_bench DIR [RUNS]\n");
    return 2;
  }
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::string dir = argv[1];
  while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  std::vector<Folder> folders;
  folders.push_back({0, L"", L"\\\\?\\" + std::wstring(dir.begin(), dir.end())});
  collect(0, &folders);
  std::printf("%zu folders\n", folders.size());
  struct Pass {
    const char* what;
    size_t (*run)(const std::vector<Folder>&);
    std::vector<double> times;
  } passes[] = {{"open by full path", passFull, {}},
                {"open relative to the parent", passRelative, {}},
                {"open by full path and list", passList, {}}};
  for (int r = 0; r < runs; r++) {
    for (Pass& p : passes) {
      double t = now();
      size_t failed = p.run(folders);
      p.times.push_back(now() - t);
      if (failed) std::printf("  %s: %zu folders failed\n", p.what, failed);
    }
  }
  for (Pass& p : passes) {
    std::sort(p.times.begin(), p.times.end());
    double m = p.times[p.times.size() / 2];
    std::printf("%-30s median %8.1f ms, %6.1f us a folder\n", p.what, m, m * 1000.0 / double(folders.size()));
  }
  return 0;
}
