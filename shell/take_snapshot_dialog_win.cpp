#include "shell/take_snapshot_dialog_win.h"

#include <commctrl.h>

#include <vector>

#include "base/text.h"
#include "resources/resource_ids.h"
#include "shell/program_win.h"
#include "toolkit/button.h"
#include "toolkit/dialog.h"
#include "toolkit/message_box.h"
#include "toolkit/toolkit.h"
#include "toolkit/tree.h"
#include "workspace/take_snapshot.h"

namespace keldrun {

namespace {

constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressPeriodMs = 250;
constexpr int kStartImage = 0;
constexpr int kCancelImage = 1;
constexpr int kStopImage = 13;
constexpr COLORREF kTreeEnabledBack = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kTreeDisabledBack = RGB(0xDC, 0xDC, 0xDC);

// Message box texts keep their line breaks; the static text control wants "\r\n".
std::u16string staticText(const std::string& s) {
  std::u16string w = fromUtf8(s), out;
  for (char16_t c : w) {
    if (c == u'\n') out += u'\r';
    out += c;
  }
  return out;
}

// The selection tree page: shows the SelectionTree model in a check-box tree, fills items on
// their first expansion and forwards clicks on the check boxes. Tree items carry their model id.
class SelectionPage : public CXDialogBase {
 public:
  explicit SelectionPage(SelectionTree* model) : CXDialogBase(IDD_SELECTION_PAGE), model_(model) {}

  void enable(bool on) {
    EnableWindow(tree_.hwnd(), on);
    TreeView_SetBkColor(tree_.hwnd(), on ? kTreeEnabledBack : kTreeDisabledBack);
    InvalidateRect(tree_.hwnd(), nullptr, TRUE);
  }
  HWND treeWindow() const { return tree_.hwnd(); }
  HTREEITEM handleOf(int id) const {
    return size_t(id) < handles_.size() ? handles_[size_t(id)] : nullptr;
  }

 protected:
  bool onInitDialog() override {
    tree_.attach(hwnd(), IDC_SELECTION_TREE);
    tree_.setStateImages(checkStateImages());
    tree_.setStateImageCallback([this](HTREEITEM item) { clicked(item); });
    insertBelow(TVI_ROOT, model_->root());
    for (int s = 0; s < kSectionCount; s++) {
      int section = model_->sectionItem(s);
      if (!model_->item(section).children.empty())
        TreeView_Expand(tree_.hwnd(), handleOf(section), TVE_EXPAND);
    }
    TreeView_Expand(tree_.hwnd(), handleOf(model_->root()), TVE_EXPAND);
    return true;
  }

  void onSize(int width, int height) override {
    MoveWindow(tree_.hwnd(), 0, 0, width, height, TRUE);
  }

  LRESULT onNotify(NMHDR* header, bool* handled) override {
    if (header->idFrom != IDC_SELECTION_TREE) return 0;
    if (header->code == TVN_ITEMEXPANDINGW || header->code == TVN_ITEMEXPANDINGA) {
      auto* n = reinterpret_cast<NMTREEVIEWW*>(header);
      if (n->action & TVE_EXPAND) fill(n->itemNew.hItem);
    } else if (header->code == TVN_KEYDOWN) {
      // The space bar works the selected item's check box, as a click on it does.
      auto* k = reinterpret_cast<NMTVKEYDOWN*>(header);
      HTREEITEM selected = tree_.selection();
      if (k->wVKey == VK_SPACE && selected) {
        clicked(selected);
        *handled = true;
        return 1;  // no incremental search on the space
      }
    }
    return 0;
  }

 private:
  // Inserts model item id under parent, with every child the model already holds.
  void insertBelow(HTREEITEM parent, int id) {
    const SelectionTree::Item& it = model_->item(id);
    HTREEITEM h = tree_.insertItem(parent, TVI_LAST, it.text, 0, 0, LPARAM(id));
    if (handles_.size() <= size_t(id)) handles_.resize(size_t(id) + 1, nullptr);
    handles_[size_t(id)] = h;
    tree_.setCheck(h, it.state);
    for (int c : it.children) insertBelow(h, c);
  }

  void fill(HTREEITEM item) {
    int id = int(tree_.itemData(item));
    int data = model_->item(id).data;
    if (data != SelectionTree::kDataUnfilled && data != SelectionTree::kDataLeafKey) return;
    HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    model_->expand(id);
    SendMessageW(tree_.hwnd(), WM_SETREDRAW, FALSE, 0);
    while (HTREEITEM child = TreeView_GetChild(tree_.hwnd(), item))
      TreeView_DeleteItem(tree_.hwnd(), child);
    for (int c : model_->item(id).children) insertBelow(item, c);
    SendMessageW(tree_.hwnd(), WM_SETREDRAW, TRUE, 0);
    SetCursor(old);
  }

  void clicked(HTREEITEM item) {
    model_->click(int(tree_.itemData(item)));
    // A click changes the item, its descendants and its ancestors: show every state again.
    for (size_t id = 0; id < handles_.size(); id++)
      if (handles_[id]) tree_.setCheck(handles_[id], model_->item(int(id)).state);
  }

  SelectionTree* model_;
  CXColourTree tree_;
  std::vector<HTREEITEM> handles_;  // by model id; null for ids never shown
};

class TakeSnapshotDialog : public CXDialogBase {
 public:
  TakeSnapshotDialog(Settings* settings, Env* env)
      : CXDialogBase(IDD_TAKE_SNAPSHOT), model_(settings, env), page_(&model_.tree()) {
    model_.keepDigestsChoice = true;
  }

  bool added() const { return model_.state() == TakeSnapshot::State::Finished; }

