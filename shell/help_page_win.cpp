#include "shell/help_page_win.h"

#include <commctrl.h>

#include "base/text_table.h"
#include "base/text_win.h"
#include "reports/report_viewer.h"
#include "resources/resource_ids.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

constexpr int kInset = 10;  // pixels at 100 % scale
const int kPageEntries[2] = {kTextAboutPage, kTextHowToPage};
const int kBrowserIds[2] = {IDC_HELP_ABOUT, IDC_HELP_HOW_TO};

std::string runningExecutable() {
  wchar_t path[32768] = {0};
  DWORD n = GetModuleFileNameW(nullptr, path, 32768);
  return toUtf8(u16(path, n));
}

}  // namespace

HelpPage::HelpPage(MainWindow* main) : HelpScreen(IDD_HELP_PAGE, main) {}

bool HelpPage::onInitDialog() {
  RECT client;
  GetClientRect(hwnd(), &client);
  const int inset = dpiScale(kInset);
  RECT area = {inset, inset, client.right - inset, client.bottom - inset};
  tabs_ = createChildControl(hwnd(), IDC_HELP_TABS, area, WC_TABCONTROLW, L"",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP);
  const wchar_t* titles[2] = {L"About", L"How to use"};
  for (int i = 0; i < 2; i++) {
    TCITEMW tab = {};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<wchar_t*>(titles[i]);
    TabCtrl_InsertItem(tabs_, i, &tab);
  }
  RECT inside = area;
  TabCtrl_AdjustRect(tabs_, FALSE, &inside);
  for (int i = 0; i < 2; i++) pages_[i].create(inside, i == 0 ? WS_VISIBLE : 0, kBrowserIds[i], hwnd());
  // The browsers lie over the tab control's display area.
  for (int i = 0; i < 2; i++) SetWindowPos(pages_[i].hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  return true;
}

void HelpPage::loadPages() {
  if (loaded_) return;
  loaded_ = true;
  std::string executable = runningExecutable();
  for (int i = 0; i < 2; i++) {
    // The page texts are ASCII; the executable's path is UTF-8.
    pages_[i].clear();
    pages_[i].writeWide(fromUtf8(helpPage(kPageEntries[i], executable)));
  }
}

void HelpPage::showTopic(HelpTopic topic) {
  if (topic == HelpTopic::None) return;
  loadPages();
  showTab(topic == HelpTopic::About ? 0 : 1);
}

void HelpPage::showTab(int tab) {
  shown_ = tab;
  TabCtrl_SetCurSel(tabs_, tab);
  ShowWindow(pages_[tab].hwnd(), SW_SHOW);
  ShowWindow(pages_[1 - tab].hwnd(), SW_HIDE);
}

void HelpPage::onSize(int width, int height) {
  if (!tabs_) return;
  const int inset = dpiScale(kInset);
  RECT area = {inset, inset, width - inset, height - inset};
  if (area.right < area.left) area.right = area.left;
  if (area.bottom < area.top) area.bottom = area.top;
  MoveWindow(tabs_, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  TabCtrl_AdjustRect(tabs_, FALSE, &area);
  for (CXWebBrowser& page : pages_) {
    MoveWindow(page.hwnd(), area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  }
}

LRESULT HelpPage::onNotify(NMHDR* header, bool* handled) {
  if (header->idFrom == IDC_HELP_TABS && header->code == TCN_SELCHANGE) {
    showTab(TabCtrl_GetCurSel(tabs_) == 1 ? 1 : 0);
  }
  return 0;
}

}  // namespace keldrun
