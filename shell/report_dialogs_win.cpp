#include "shell/report_dialogs_win.h"

#include <vector>

#include "base/text.h"
#include "reports/export_damage.h"
#include "reports/report_generation.h"
#include "reports/report_viewer.h"
#include "resources/resource_ids.h"
#include "shell/program_win.h"
#include "shell/report_options.h"
#include "shell/snapshot_commands.h"
#include "toolkit/button.h"
#include "toolkit/controls.h"
#include "toolkit/dialog.h"
#include "toolkit/file_dialog.h"
#include "toolkit/message_box.h"
#include "toolkit/shell_open.h"
#include "toolkit/toolkit.h"
#include "toolkit/web_browser.h"

namespace keldrun {

namespace {

// Pictures of the shared button strip.
constexpr int kOkImage = 0;
constexpr int kCancelImage = 1;
constexpr int kViewImage = 15;
constexpr int kSaveImage = 22;
constexpr int kPrintImage = 23;
constexpr int kExportImage = 24;

std::string fieldText(HWND dialog, int id) { return toUtf8(windowText(GetDlgItem(dialog, id))); }
void setFieldText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextW(dialog, id, wide(fromUtf8(text)));
}
bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void setChecked(HWND dialog, int id, bool on) {
  CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}
void enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

// Moves a control by (dx, dy) pixels and changes its width by dw.
void shift(HWND dialog, int id, int dx, int dy, int dw = 0) {
  HWND control = GetDlgItem(dialog, id);
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  MoveWindow(control, r.left + dx, r.top + dy, r.right - r.left + dw, r.bottom - r.top, FALSE);
}

// Status texts shown while a report is written: the window does not answer meanwhile.
class BusyStatus {
 public:
  BusyStatus(HWND dialog, int id, const char16_t* text) : dialog_(dialog), id_(id) {
    SetDlgItemTextW(dialog, id, wide(text));
    UpdateWindow(dialog);
    cursor_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  }
  ~BusyStatus() { SetCursor(cursor_); }
  void clear() { SetDlgItemTextW(dialog_, id_, L""); }

 private:
  HWND dialog_;
  int id_;
  HCURSOR cursor_;
};

// The viewed report's files, held open while the viewer shows them: another instance of the
// program in this folder can neither delete them (its start-up) nor write its own report over
// them (its View then says it cannot write the report), so the viewer's pages stay its own.
// Reading them is left free, for the viewer and the browser.
class HeldReport {
 public:
  HeldReport(const ReportWriter& writer, const std::string& path) {
    hold(path);
    for (int i = 0; writer.lastPageIndex() > 0 && i <= writer.lastPageIndex(); i++) hold(writer.pageFileName(i));
  }
  ~HeldReport() {
    for (HANDLE h : held_) CloseHandle(h);
  }
  HeldReport(const HeldReport&) = delete;
  HeldReport& operator=(const HeldReport&) = delete;

 private:
  void hold(const std::string& path) {
    HANDLE h = CreateFileW(wide(fromUtf8(path)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) held_.push_back(h);
  }
  std::vector<HANDLE> held_;
};

// ---- dialog 909 ----

const int kSectionBoxes[] = {IDC_REPORT_REGISTRY, IDC_REPORT_FILES, IDC_REPORT_APPLICATIONS};
const int kSectionsGroup[] = {IDC_REPORT_SECTIONS_GROUP, IDC_REPORT_REGISTRY, IDC_REPORT_FILES,
                              IDC_REPORT_APPLICATIONS};
const int kDataGroup[] = {IDC_REPORT_DATA_GROUP,   IDC_REPORT_LIMIT_BINARY, IDC_REPORT_BINARY_LIMIT,
                          IDC_REPORT_BINARY_UNIT,  IDC_REPORT_LIMIT_STRING, IDC_REPORT_STRING_LIMIT,
                          IDC_REPORT_STRING_UNIT};
const int kRangeGroup[] = {IDC_REPORT_RANGE_GROUP, IDC_REPORT_RANGE_ALL, IDC_REPORT_RANGE_PATH,
                           IDC_REPORT_PATH_CAPTION, IDC_REPORT_PATH};
const int kLowerGroup[] = {IDC_REPORT_SPLIT_GROUP, IDC_REPORT_SPLIT, IDC_REPORT_LINES,
                           IDC_REPORT_LINES_UNIT,  IDC_REPORT_STATUS, IDC_REPORT_EXPORT,
                           IDC_REPORT_VIEW,        IDCANCEL};
const int kButtons[] = {IDC_REPORT_EXPORT, IDC_REPORT_VIEW, IDCANCEL};

class DifferencesOptionsDialog : public CXDialogBase {
 public:
  DifferencesOptionsDialog(Settings* settings, ComparisonContext* context, int origin,
                           const std::u16string& prefix)
      : CXDialogBase(IDD_DIFFERENCES_OPTIONS), settings_(settings), context_(context),
        form_(settings->report, origin, prefix) {}

