// keldrun_dialogs.exe: opens one of the snapshot dialogs on the workspace of the current folder,
// as the Snapshots screen's buttons do, for the end-to-end checks that drive them with
// keldrun_drive.exe.
//   keldrun_dialogs.exe take | import | export N...
// Prints "added" when the take-snapshot dialog added a snapshot. Exit status 2 on bad usage.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "shell/settings.h"
#include "shell/take_snapshot_dialog_win.h"
#include "shell/transfer_dialog_win.h"
#include "toolkit/toolkit.h"

int wmain(int argc, wchar_t** argv) {
  using namespace keldrun;
  if (argc < 2) return 2;
  CoInitialize(nullptr);
  initToolkit();
  Settings settings("");
  settings.ensureLoaded();
  if (!wcscmp(argv[1], L"take")) {
    if (runTakeSnapshotDialog(nullptr, &settings)) std::printf("added\n");
  } else if (!wcscmp(argv[1], L"import")) {
    runImportCommand(nullptr, &settings);
  } else if (!wcscmp(argv[1], L"export")) {
    std::vector<int> numbers;
    for (int i = 2; i < argc; i++) numbers.push_back(_wtoi(argv[i]));
    runExportCommand(nullptr, &settings, numbers);
  } else {
    return 2;
  }
  std::fflush(stdout);
  CoUninitialize();
  return 0;
}