 protected:
  bool onInitDialog() override {
    start_.attach(hwnd(), IDOK);
    cancel_.attach(hwnd(), IDCANCEL);
    start_.setIcon(buttonImages(), kStartImage);
    cancel_.setIcon(buttonImages(), kCancelImage);
    group_.attach(hwnd(), {IDC_FULL_SCAN, IDC_SELECTED_ITEMS});
    group_.setValue(model_.group);
    CheckDlgButton(hwnd(), IDC_RECORD_DIGESTS, model_.recordDigests ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(hwnd(), IDC_SNAPSHOT_NAME, wide(fromUtf8(model_.name)));
    page_.create(hwnd());
    RECT client;
    GetClientRect(hwnd(), &client);
    place(client.right, client.bottom);
    page_.enable(model_.treeEnabled());
    return true;
  }

  void onSize(int width, int height) override { place(width, height); }

  void onCommand(int id, int code, HWND control) override {
    switch (id) {
      case IDOK:
        if (model_.state() == TakeSnapshot::State::Scanning) stop();
        else start();
        return;
      case IDC_FULL_SCAN:
      case IDC_SELECTED_ITEMS:
        if (code == BN_CLICKED && model_.controlsEnabled()) {
          model_.group = id == IDC_SELECTED_ITEMS ? TakeSnapshot::kSelectedItems : TakeSnapshot::kFullScan;
          page_.enable(model_.treeEnabled());
        }
        return;
      case IDC_RECORD_DIGESTS:
        if (code == BN_CLICKED && model_.controlsEnabled())
          model_.recordDigests = IsDlgButtonChecked(hwnd(), IDC_RECORD_DIGESTS) == BST_CHECKED;
        return;
      default:
        CXDialogBase::onCommand(id, code, control);
    }
  }

  // Cancel ends the dialog only before Start; the toolkit routes Escape and the close box here
  // only while the button is enabled, and this keeps a stray command from ending a scan.
  void onCancel() override {
    if (model_.controlsEnabled()) endDialog(IDCANCEL);
  }

  void onTimer(UINT_PTR id) override {
    if (id != kProgressTimer) return;
    ShellMessage m = model_.tick();
    if (model_.state() == TakeSnapshot::State::Scanning) {
      setProgress(model_.progressText());
      return;
    }
    // The scan has ended: finished or, when the file could not be written, given up.
    KillTimer(hwnd(), kProgressTimer);
    setProgress(model_.progressText());
    showShellMessage(m);
    endDialog(IDOK);
  }

  void onDestroy() override {
    KillTimer(hwnd(), kProgressTimer);
    // A dialog destroyed while scanning (its owner went away) must not leave threads writing.
    model_.stop();
  }

 private:
  void place(int width, int height) {
    // Margins in dialog units: the page lies below the radio buttons and the digests box and
    // above the buttons, which keep to the bottom right corner.
    RECT m = fromUnits(5, 58, 5, 28);
    if (page_.isOpen())
      MoveWindow(page_.hwnd(), m.left, m.top, width - m.left - m.right, height - m.top - m.bottom, TRUE);
    RECT gap = fromUnits(5, 6, 0, 0);
    RECT r;
    GetWindowRect(start_.hwnd(), &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    MoveWindow(cancel_.hwnd(), width - gap.left - w, height - gap.top - h, w, h, TRUE);
    MoveWindow(start_.hwnd(), width - 2 * gap.left - 2 * w, height - gap.top - h, w, h, TRUE);
  }

  void setProgress(const std::string& text) {
    SetDlgItemTextW(hwnd(), IDC_PROGRESS_TEXT, wide(staticText(text)));
  }

  void start() {
    wchar_t buf[512];
    GetDlgItemTextW(hwnd(), IDC_SNAPSHOT_NAME, buf, 512);
    model_.name = toUtf8(u16(buf));
    ShellMessage m = model_.start();
    switch (model_.state()) {
      case TakeSnapshot::State::Idle:  // refused: the dialog stays as it was
        showShellMessage(m);
        return;
      case TakeSnapshot::State::Finished:  // the scan had ended before the timer noticed it
      case TakeSnapshot::State::Stopped:
        KillTimer(hwnd(), kProgressTimer);
        showShellMessage(m);
        endDialog(IDOK);
        return;
      case TakeSnapshot::State::Scanning:
        break;
    }
    SetTimer(hwnd(), kProgressTimer, kProgressPeriodMs, nullptr);
    EnableWindow(item(IDC_SNAPSHOT_NAME), FALSE);
    EnableWindow(cancel_.hwnd(), FALSE);
    group_.enable(false);
    EnableWindow(item(IDC_RECORD_DIGESTS), FALSE);
    page_.enable(false);
    EnableWindow(page_.hwnd(), FALSE);
    start_.setIcon(buttonImages(), kStopImage);
    SetWindowTextW(start_.hwnd(), wide(fromUtf8(model_.buttonText())));
    setProgress(model_.progressText());
  }

  void stop() {
    KillTimer(hwnd(), kProgressTimer);
    showShellMessage(model_.pressStop());
    endDialog(IDOK);
  }

  TakeSnapshot model_;
  SelectionPage page_;
  CXButton start_, cancel_;
  CXRadioGroup group_;
};

}  // namespace

bool runTakeSnapshotDialog(HWND parent) { return runTakeSnapshotDialog(parent, &programSettings()); }

bool runTakeSnapshotDialog(HWND parent, Settings* settings, Env* env) {
  TakeSnapshotDialog dialog(settings, env);
  dialog.runModal(parent);
  return dialog.added();
}

}  // namespace keldrun