 protected:
  bool onInitDialog() override {
    export_.attach(hwnd(), IDC_REPORT_EXPORT);
    export_.setIcon(buttonImages(), kExportImage);
    view_.attach(hwnd(), IDC_REPORT_VIEW);
    view_.setIcon(buttonImages(), kViewImage);
    cancel_.attach(hwnd(), IDCANCEL);
    cancel_.setIcon(buttonImages(), kCancelImage);
    HWND d = hwnd();
    setChecked(d, IDC_REPORT_ADDED, form_.added);
    setChecked(d, IDC_REPORT_MODIFIED, form_.modified);
    setChecked(d, IDC_REPORT_DELETED, form_.deleted);
    for (int s = 0; s < kSectionCount; s++) setChecked(d, kSectionBoxes[s], form_.sections[s]);
    setChecked(d, IDC_REPORT_LIMIT_BINARY, form_.limitBinary);
    setChecked(d, IDC_REPORT_LIMIT_STRING, form_.limitString);
    setChecked(d, IDC_REPORT_SPLIT, form_.split);
    setFieldText(d, IDC_REPORT_BINARY_LIMIT, form_.binaryText);
    setFieldText(d, IDC_REPORT_STRING_LIMIT, form_.stringText);
    setFieldText(d, IDC_REPORT_LINES, form_.linesText);
    SetDlgItemTextW(d, IDC_REPORT_PATH, wide(form_.pathPrefix()));
    setChecked(d, IDC_REPORT_RANGE_ALL, !form_.onlyPath);
    setChecked(d, IDC_REPORT_RANGE_PATH, form_.onlyPath);
    arrange();
    showEnabled();
    return true;
  }

  void onCommand(int id, int code, HWND control) override {
    switch (id) {
      case IDC_REPORT_EXPORT:
        if (code == BN_CLICKED && IsWindowEnabled(control)) exportReport();
        return;
      case IDC_REPORT_VIEW:
        if (code == BN_CLICKED && IsWindowEnabled(control)) viewReport();
        return;
      case IDC_REPORT_ADDED: case IDC_REPORT_MODIFIED: case IDC_REPORT_DELETED:
      case IDC_REPORT_REGISTRY: case IDC_REPORT_FILES: case IDC_REPORT_APPLICATIONS:
      case IDC_REPORT_LIMIT_BINARY: case IDC_REPORT_LIMIT_STRING: case IDC_REPORT_SPLIT:
        if (code == BN_CLICKED) showEnabled();
        return;
      default:
        CXDialogBase::onCommand(id, code, control);
    }
  }

