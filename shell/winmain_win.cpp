// Keldrun.exe: start-up. Initialises COM and the window toolkit, then runs one of: either
// uninstall stage ("-uninstall", alone or with the program folder), the setup window (when the
// executable runs under another name than the installed one), or the main window over the
// program folder's workspace, saving the settings once it has closed.
#include <windows.h>
#include <ole2.h>

#include <memory>
#include <vector>

#include "setup/installation_win.h"
#include "setup/setup_window_win.h"
#include "shell/main_window_win.h"
#include "shell/program_win.h"
#include "shell/snapshot_commands.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"
#include "workspace/catalog_lock.h"

using namespace keldrun;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The C runtime's arguments, as keldrun-cli.exe takes them: CommandLineToArgvW would load
  // shell32 at start.
  std::vector<std::u16string> arguments;
  for (int i = 1; i < __argc && __wargv; i++)
    arguments.emplace_back(__wargv[i], __wargv[i] + wcslen(__wargv[i]));
  StartDecision start = decideStart(arguments, runningFileName());
  // The workspace is read while COM, the toolkit and the main window are made.
  ComparisonContext& context = programContext();
  Settings& settings = programSettings();
  std::unique_ptr<StartupLoad> load;
  if (start.mode == StartMode::MainWindow) load = std::make_unique<StartupLoad>(&settings);

  // COM for the embedded browser; OleInitialize also gives the thread its apartment.
  HRESULT com = OleInitialize(nullptr);
  if (!initToolkit(instance)) return 1;
  if (start.mode != StartMode::MainWindow) {
    switch (start.mode) {
      case StartMode::UninstallFirstStage: showShellMessage(uninstallFirstStage()); break;
      case StartMode::UninstallSecondStage: showShellMessage(uninstallSecondStage(start.folderArgument)); break;
      default: runSetupWindow(); break;
    }
    if (SUCCEEDED(com)) OleUninitialize();
    return 0;
  }

  MainWindow window(&settings, &context);
  window.setStartupLoad(load.get());
  window.runModal(nullptr);
  ShellMessage damaged = load->wait();
  context.close();
  // A damaged settings file that could not be moved aside is not written over.
  bool mayOverwrite = damaged.kind != MessageKind::Error;
  if (mayOverwrite) {
    // Saved under the workspace lock over the catalog as the other processes left it.
    CatalogLock lock(&settings);
    ShellMessage busy = lock.tryTake();
    bool locked = busy.empty();
    if (busy.kind == MessageKind::Warning) {
      showShellMessage(ShellMessage::information(kSavingWhenFree));
      bool stillBusy = false;
      std::string reason;
      locked = lock.take(true, &stillBusy, &reason);
    } else if (!locked) {
      showShellMessage(busy);
    }
    if (locked && !settings.save()) showShellMessage(cannotSaveSettings(settings));
  }
  if (SUCCEEDED(com)) OleUninitialize();
  return 0;
}
