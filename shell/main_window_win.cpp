#include "shell/main_window_win.h"

#include "base/text.h"
#include "base/text_table.h"
#include "resources/resource_ids.h"
#include "shell/help_page_win.h"
#include "shell/program_win.h"
#include "shell/snapshot_screen_win.h"
#include "shell/snapshots_page_win.h"
#include "toolkit/message_box.h"
#include "toolkit/resource_ids.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

// The tab row: 20 pixels at 100 % scale.
int tabHeight() { return dpiScale(20); }
constexpr UINT kShowStartupMessage = WM_APP + 1;
const int kPageTemplates[kTabCount] = {IDD_SNAPSHOTS_PAGE, IDD_REGISTRY_PAGE, IDD_FILES_PAGE,
                                       IDD_APPLICATIONS_PAGE, IDD_HELP_PAGE};

}  // namespace

MainWindow::MainWindow(Settings* settings, ComparisonContext* context)
    : CXDialogBase(IDD_MAIN_WINDOW), settings_(settings), context_(context),
      model_(settings, context) {
  pages_[kTabSnapshots] = std::make_unique<SnapshotsPage>(this);
  pages_[kTabRegistry] = std::make_unique<RegistryScreen>(this);
  pages_[kTabFiles] = std::make_unique<FilesScreen>(this);
  pages_[kTabApplications] = std::make_unique<ApplicationsScreen>(this);
  pages_[kTabHelp] = std::make_unique<HelpPage>(this);
}

MainWindow::~MainWindow() = default;

MainPage* MainWindow::page(int tab) const { return pages_[tab].get(); }

bool MainWindow::onInitDialog() {
  setMainWindow(hwnd());
  if (HMENU system = GetSystemMenu(hwnd(), FALSE)) {
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, kAboutCommand, wide(widen(text(kTextAboutMenu))));
  }
  icon_ = LoadIconW(toolkitInstance(), MAKEINTRESOURCEW(IDI_KELDRUN));
  SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));

  RECT client;
  GetClientRect(hwnd(), &client);
  tabs_.create(hwnd(), IDC_MAIN_TABS, RECT{0, 0, client.right, tabHeight()});
  for (int tab = 0; tab < kTabCount; tab++) tabs_.addTab(widen(mainTabText(tab)));
  tabs_.setSelectionCallback([this](int tab) {
    model_.selectTab(tab);
    showTab(model_.visibleTab());
  });
  createPage(kTabSnapshots);
  waitForWorkspace();  // done by the page already, unless it could not be made
  model_.setUp();
  applyModel();
  if (!startupMessage_.empty()) PostMessageW(hwnd(), kShowStartupMessage, 0, 0);
  return true;
}

void MainWindow::waitForWorkspace() {
  if (!startupLoad_) return;
  startupMessage_ = startupLoad_->wait();
  startupLoad_ = nullptr;
}

void MainWindow::createPage(int tab) {
  MainPage* p = page(tab);
  if (p->hwnd()) return;
  RECT client;
  GetClientRect(hwnd(), &client);
  p->create(hwnd());
  SetWindowLongPtrW(p->hwnd(), GWLP_ID, kPageTemplates[tab]);
  MoveWindow(p->hwnd(), 0, tabHeight(), client.right, client.bottom - tabHeight(), FALSE);
}

void MainWindow::createScreens() {
  for (int tab = kTabRegistry; tab <= kTabApplications; tab++) createPage(tab);
}

void MainWindow::showTab(int tab) {
  if (tab == shownTab_) return;
  if (tab >= kTabRegistry && tab <= kTabApplications) createScreens();
  createPage(tab);
  if (shownTab_ >= 0) ShowWindow(page(shownTab_)->hwnd(), SW_HIDE);
  ShowWindow(page(tab)->hwnd(), SW_SHOW);
  shownTab_ = tab;
  tabs_.selectTab(tab);
  if (tab == kTabHelp && !helpLoaded_) {
    helpLoaded_ = true;
    static_cast<HelpScreen*>(page(kTabHelp))->loadPages();
  }
}

void MainWindow::applyModel() {
  SetWindowTextW(hwnd(), wide(fromUtf8(model_.title())));
  showTab(model_.visibleTab());
}

void MainWindow::refreshScreens() {
  createScreens();
  for (int tab = kTabRegistry; tab <= kTabApplications; tab++) {
    static_cast<ComparisonScreen*>(page(tab))->refresh();
  }
}

void MainWindow::showComparison() {
  model_.showComparison();
  applyModel();
  refreshScreens();
}

void MainWindow::viewModeChanged() {
  createScreens();
  for (int tab = kTabRegistry; tab <= kTabApplications; tab++) {
    static_cast<ComparisonScreen*>(page(tab))->setViewMode(settings_->viewMode);
  }
  model_.viewModeChanged();
  applyModel();
  refreshScreens();
}

void MainWindow::closeComparison() {
  for (int tab = kTabRegistry; tab <= kTabApplications; tab++) {
    if (page(tab)->hwnd()) static_cast<ComparisonScreen*>(page(tab))->empty();
  }
  model_.closeComparison();
  applyModel();
}

void MainWindow::onSize(int width, int height) {
  if (!tabs_.hwnd()) return;
  int top = tabHeight();
  MoveWindow(tabs_.hwnd(), 0, 0, width, top, TRUE);
  for (int tab = 0; tab < kTabCount; tab++) {
    if (page(tab)->hwnd()) {
      MoveWindow(page(tab)->hwnd(), 0, top, width, height > top ? height - top : 0, TRUE);
    }
  }
}

void MainWindow::paintIconic() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT client;
  GetClientRect(hwnd(), &client);
  SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
  DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, icon_);
  EndPaint(hwnd(), &ps);
}

INT_PTR MainWindow::onMessage(UINT message, WPARAM wparam, LPARAM lparam, bool* handled) {
  switch (message) {
    case WM_SYSCOMMAND:
      if (model_.systemCommand(unsigned(wparam))) {
        applyModel();
        static_cast<HelpScreen*>(page(kTabHelp))->showTopic(model_.helpTopic());
        *handled = true;
        return TRUE;
      }
      return FALSE;
    case WM_ACTIVATE:
      // Another process may have changed the catalog while the user was elsewhere: coming
      // back to the window is when the list must show it. Cheaper than watching the file.
      if (LOWORD(wparam) != WA_INACTIVE) static_cast<SnapshotsPage*>(page(kTabSnapshots))->followCatalog();
      return FALSE;
    case kShowStartupMessage:
      showShellMessage(startupMessage_);
      *handled = true;
      return TRUE;
    case WM_HELP:
      model_.helpKey();
      applyModel();
      static_cast<HelpScreen*>(page(kTabHelp))->showTopic(model_.helpTopic());
      *handled = true;
      return TRUE;
    case WM_PAINT:
      if (IsIconic(hwnd())) {
        paintIconic();
        *handled = true;
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      *handled = true;
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_GETMINMAXINFO: {
      // The pages' controls need room; below this the window would only cut them off.
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      info->ptMinTrackSize.x = dpiScale(400);
      info->ptMinTrackSize.y = dpiScale(300);
      *handled = true;
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace keldrun