 private:
  // Hides the groups the origin does not offer and closes the gaps they leave.
  void arrange() {
    DifferencesOptionsForm::Layout l = form_.layout();
    HWND d = hwnd();
    auto hide = [&](const int* ids, size_t n) {
      for (size_t i = 0; i < n; i++) ShowWindow(GetDlgItem(d, ids[i]), SW_HIDE);
    };
    if (!l.sectionsShown) hide(kSectionsGroup, std::size(kSectionsGroup));
    if (!l.dataSizeShown) hide(kDataGroup, std::size(kDataGroup));
    if (!l.rangeShown) hide(kRangeGroup, std::size(kRangeGroup));
    enable(d, IDC_REPORT_RANGE_PATH, l.onlyPathEnabled);
    RECT units = {0, 0, l.narrower, l.rangeUp};
    MapDialogRect(d, &units);
    int narrower = units.right, rangeUp = units.bottom;
    units = {0, 0, 0, l.lowerUp};
    MapDialogRect(d, &units);
    int lowerUp = units.bottom;
    for (int id : kRangeGroup) shift(d, id, 0, -rangeUp);
    for (int id : kLowerGroup) shift(d, id, 0, -lowerUp);
    for (int id : kButtons) shift(d, id, -narrower, 0);
    shift(d, IDC_REPORT_SPLIT_GROUP, 0, 0, -narrower);
    shift(d, IDC_REPORT_STATUS, 0, 0, -narrower);
    RECT frame;
    GetWindowRect(d, &frame);
    SetWindowPos(d, nullptr, 0, 0, frame.right - frame.left - narrower,
                 frame.bottom - frame.top - lowerUp, SWP_NOMOVE | SWP_NOZORDER);
    // Centred again at its final size.
    HWND owner = GetWindow(d, GW_OWNER);
    RECT area;
    if (owner) GetWindowRect(owner, &area); else SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(d, &frame);
    SetWindowPos(d, nullptr, area.left + (area.right - area.left - (frame.right - frame.left)) / 2,
                 area.top + (area.bottom - area.top - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
  }

  void read() {
    HWND d = hwnd();
    form_.added = checked(d, IDC_REPORT_ADDED);
    form_.modified = checked(d, IDC_REPORT_MODIFIED);
    form_.deleted = checked(d, IDC_REPORT_DELETED);
    for (int s = 0; s < kSectionCount; s++) form_.sections[s] = checked(d, kSectionBoxes[s]);
    form_.limitBinary = checked(d, IDC_REPORT_LIMIT_BINARY);
    form_.limitString = checked(d, IDC_REPORT_LIMIT_STRING);
    form_.split = checked(d, IDC_REPORT_SPLIT);
    form_.binaryText = fieldText(d, IDC_REPORT_BINARY_LIMIT);
    form_.stringText = fieldText(d, IDC_REPORT_STRING_LIMIT);
    form_.linesText = fieldText(d, IDC_REPORT_LINES);
    form_.onlyPath = checked(d, IDC_REPORT_RANGE_PATH);
  }

  void showEnabled() {
    read();
    HWND d = hwnd();
    enable(d, IDC_REPORT_BINARY_LIMIT, form_.binaryFieldEnabled());
    enable(d, IDC_REPORT_STRING_LIMIT, form_.stringFieldEnabled());
    enable(d, IDC_REPORT_LINES, form_.linesFieldEnabled());
    enable(d, IDC_REPORT_EXPORT, form_.canGenerate());
    enable(d, IDC_REPORT_VIEW, form_.canGenerate());
  }

  // Reads the dialog, keeps its options and writes the report; the error message when it
  // could not be written whole.
  bool generate(const std::string& path, ReportWriter* writer) {
    read();
    form_.store(&settings_->report);
    std::string message;
    bool done;
    {
      BusyStatus status(hwnd(), IDC_REPORT_STATUS, u"Generating report, please wait...");
      done = generateDifferencesReport(context_, form_.options(), path, writer, &message);
    }
    if (!done) showError(fromUtf8(message));
    return done;
  }

  void exportReport() {
    std::u16string path;
    if (!chooseSaveFile(hwnd(), u"Export", u"htm", u"export.htm", &path)) return;
    ReportWriter writer;
    ExportDamage damage(context_);
    if (generate(toUtf8(path), &writer)) showShellMessage(damage.result(exportDoneMessage(writer)));
    endDialog(1);
  }

  void viewReport() {
    read();
    form_.store(&settings_->report);
    {
      ReportWriter writer;
      std::string path;
      ShellMessage message;
      ExportDamage damage(context_);
      bool done;
      {
        BusyStatus status(hwnd(), IDC_REPORT_STATUS, u"Generating report, please wait...");
        done = writeReportToView(settings_, context_, form_.options(), &writer, &path, &message);
      }
      if (done) {
        HeldReport held(writer, path);
        showShellMessage(damage.result(std::string(), "The report is incomplete."));
        showReportViewer(hwnd(), writer, path);
      } else {
        showShellMessage(message);
      }
    }
    // The viewed report lives only as long as its viewer (and is no longer held).
    settings_->clearReportTempFolder();
    endDialog(1);
  }

  Settings* settings_;
  ComparisonContext* context_;
  DifferencesOptionsForm form_;
  CXButton export_, view_, cancel_;
};

// ---- dialog 910 ----

constexpr UINT kShowPage = WM_APP + 10;

class ReportViewer : public CXDialogBase {
 public:
  ReportViewer(const ReportWriter& writer, const std::string& path)
      : CXDialogBase(IDD_REPORT_VIEWER), writer_(writer), path_(path) {}

 protected:
  bool onInitDialog() override {
    close_.attach(hwnd(), IDCANCEL);
    close_.setIcon(buttonImages(), kCancelImage);
    saveAs_.attach(hwnd(), IDC_VIEWER_SAVE_AS);
    saveAs_.setIcon(buttonImages(), kSaveImage);
    print_.attach(hwnd(), IDC_VIEWER_PRINT);
    print_.setIcon(buttonImages(), kPrintImage);
    RECT client;
    GetClientRect(hwnd(), &client);
    // Above the buttons, which the template places in dialog units.
    RECT buttons;
    GetWindowRect(item(IDCANCEL), &buttons);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&buttons), 2);
    int margin = dpiScale(5);
    RECT area = {margin, margin, client.right - margin, buttons.top - margin};
    browser_.create(area, WS_VISIBLE, IDC_VIEWER_BROWSER, hwnd());
    layout_.add(browser_.hwnd(), kAnchorGrowRight | kAnchorGrowBottom);
    layout_.add(item(IDCANCEL), kAnchorMoveRight | kAnchorMoveDown);
    layout_.add(item(IDC_VIEWER_SAVE_AS), kAnchorMoveDown);
    layout_.add(item(IDC_VIEWER_PRINT), kAnchorMoveDown);
    layout_.apply(hwnd(), client.right, client.bottom);
    if (!path_.empty()) {
      if (writer_.lastPageIndex() > 0) {
        browser_.setBeforeNavigate(&ReportViewer::linkClicked, this);
        showPage(0);
      } else {
        browser_.navigate(fromUtf8(path_));
      }
    }
    return true;
  }

