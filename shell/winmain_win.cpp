// Keldrun.exe: start-up. Initialises COM and the window toolkit, runs the main window modally
// over the program folder's workspace, and saves the settings once it has closed.
#include <windows.h>
#include <ole2.h>

#include "shell/main_window_win.h"
#include "shell/program_win.h"
#include "shell/snapshot_commands.h"
#include "toolkit/toolkit.h"

using namespace keldrun;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // COM for the embedded browser; OleInitialize also gives the thread its apartment.
  HRESULT com = OleInitialize(nullptr);
  if (!initToolkit(instance)) return 1;

  Settings& settings = programSettings();
  settings.ensureLoaded();
  ShellMessage damaged = setAsideDamagedSettings(&settings);

  MainWindow window(&settings, &programContext());
  window.setStartupMessage(damaged);  // over the window, whose empty list it explains
  window.runModal(nullptr);
  programContext().close();
  // A damaged settings file that could not be moved aside is not written over.
  bool mayOverwrite = damaged.kind != MessageKind::Error;
  if (mayOverwrite && !settings.save()) showShellMessage(cannotSaveSettings(settings));
  if (SUCCEEDED(com)) OleUninitialize();
  return 0;
}