  void onSize(int width, int height) override { layout_.apply(hwnd(), width, height); }

  void onCommand(int id, int code, HWND control) override {
    if (code != BN_CLICKED) return;
    switch (id) {
      case IDC_VIEWER_PRINT:
        if (!browser_.printPreview()) {
          showInfo(u"The print preview needs the system's web browser control.\n"
                   u"Open the report in your web browser to print it.");
        }
        return;
      case IDC_VIEWER_SAVE_AS:
        browser_.saveAs(u"export.htm");
        return;
      default:
        CXDialogBase::onCommand(id, code, control);
    }
  }

  INT_PTR onMessage(UINT message, WPARAM wparam, LPARAM, bool* handled) override {
    if (message != kShowPage) return 0;
    showPage(int(wparam));
    *handled = true;
    return TRUE;
  }

 private:
  // Every navigation the page starts is the program's: a link of the bars names the page to
  // show, which is shown once the browser has finished with the event.
  static bool linkClicked(const std::u16string& url, void* self) {
    int page = pageOfLink(url);
    if (page >= 0) PostMessageW(static_cast<ReportViewer*>(self)->hwnd(), kShowPage, WPARAM(page), 0);
    return false;
  }

  void showPage(int page) {
    ViewerDocument doc;
    if (!viewerDocument(writer_, page, &doc)) return;
    browser_.clear();
    browser_.writeAnsi(doc.before);
    for (const std::u16string& chunk : doc.chunks) browser_.writeWide(chunk);
    browser_.writeAnsi(doc.after);
  }

  const ReportWriter& writer_;
  std::string path_;
  CXWebBrowser browser_;
  CXButton close_, saveAs_, print_;
  CXAnchorLayout layout_;
};

// ---- dialog 911 ----

class SnapshotExportDialog : public CXDialogBase {
 public:
  SnapshotExportDialog(Settings* settings, ComparisonContext* context)
      : CXDialogBase(IDD_SNAPSHOT_EXPORT), settings_(settings), context_(context),
        form_(settings->report, documentsFolder()) {}

 protected:
  bool onInitDialog() override {
    ok_.attach(hwnd(), IDOK);
    ok_.setIcon(buttonImages(), kOkImage);
    cancel_.attach(hwnd(), IDCANCEL);
    cancel_.setIcon(buttonImages(), kCancelImage);
    HWND d = hwnd();
    setFieldText(d, IDC_EXPORT_FOLDER, form_.folder);
    setFieldText(d, IDC_EXPORT_NAME, form_.name);
    setFieldText(d, IDC_EXPORT_LINES, form_.linesText);
    setChecked(d, IDC_EXPORT_SPLIT, form_.split);
    setChecked(d, IDC_EXPORT_OPEN, form_.openAfter);
    enable(d, IDC_EXPORT_LINES, form_.linesFieldEnabled());
    return true;
  }

  void onCommand(int id, int code, HWND control) override {
    if (id == IDC_EXPORT_SPLIT && code == BN_CLICKED) {
      read();
      enable(hwnd(), IDC_EXPORT_LINES, form_.linesFieldEnabled());
      return;
    }
    if (id == IDC_EXPORT_BROWSE && code == BN_CLICKED) {
      std::string folder;
      if (browseForFolder(u"Export to", hwnd(), &folder)) {
        setFieldText(hwnd(), IDC_EXPORT_FOLDER, SnapshotExportForm::chosenFolder(folder));
      }
      return;
    }
    CXDialogBase::onCommand(id, code, control);
  }

  void onOk() override {
    read();
    std::string path = form_.reportPath();
    ReportWriter writer;
    std::string message;
    ExportDamage damage(context_);
    bool done;
    {
      BusyStatus status(hwnd(), IDC_EXPORT_STATUS, u"Exporting data, please wait...");
      done = generateSnapshotReport(context_, path, form_.pageLimit(), &writer, &message);
      status.clear();
    }
    if (!done) {
      showError(fromUtf8(message));  // the dialog stays open for another try
      return;
    }
    form_.store(&settings_->report);
    keepReportOptions(settings_);
    long long shellResult = 0;
    showShellMessage(damage.result(form_.openAfter ? std::string() : exportDoneMessage(path)));
    // A report the shell cannot open is still written: say so, and where it is.
    if (form_.openAfter && !openWithShell(path, &shellResult))
      showError(fromUtf8(exportNotOpenedMessage(path, shellResult)));
    endDialog(IDOK);
  }

 private:
  void read() {
    HWND d = hwnd();
    form_.folder = fieldText(d, IDC_EXPORT_FOLDER);
    form_.name = fieldText(d, IDC_EXPORT_NAME);
    form_.linesText = fieldText(d, IDC_EXPORT_LINES);
    form_.split = checked(d, IDC_EXPORT_SPLIT);
    form_.openAfter = checked(d, IDC_EXPORT_OPEN);
  }

  Settings* settings_;
  ComparisonContext* context_;
  SnapshotExportForm form_;
  CXButton ok_, cancel_;
};

}  // namespace

void showDifferencesReportOptions(HWND owner, Settings* settings, ComparisonContext* context,
                                  int section, const std::u16string& pathPrefix) {
  DifferencesOptionsDialog dialog(settings, context, section, pathPrefix);
  dialog.runModal(owner);
}

void showReportViewer(HWND owner, const ReportWriter& writer, const std::string& reportPath) {
  ReportViewer viewer(writer, reportPath);
  viewer.runModal(owner);
}

void showSnapshotExport(HWND owner, Settings* settings, ComparisonContext* context) {
  SnapshotExportDialog dialog(settings, context);
  dialog.runModal(owner);
}

}  // namespace keldrun
