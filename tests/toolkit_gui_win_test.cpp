// The toolkit's controls and message box as real windows, driven by window messages.
//
// These tests need a display: tests/wine/gui_check.sh runs them under Wine with Xvfb and sets
// KELDRUN_GUI_TESTS=1; without it they are skipped. With KELDRUN_SHOTS set to a folder they
// also save screenshots there (BMP, converted to PNG by the script).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/gui_test_support_win.h"
#include "toolkit/button.h"
#include "toolkit/controls.h"
#include "toolkit/dialog.h"
#include "toolkit/list.h"
#include "toolkit/message_box.h"
#include "toolkit/screenshot.h"
#include "toolkit/subclass.h"
#include "toolkit/toolkit.h"
#include "toolkit/tree.h"
#include "toolkit/web_browser.h"

namespace keldrun {
namespace {

// Win32 calls these back with the stdcall convention, which a lambda cannot have on 32-bit x86:
// each forwards to a plain function set just before it is handed over.
using TimerFn = void (*)(HWND, UINT, UINT_PTR, DWORD);
using SubclassFn = LRESULT (*)(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
TimerFn menuTimerFn, boxTimerFn;
SubclassFn editSubclassFn;
VOID CALLBACK menuTimer(HWND h, UINT m, UINT_PTR id, DWORD t) { menuTimerFn(h, m, id, t); }
VOID CALLBACK boxTimer(HWND h, UINT m, UINT_PTR id, DWORD t) { boxTimerFn(h, m, id, t); }
LRESULT CALLBACK editSubclass(HWND h, UINT m, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
  return editSubclassFn(h, m, wp, lp, id, data);
}

void pump() {
  MSG msg;
  for (int round = 0; round < 3; ++round) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(1);
  }
}

LPARAM at(int x, int y) { return MAKELPARAM(x, y); }

// The colour on the screen at a point in screen coordinates, read through `window`.
COLORREF screenPixel(HWND window, int x, int y) {
  RECT w;
  GetWindowRect(window, &w);
  return windowPixel(window, x - w.left, y - w.top);
}

// Where a child window stands in its parent's client area.
RECT placeIn(HWND parent, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// A top-level test dialog that records what reaches it.
class HostDialog : public CXDialogBase {
 public:
  explicit HostDialog(const DialogTemplate& t) : CXDialogBase(t) {}
  std::vector<int> commands;
  std::vector<UINT> notifications;
  std::function<void()> init;
  std::function<bool(UINT, WPARAM, LPARAM)> message;

 protected:
  bool onInitDialog() override {
    if (init) init();
    return true;
  }
  void onCommand(int id, int code, HWND control) override {
    commands.push_back(id);
    CXDialogBase::onCommand(id, code, control);
  }
  LRESULT onNotify(NMHDR* n, bool* handled) override {
    notifications.push_back(n->code);
    return 0;
  }
  INT_PTR onMessage(UINT m, WPARAM w, LPARAM l, bool* handled) override {
    if (message && message(m, w, l)) *handled = true;
    return 0;
  }
};

DialogTemplate hostTemplate(int cx = 300, int cy = 200) {
  return DialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_CENTER, 0, 0, cx, cy,
                        u"Keldrun toolkit test");
}

// ---- dialog key routing ----

class PageDialog : public CXDialogBase {
 public:
  PageDialog() : CXDialogBase(pageTemplate()) {}
  static DialogTemplate pageTemplate() {
    DialogTemplate t(WS_CHILD | WS_VISIBLE | DS_CONTROL, 0, 0, 200, 80, u"");
    t.add(L"EDIT", 500, WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 120, 14);
    return t;
  }
};

struct RoutingCase {
  UINT key;
  int button;         // the control the key is routed to
  bool enabled;
  INT_PTR expected;   // what the modal run returns
};

TEST(DialogGui, EnterAndEscapeInAChildPageReachAnEnabledButtonOfTheDialog) {
  REQUIRE_GUI();
  const RoutingCase cases[] = {
      {VK_ESCAPE, IDCANCEL, true, IDCANCEL},
      {VK_ESCAPE, IDCANCEL, false, 99},
      {VK_RETURN, IDOK, true, IDOK},
      {VK_RETURN, IDOK, false, 99},
  };
  for (const RoutingCase& c : cases) {
    DialogTemplate t = hostTemplate();
    t.add(L"BUTTON", IDOK, WS_VISIBLE | BS_PUSHBUTTON, 150, 170, 60, 14, u"OK");
    t.add(L"BUTTON", IDCANCEL, WS_VISIBLE | BS_PUSHBUTTON, 220, 170, 60, 14, u"Cancel");
    HostDialog host(t);
    PageDialog page;
    int keysAtEdit = 0;
    host.init = [&] {
      ASSERT_TRUE(page.create(host.hwnd()));
      EnableWindow(host.item(c.button), c.enabled);
      HWND edit = page.item(500);
      SetFocus(edit);
      editSubclassFn = [](HWND w, UINT m, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) -> LRESULT {
        if (m == WM_KEYDOWN && (wp == VK_ESCAPE || wp == VK_RETURN)) ++*reinterpret_cast<int*>(data);
        return DefSubclassProc(w, m, wp, lp);
      };
      SetWindowSubclass(edit, editSubclass, 1, reinterpret_cast<DWORD_PTR>(&keysAtEdit));
      PostMessageW(edit, WM_KEYDOWN, c.key, 0);
      PostMessageW(host.hwnd(), WM_APP, 0, 0);
    };
    host.message = [&](UINT m, WPARAM, LPARAM) {
      if (m != WM_APP) return false;
      host.endDialog(99);
      return true;
    };
    INT_PTR result = host.runModal(nullptr);
    EXPECT_EQ(result, c.expected) << "key " << c.key << " enabled " << c.enabled;
    EXPECT_EQ(keysAtEdit, 0) << "the key reached the control";
  }
}

TEST(DialogGui, PaintsWithTheSchemeAndRelaysTooltips) {
  REQUIRE_GUI();
  DialogTemplate t = hostTemplate(200, 100);
  t.add(L"STATIC", 300, WS_VISIBLE, 10, 10, 100, 10, u"Static text");
  t.add(L"EDIT", 301, WS_VISIBLE | WS_BORDER | ES_READONLY, 10, 30, 100, 14, u"read-only");
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  pump();
  ASSERT_NE(host.tooltip(), nullptr);
  host.addTooltip(300, u"tip");
  EXPECT_EQ(SendMessageW(host.tooltip(), TTM_GETTOOLCOUNT, 0, 0), 1);
  POINT p = {150, 80};
  ClientToScreen(host.hwnd(), &p);
  EXPECT_EQ(screenPixel(host.hwnd(), p.x, p.y), schemeColour(SchemeColour::kDialogBackground));
  // Read-only edit fields take the dialog background as well.
  RECT e;
  GetWindowRect(host.item(301), &e);
  EXPECT_EQ(screenPixel(host.hwnd(), e.right - 4, e.bottom - 4),
            schemeColour(SchemeColour::kDialogBackground));
  shot(host.hwnd(), "dialog");
  host.destroy();
}

// ---- CXButton, check box, radio group ----

TEST(ButtonGui, ClickPressLooksAndTargets) {
  REQUIRE_GUI();
  DialogTemplate t = hostTemplate(200, 100);
  t.add(L"BUTTON", 400, WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 80, 16, u"Press");
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  CXButton b;
  ASSERT_TRUE(b.attach(host.hwnd(), 400));
  b.setIcon(buttonImages(), 0);
  const Colour face = rgb(200, 120, 60);
  b.setFaceColour(face);
  pump();
  RECT r;
  GetClientRect(b.hwnd(), &r);
  POINT corner = {r.right - 4, 3};  // away from the icon, the text and the focus frame
  MapWindowPoints(b.hwnd(), nullptr, &corner, 1);
  EXPECT_EQ(screenPixel(host.hwnd(), corner.x, corner.y), COLORREF(face));

  SendMessageW(b.hwnd(), WM_MOUSEMOVE, 0, at(10, 5));
  EXPECT_TRUE(b.hovering());
  EXPECT_EQ(screenPixel(host.hwnd(), corner.x, corner.y), COLORREF(shade(face, -10)));

  // Press and release inside: one command.
  SendMessageW(b.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(10, 5));
  EXPECT_TRUE(b.pressed());
  SendMessageW(b.hwnd(), WM_LBUTTONUP, 0, at(10, 5));
  EXPECT_EQ(host.commands, std::vector<int>{400});
  // Press inside, release outside: none.
  SendMessageW(b.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(10, 5));
  SendMessageW(b.hwnd(), WM_MOUSEMOVE, MK_LBUTTON, at(500, 5));
  EXPECT_FALSE(b.pressed());
  SendMessageW(b.hwnd(), WM_LBUTTONUP, 0, at(500, 5));
  EXPECT_EQ(host.commands.size(), 1u);
  // The space bar clicks too; a disabled button never does.
  SendMessageW(b.hwnd(), WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(b.hwnd(), WM_KEYUP, VK_SPACE, 0);
  EXPECT_EQ(host.commands.size(), 2u);
  EnableWindow(b.hwnd(), FALSE);
  SendMessageW(b.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(10, 5));
  SendMessageW(b.hwnd(), WM_LBUTTONUP, 0, at(10, 5));
  SendMessageW(b.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(host.commands.size(), 2u);
  EnableWindow(b.hwnd(), TRUE);
  // A notification target takes the command instead of the parent.
  HostDialog other(hostTemplate(50, 50));
  ASSERT_TRUE(other.create(nullptr));
  b.setNotifyTarget(other.hwnd());
  SendMessageW(b.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(host.commands.size(), 2u);
  EXPECT_EQ(other.commands, std::vector<int>{400});
  other.destroy();
  host.destroy();
}

TEST(ButtonGui, CheckBoxAndRadioGroupKeepTheirState) {
  REQUIRE_GUI();
  DialogTemplate t = hostTemplate(200, 100);
  t.add(L"BUTTON", 410, WS_VISIBLE | BS_AUTOCHECKBOX, 10, 10, 80, 12, u"Check");
  t.add(L"BUTTON", 411, WS_VISIBLE | BS_AUTORADIOBUTTON | WS_GROUP, 10, 30, 80, 12, u"One");
  t.add(L"BUTTON", 412, WS_VISIBLE | BS_AUTORADIOBUTTON, 10, 45, 80, 12, u"Two");
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  CXCheckBox check;
  CXRadioGroup radio;
  ASSERT_TRUE(check.attach(host.hwnd(), 410));
  ASSERT_TRUE(radio.attach(host.hwnd(), {411, 412}));
  EXPECT_EQ(check.check(), 0);
  SendMessageW(check.hwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(check.check(), 1);
  check.setCheck(0);
  EXPECT_EQ(SendMessageW(check.hwnd(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(radio.value(), -1);
  radio.setValue(0);
  EXPECT_EQ(SendMessageW(host.item(411), BM_GETCHECK, 0, 0), BST_CHECKED);
  SendMessageW(host.item(412), BM_CLICK, 0, 0);
  EXPECT_EQ(radio.value(), 1);
  EXPECT_EQ(SendMessageW(host.item(411), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  host.destroy();
}

// ---- coloured tree ----

bool labelHasColour(HWND host, HWND tree, HTREEITEM item, COLORREF colour) {
  RECT label;
  if (!TreeView_GetItemRect(tree, item, &label, TRUE)) return false;
  MapWindowPoints(tree, nullptr, reinterpret_cast<POINT*>(&label), 2);
  for (int y = label.top; y < label.bottom; ++y) {
    for (int x = label.left; x < label.right; ++x) {
      if (screenPixel(host, x, y) == colour) return true;
    }
  }
  return false;
}

TEST(TreeGui, ItemsKeepTheirColoursBoldnessAndChecks) {
  REQUIRE_GUI();
  HostDialog host(hostTemplate(220, 160));
  ASSERT_TRUE(host.create(nullptr));
  CXColourTree tree;
  ASSERT_TRUE(tree.create(host.hwnd(), 1000, RECT{5, 5, 300, 250}));
  tree.setImageList(treeImages());
  tree.setStateImages(checkStateImages());
  HTREEITEM root = tree.insertItem(TVI_ROOT, TVI_LAST, u"My Computer", 6, 6, -1);
  HTREEITEM red = tree.insertItem(root, TVI_LAST, u"Deleted key", 8, 8, 1);
  HTREEITEM plain = tree.insertItem(root, TVI_LAST, u"Unchanged key", 6, 6, 2);
  HTREEITEM bold = tree.insertItem(root, TVI_LAST, u"Modified key", 7, 7, 3);
  TreeView_Expand(tree.hwnd(), root, TVE_EXPAND);
  tree.setItemColour(red, rgb(200, 30, 30));
  tree.setItemColour(bold, rgb(30, 30, 200));
  tree.setItemBold(bold, true);
  for (HTREEITEM i : {root, red, plain, bold}) tree.setCheck(i, 0);
  tree.setCheck(bold, 2);
  pump();

  EXPECT_EQ(tree.itemColour(plain), rgb(0, 0, 0));
  EXPECT_TRUE(labelHasColour(host.hwnd(), tree.hwnd(), red, RGB(200, 30, 30)));
  EXPECT_TRUE(labelHasColour(host.hwnd(), tree.hwnd(), bold, RGB(30, 30, 200)));
  EXPECT_TRUE(labelHasColour(host.hwnd(), tree.hwnd(), plain, RGB(0, 0, 0)));
  EXPECT_FALSE(labelHasColour(host.hwnd(), tree.hwnd(), plain, RGB(200, 30, 30)));
  EXPECT_TRUE(tree.itemBold(bold));
  EXPECT_EQ(tree.getCheck(bold), 2);
  EXPECT_EQ(tree.getCheck(red), 0);

  // A click on the state image moves it on and calls back; a click on a label selects.
  std::vector<HTREEITEM> clicked;
  tree.setStateImageCallback([&](HTREEITEM item) { clicked.push_back(item); });
  RECT label;
  TreeView_GetItemRect(tree.hwnd(), red, &label, TRUE);
  int y = (label.top + label.bottom) / 2;
  int stateX = -1;
  for (int x = 0; x < label.left; ++x) {
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    if (TreeView_HitTest(tree.hwnd(), &hit) == red && (hit.flags & TVHT_ONITEMSTATEICON)) {
      stateX = x + 3;
      break;
    }
  }
  ASSERT_GE(stateX, 0);
  SendMessageW(tree.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(stateX, y));
  SendMessageW(tree.hwnd(), WM_LBUTTONUP, 0, at(stateX, y));
  ASSERT_EQ(clicked.size(), 1u);
  EXPECT_EQ(clicked[0], red);
  EXPECT_EQ(tree.getCheck(red), 1);
  SendMessageW(tree.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(label.left + 5, y));
  SendMessageW(tree.hwnd(), WM_LBUTTONUP, 0, at(label.left + 5, y));
  EXPECT_EQ(tree.selection(), red);
  EXPECT_EQ(clicked.size(), 1u);
  pump();
  // The selected item shows the system's selection colours, not its own.
  EXPECT_FALSE(labelHasColour(host.hwnd(), tree.hwnd(), red, RGB(200, 30, 30)));
  shot(host.hwnd(), "tree");

  // A deleted item's colour goes with it; clear() forgets all.
  TreeView_DeleteItem(tree.hwnd(), red);
  EXPECT_EQ(tree.itemColour(red), rgb(0, 0, 0));
  EXPECT_EQ(tree.itemColour(bold), rgb(30, 30, 200));
  tree.clear();
  EXPECT_EQ(TreeView_GetCount(tree.hwnd()), 0u);
  EXPECT_EQ(tree.itemColour(bold), rgb(0, 0, 0));
  host.destroy();
}

BOOL CALLBACK countProp(HWND, LPWSTR, HANDLE, ULONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}
int propCount(HWND window) {
  int count = 0;
  EnumPropsExW(window, countProp, reinterpret_cast<LPARAM>(&count));
  return count;
}

// Every message to the tree passes through its subclass, one per inserted item: a subclass kept
// in a window property costs a lookup in the window server under Wine on each of them. The tree
// must take its messages without adding a property, and give its own procedure back after.
TEST(TreeGui, TakesItsMessagesWithoutAWindowPropertyAndGivesThemBack) {
  REQUIRE_GUI();
  DialogTemplate t = hostTemplate(220, 160);
  t.add(WC_TREEVIEWW, 1002, WS_VISIBLE | WS_BORDER | TVS_HASBUTTONS, 5, 5, 200, 150);
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  HWND window = GetDlgItem(host.hwnd(), 1002);
  ASSERT_NE(window, nullptr);
  LONG_PTR own = GetWindowLongPtrW(window, GWLP_WNDPROC);
  int props = propCount(window);
  {
    CXColourTree tree;
    ASSERT_TRUE(tree.attach(host.hwnd(), 1002));
    EXPECT_EQ(propCount(window), props);
    EXPECT_NE(GetWindowLongPtrW(window, GWLP_WNDPROC), own);
    HTREEITEM item = tree.insertItem(TVI_ROOT, TVI_LAST, u"HKEY_LOCAL_MACHINE", 6, 6, 7);
    tree.setItemColour(item, rgb(200, 30, 30));
    // Through the window, as tools outside the process ask.
    EXPECT_EQ(COLORREF(SendMessageW(window, kTreeItemColourQuery, 0, LPARAM(item))), RGB(200, 30, 30));
    EXPECT_EQ(tree.itemText(item), u"HKEY_LOCAL_MACHINE");
    EXPECT_EQ(tree.itemData(item), 7);
  }
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), own);
  EXPECT_EQ(SendMessageW(window, kTreeItemColourQuery, 0, 0), 0);
  EXPECT_EQ(TreeView_GetCount(window), 1u);
  host.destroy();
}

// ---- subclassing kept in the process ----

constexpr UINT kTrace = WM_APP + 5;      // each link adds its letter and passes the message on
constexpr UINT kLeaveNow = WM_APP + 6;   // the link of id 3 takes itself out while it runs

LRESULT CALLBACK tracingLink(HWND w, UINT m, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
  auto* trace = reinterpret_cast<std::string*>(data);
  if (m == kTrace || m == kLeaveNow || m == WM_NCDESTROY) trace->push_back(char('A' + id - 1));
  if (m == kLeaveNow && id == 3) removeSubclass(w, tracingLink, id);
  return defSubclassProc(w, m, wp, lp);
}

LRESULT CALLBACK answeringLink(HWND w, UINT m, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  if (m == WM_GETTEXTLENGTH) return 77;  // answers without passing on
  return defSubclassProc(w, m, wp, lp);
}

TEST(SubclassGui, LinksRunNewestFirstWithoutAWindowPropertyAndGiveTheProcedureBack) {
  REQUIRE_GUI();
  DialogTemplate t = hostTemplate(120, 60);
  t.add(L"STATIC", 1003, WS_VISIBLE, 5, 5, 100, 20, u"static");
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  HWND window = GetDlgItem(host.hwnd(), 1003);
  ASSERT_NE(window, nullptr);
  LONG_PTR own = GetWindowLongPtrW(window, GWLP_WNDPROC);
  int props = propCount(window);
  std::string trace, other;

  ASSERT_TRUE(subclassWindow(window, tracingLink, 1, DWORD_PTR(&other)));
  ASSERT_TRUE(subclassWindow(window, tracingLink, 2, DWORD_PTR(&trace)));
  ASSERT_TRUE(subclassWindow(window, tracingLink, 1, DWORD_PTR(&trace)));  // new data, same link
  ASSERT_TRUE(subclassWindow(window, tracingLink, 3, DWORD_PTR(&trace)));
  EXPECT_EQ(propCount(window), props);
  SendMessageW(window, kTrace, 0, 0);
  EXPECT_EQ(trace, "CBA");
  EXPECT_EQ(other, "");

  // A link that leaves inside its own call finishes that call and is not called again.
  trace.clear();
  SendMessageW(window, kLeaveNow, 0, 0);
  SendMessageW(window, kTrace, 0, 0);
  EXPECT_EQ(trace, "CBABA");

  // A link may answer alone; below it the window's own procedure still answers the rest.
  ASSERT_TRUE(subclassWindow(window, answeringLink, 9, 0));
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 77);
  removeSubclass(window, answeringLink, 9);
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 6);

  removeSubclass(window, tracingLink, 2);
  EXPECT_NE(GetWindowLongPtrW(window, GWLP_WNDPROC), own);
  removeSubclass(window, tracingLink, 1);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), own);
  trace.clear();
  SendMessageW(window, kTrace, 0, 0);
  EXPECT_EQ(trace, "");

  // Under a subclass of the common controls put on later, taking ours out leaves theirs working
  // and the messages still reach the window's own procedure.
  ASSERT_TRUE(subclassWindow(window, tracingLink, 1, DWORD_PTR(&trace)));
  editSubclassFn = [](HWND w, UINT m, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) -> LRESULT {
    if (m == kTrace) reinterpret_cast<std::string*>(data)->push_back('Z');
    return DefSubclassProc(w, m, wp, lp);
  };
  ASSERT_TRUE(SetWindowSubclass(window, editSubclass, 1, DWORD_PTR(&trace)));
  removeSubclass(window, tracingLink, 1);
  SendMessageW(window, kTrace, 0, 0);
  EXPECT_EQ(trace, "Z");
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 6);
  RemoveWindowSubclass(window, editSubclass, 1);

  // Links still on at the end see the window go.
  trace.clear();
  ASSERT_TRUE(subclassWindow(window, tracingLink, 2, DWORD_PTR(&trace)));
  DestroyWindow(window);
  EXPECT_EQ(trace, "B");
  EXPECT_FALSE(subclassWindow(window, tracingLink, 2, DWORD_PTR(&trace)));
  host.destroy();
}

// ---- virtual list and sort header ----

std::u16string cellText(HWND list, int row, int column) {
  wchar_t buf[256] = {0};
  ListView_GetItemText(list, row, column, buf, 256);
  return u16(buf);
}

// A row of the three-column test lists with its picture and text colour.
struct ListRow {
  const char16_t* name;
  const char16_t* size;
  const char16_t* label;
  int image;
  Colour text;
};

void addRows(CXVirtualList& list, Colour background, const std::vector<ListRow>& rows) {
  for (const ListRow& r : rows) {
    size_t i = list.addRow({r.name, r.size, r.label});
    list.setRowColours(i, background, r.text);
    list.setRowImage(i, r.image);
  }
}

TEST(ListGui, RowsShowTheirTextsColoursAndSortByHeaderClicks) {
  REQUIRE_GUI();
  DialogTemplate t = hostTemplate(260, 160);
  t.add(WC_LISTVIEWW, 1001, WS_VISIBLE | WS_BORDER | LVS_REPORT, 5, 5, 250, 150);
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  CXVirtualList list;
  ASSERT_TRUE(list.attach(host.hwnd(), 1001));
  EXPECT_TRUE(GetWindowLongW(list.hwnd(), GWL_STYLE) & LVS_OWNERDATA);
  EXPECT_EQ(GetDlgItem(host.hwnd(), 1001), list.hwnd());
  list.setImageList(listImages());
  list.setColumns({u"Name", u"Size", u"State"}, {kSortText, kSortNumber, kSortNone});
  list.setColumnWidths({100, 60, 50});
  list.fillColumn(2, 40);
  addRows(list, rgb(255, 255, 245),
          {{u"setup.exe", u"120", u"add", 5, rgb(0, 180, 0)},
           {u"Readme.txt", u"9", u"del", 4, rgb(200, 30, 30)},
           {u"app.dll", u"4096", u"-", 2, rgb(0, 0, 0)}});
  pump();
  EXPECT_EQ(ListView_GetItemCount(list.hwnd()), 3);
  EXPECT_EQ(cellText(list.hwnd(), 1, 0), u"Readme.txt");
  EXPECT_EQ(cellText(list.hwnd(), 2, 1), u"4096");
  RECT client;
  GetClientRect(list.hwnd(), &client);
  EXPECT_EQ(ListView_GetColumnWidth(list.hwnd(), 2), std::max(40, int(client.right) - 25 - 160));

  // A click on the Size header sorts by number; a second one reverses.
  HWND header = list.header();
  auto clickHeader = [&](int column) {
    RECT r;
    Header_GetItemRect(header, column, &r);
    LPARAM p = at((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, p);
    SendMessageW(header, WM_LBUTTONUP, 0, p);
    pump();
  };
  clickHeader(1);
  EXPECT_EQ(list.model().sortColumn(), 1);
  EXPECT_EQ(cellText(list.hwnd(), 0, 1), u"9");
  EXPECT_EQ(cellText(list.hwnd(), 2, 1), u"4096");
  EXPECT_EQ(list.row(0).text, rgb(200, 30, 30));  // the colour moved with its row
  clickHeader(1);
  EXPECT_EQ(cellText(list.hwnd(), 0, 1), u"4096");
  clickHeader(2);  // not sortable
  EXPECT_EQ(list.model().sortColumn(), 1);
  EXPECT_EQ(cellText(list.hwnd(), 0, 1), u"4096");
  clickHeader(0);
  EXPECT_EQ(cellText(list.hwnd(), 0, 0), u"app.dll");
  EXPECT_EQ(cellText(list.hwnd(), 1, 0), u"Readme.txt");

  list.select(1, true);
  EXPECT_EQ(list.selectedRows(), std::vector<int>{1});
  list.select(-1, false);

  // A list whose owner keeps the order: header clicks go to the owner, the arrow follows it.
  std::vector<int> clicked;
  list.setColumnClickHandler([&](int column) { clicked.push_back(column); });
  clickHeader(1);
  EXPECT_EQ(clicked, std::vector<int>{1});
  EXPECT_EQ(cellText(list.hwnd(), 0, 0), u"app.dll");  // not sorted by the list
  list.showSortArrow(2, false);
  EXPECT_EQ(list.model().sortColumn(), 2);
  EXPECT_FALSE(list.model().sortAscending());
  EXPECT_EQ(cellText(list.hwnd(), 0, 0), u"app.dll");
  EXPECT_TRUE(list.selectedRows().empty());
  shot(host.hwnd(), "list");
  list.clear();
  EXPECT_EQ(ListView_GetItemCount(list.hwnd()), 0);
  host.destroy();
}

// ---- tab strip, splitter, anchor layout ----

// The main window's tabs: more than a narrow strip shows at once.
void addMainTabs(CXTabStrip& tabs) {
  for (const char16_t* name : {u"Snapshots", u"Registry", u"Files", u"Applications", u"Help"}) {
    tabs.addTab(name);
  }
}

TEST(TabStripGui, SelectsScrollsAndReportsRightClicks) {
  REQUIRE_GUI();
  HostDialog host(hostTemplate(200, 100));
  ASSERT_TRUE(host.create(nullptr));
  CXTabStrip tabs;
  ASSERT_TRUE(tabs.create(host.hwnd(), 1005, RECT{0, 0, 120, 20}));
  addMainTabs(tabs);
  std::vector<int> selected;
  tabs.setSelectionCallback([&](int i) { selected.push_back(i); });
  pump();
  HWND left = GetDlgItem(tabs.hwnd(), CXTabStrip::kScrollLeftId);
  HWND right = GetDlgItem(tabs.hwnd(), CXTabStrip::kScrollRightId);
  ASSERT_TRUE(left && right);
  EXPECT_TRUE(IsWindowVisible(left));
  EXPECT_TRUE(IsWindowVisible(right));
  EXPECT_EQ(tabs.layout().tabRect(0).width(), textWidth(tabFont(), u"Snapshots") + 16);

  LayoutRect second = tabs.layout().tabRect(1);
  if (second.width() > 0) {
    SendMessageW(tabs.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(second.left + 2, 10));
    EXPECT_EQ(selected, std::vector<int>{1});
    SendMessageW(tabs.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(second.left + 2, 10));
    EXPECT_EQ(selected.size(), 1u);  // no change, no callback
  }
  SendMessageW(right, BM_CLICK, 0, 0);
  EXPECT_EQ(tabs.layout().firstVisible(), 1u);
  LayoutRect first = tabs.layout().tabRect(1);
  SendMessageW(tabs.hwnd(), WM_RBUTTONUP, 0, at(first.left + 2, 10));
  ASSERT_FALSE(host.notifications.empty());
  EXPECT_EQ(int(host.notifications.back()), NM_RCLICK);
  SendMessageW(left, BM_CLICK, 0, 0);
  EXPECT_EQ(tabs.layout().firstVisible(), 0u);
  shot(host.hwnd(), "tabs_narrow");

  SetWindowPos(tabs.hwnd(), nullptr, 0, 0, 600, 20, SWP_NOZORDER | SWP_NOMOVE);
  pump();
  EXPECT_FALSE(IsWindowVisible(left));
  EXPECT_FALSE(IsWindowVisible(right));
  host.destroy();
}

TEST(SplitterGui, DragReportsTheNewPositionWithinTheMinimum) {
  REQUIRE_GUI();
  HostDialog host(hostTemplate(200, 100));
  ASSERT_TRUE(host.create(nullptr));
  RECT client;
  GetClientRect(host.hwnd(), &client);
  CXSplitter bar;
  ASSERT_TRUE(bar.create(host.hwnd(), 1100, RECT{100, 0, 104, client.bottom}, true, 30));
  std::vector<int> moved;
  bar.setCallback([&](int p) { moved.push_back(p); });
  SendMessageW(bar.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(2, 10));
  EXPECT_TRUE(bar.dragging());
  EXPECT_EQ(GetCapture(), bar.hwnd());
  SendMessageW(bar.hwnd(), WM_MOUSEMOVE, MK_LBUTTON, at(52, 10));
  SendMessageW(bar.hwnd(), WM_LBUTTONUP, 0, at(2, 10));  // the bar has moved under the mouse
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved[0], 150);
  EXPECT_FALSE(bar.dragging());
  EXPECT_NE(GetCapture(), bar.hwnd());
  EXPECT_EQ(int(host.notifications.back()), int(kSplitterMoved));
  // Far left: held at the minimum pane.
  SendMessageW(bar.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at(2, 10));
  SendMessageW(bar.hwnd(), WM_LBUTTONUP, 0, at(-500, 10));
  EXPECT_EQ(moved.back(), 30);
  host.destroy();
}

TEST(AnchorLayoutGui, ControlsFollowTheDialogSize) {
  REQUIRE_GUI();
  DialogTemplate t(WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_VISIBLE, 0, 0, 200, 120, u"resize");
  t.add(L"EDIT", 1, WS_VISIBLE | WS_BORDER, 5, 5, 190, 80);
  t.add(L"BUTTON", 2, WS_VISIBLE | BS_PUSHBUTTON, 140, 95, 50, 14, u"Close");
  t.add(L"BUTTON", 4, WS_VISIBLE | BS_PUSHBUTTON, 5, 95, 50, 14, u"Print");
  HostDialog host(t);
  ASSERT_TRUE(host.create(nullptr));
  ASSERT_NE(host.item(1), nullptr);
  ASSERT_NE(host.item(4), nullptr);
  CXAnchorLayout layout;
  layout.add(host.item(1), kAnchorGrowRight | kAnchorGrowBottom);
  layout.add(host.item(2), kAnchorMoveRight | kAnchorMoveDown);
  layout.add(host.item(4), kAnchorMoveDown);
  auto place = [&](int id) { return placeIn(host.hwnd(), host.item(id)); };
  RECT c;
  GetClientRect(host.hwnd(), &c);
  layout.apply(host.hwnd(), c.right, c.bottom);
  RECT edit0 = place(1), close0 = place(2), print0 = place(4);
  layout.apply(host.hwnd(), c.right + 80, c.bottom + 40);
  RECT edit1 = place(1), close1 = place(2), print1 = place(4);
  EXPECT_EQ(edit1.right - edit0.right, 80);
  EXPECT_EQ(edit1.bottom - edit0.bottom, 40);
  EXPECT_EQ(edit1.left, edit0.left);
  EXPECT_EQ(close1.left - close0.left, 80);
  EXPECT_EQ(close1.top - close0.top, 40);
  EXPECT_EQ(print1.left, print0.left);
  EXPECT_EQ(print1.top - print0.top, 40);
  host.destroy();
}

// ---- popup menu ----

TEST(PopupMenuGui, ChosenCommandIsReturnedOrSentToTheOwner) {
  REQUIRE_GUI();
  HostDialog host(hostTemplate(200, 100));
  ASSERT_TRUE(host.create(nullptr));
  SetForegroundWindow(host.hwnd());
  CXPopupMenu menu;
  menu.addItem(u"View Snapshot", 1, 15, false);
  menu.addItem(u"Properties", 2, 16, true);
  menu.addSeparator();
  menu.addItem(u"Export snapshot(s)", 4, 17, true);
  EXPECT_EQ(menu.measure(menu.items()[1]).width, textWidth(guiFont(), u"Properties") + 30);
  EXPECT_EQ(menu.measure(menu.items()[2]).height, 4);

  // Keys reach the menu from inside its own loop, through a timer: Down until the wanted item
  // is highlighted (disabled items and the title may be passed over or not, as the system
  // likes), then Enter, or Escape.
  static int wanted;
  static int ticks;
  static HWND popup;
  auto choose = [&](int command, bool returnCommand) {
    wanted = command;
    ticks = 0;
    popup = nullptr;
    menuTimerFn = [](HWND, UINT, UINT_PTR, DWORD) {
      HWND p = FindWindowW(L"#32768", nullptr);
      if (!p || ++ticks > 30) return;
      popup = p;
      if (wanted == 0) {
        PostMessageW(p, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
      }
      HMENU m = reinterpret_cast<HMENU>(SendMessageW(p, MN_GETHMENU, 0, 0));
      int hot = -1;
      for (int i = 0; i < GetMenuItemCount(m); ++i) {
        if (GetMenuState(m, UINT(i), MF_BYPOSITION) & MF_HILITE) hot = i;
      }
      bool onWanted = hot >= 0 && int(GetMenuItemID(m, hot)) == wanted;
      PostMessageW(p, WM_KEYDOWN, onWanted ? VK_RETURN : VK_DOWN, 0);
    };
    UINT_PTR timer = SetTimer(nullptr, 0, 40, menuTimer);
    RECT w;
    GetWindowRect(host.hwnd(), &w);
    int r = menu.showAt(u"Options", host.hwnd(), returnCommand, w.left + 20, w.top + 40);
    KillTimer(nullptr, timer);
    EXPECT_NE(popup, nullptr) << "the menu never opened";
    return r;
  };
  EXPECT_EQ(choose(2, true), 2);
  EXPECT_TRUE(host.commands.empty());
  EXPECT_EQ(choose(0, true), 0);
  // Without returnCommand the choice goes to the owner.
  EXPECT_EQ(choose(4, false), 0);
  EXPECT_EQ(host.commands, std::vector<int>{4});
  host.destroy();
}

// ---- message box ----

struct BoxLook {
  std::u16string caption;
  std::vector<std::u16string> buttons;  // visible ones, in id order
  std::vector<RECT> places;             // their client rectangles
  RECT text = {};
  SIZE size = {};
  bool ownerEnabled = true;
  int focusId = 0;  // the control with the focus while the box was open
};

// Runs a message box; `act` is called from inside its loop once it is open.
int runBox(const std::function<int()>& show, const std::function<void(HWND box)>& act,
           BoxLook* look = nullptr, HWND owner = nullptr, const char* shotName = nullptr) {
  static std::function<void()> tick;
  static bool done;
  done = false;
  tick = [&] {
    HWND box = openMessageBox();
    if (!box || done) return;
    done = true;
    if (look) {
      look->caption = windowText(box);
      for (int id : {20003, 20004, 20005}) {
        HWND b = GetDlgItem(box, id);
        if (b && IsWindowVisible(b)) {
          look->buttons.push_back(windowText(b));
          look->places.push_back(placeIn(box, b));
        }
      }
      look->text = placeIn(box, GetDlgItem(box, 10001));
      RECT w;
      GetWindowRect(box, &w);
      look->size = {w.right - w.left, w.bottom - w.top};
      look->ownerEnabled = owner ? IsWindowEnabled(owner) != FALSE : true;
      look->focusId = GetDlgCtrlID(GetFocus());
    }
    if (shotName) shot(box, shotName);
    act(box);
  };
  boxTimerFn = [](HWND, UINT, UINT_PTR, DWORD) { tick(); };
  UINT_PTR timer = SetTimer(nullptr, 0, 30, boxTimer);
  int result = show();
  KillTimer(nullptr, timer);
  EXPECT_TRUE(done) << "the box never opened";
  return result;
}

void press(HWND box, int id) { PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0); }

TEST(MessageBoxGui, OneLineOkIsOneButtonInTheMiddleReturningSix) {
  REQUIRE_GUI();
  BoxLook look;
  int r = runBox([] { return showInfo(u"Export done."); }, [](HWND b) { press(b, 20003); }, &look,
                 nullptr, "message_info");
  EXPECT_EQ(r, 6);
  EXPECT_EQ(look.caption, u"Info");
  ASSERT_EQ(look.buttons, std::vector<std::u16string>{u"Ok"});
  int textWidth = look.size.cx - 90;
  EXPECT_EQ(look.places[0].left, (textWidth + 15) / 2);
  EXPECT_EQ(look.places[0].right - look.places[0].left, 70);
  EXPECT_EQ(look.places[0].bottom - look.places[0].top, 22);
  EXPECT_EQ(look.size.cy, 15 + 110);
  EXPECT_EQ(look.text.left, 70);
  EXPECT_EQ(look.text.top, 20);
  EXPECT_EQ(look.text.bottom - look.text.top, 15);
}

TEST(MessageBoxGui, DeleteQuestionYesNoEscapeAndCloseButton) {
  REQUIRE_GUI();
  const std::u16string q = u"Delete selected snapshots?";
  auto ask = [&] { return showWarning(q, kButtonsYesNo); };
  BoxLook look;
  EXPECT_EQ(runBox(ask, [](HWND b) { press(b, 20003); }, &look, nullptr, "message_warning"), 6);
  EXPECT_EQ(look.caption, u"Warning");
  EXPECT_EQ(look.buttons, (std::vector<std::u16string>{u"Yes", u"No"}));
  EXPECT_EQ(look.focusId, 20003);
  EXPECT_EQ(runBox(ask, [](HWND b) { press(b, 20004); }), 7);
  EXPECT_EQ(runBox(ask, [](HWND b) { PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0); }), 2);
  EXPECT_EQ(runBox(ask, [](HWND b) { PostMessageW(b, WM_SYSCOMMAND, SC_CLOSE, 0); }), 2);
}

TEST(MessageBoxGui, ThreeLinesGrowTheTextAreaAndTheBox) {
  REQUIRE_GUI();
  BoxLook one, three;
  runBox([] { return showError(u"Cannot open snapshot"); }, [](HWND b) { press(b, 20003); }, &one,
         nullptr, "message_error");
  runBox([] { return showError(u"Cannot open snapshot\nsnap001.snp\nThe file is damaged."); },
         [](HWND b) { press(b, 20003); }, &three);
  EXPECT_EQ(one.caption, u"Error");
  EXPECT_EQ(three.text.bottom - three.text.top, 45);
  EXPECT_EQ((three.text.bottom - three.text.top) - (one.text.bottom - one.text.top), 30);
  EXPECT_EQ(three.size.cy - one.size.cy, 30);
}

TEST(MessageBoxGui, ShortYesNoCancelIsLaidOutForOneHundredFifty) {
  REQUIRE_GUI();
  BoxLook look;
  int r = runBox([] { return showMessage(u"Go?", kButtonsYesNoCancel | kDefaultThirdButton,
                                         MessageBoxKind::kWarning); },
                 [](HWND b) { press(b, 20005); }, &look, nullptr, "message_question");
  EXPECT_EQ(r, 2);
  EXPECT_EQ(look.size.cx, 150 + 90);
  ASSERT_EQ(look.buttons, (std::vector<std::u16string>{u"Yes", u"No", u"Cancel"}));
  EXPECT_EQ(look.places[0].left, 5);
  EXPECT_EQ(look.places[1].left, (150 + 15) / 2);
  EXPECT_EQ(look.places[2].left, 159);
  EXPECT_EQ(look.focusId, 20005);
}

TEST(MessageBoxGui, OwnerIsDisabledWhileOpenAndQuitIsHandedOn) {
  REQUIRE_GUI();
  HostDialog owner(hostTemplate(150, 80));
  ASSERT_TRUE(owner.create(nullptr));
  setMainWindow(owner.hwnd());
  BoxLook look;
  EXPECT_EQ(runBox([] { return showInfo(u"busy"); }, [](HWND b) { press(b, 20003); }, &look,
                   owner.hwnd()),
            6);
  EXPECT_FALSE(look.ownerEnabled);
  EXPECT_TRUE(IsWindowEnabled(owner.hwnd()));

  EXPECT_EQ(runBox([] { return showInfo(u"quit"); }, [](HWND) { PostQuitMessage(5); }), -1);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_TRUE(IsWindowEnabled(owner.hwnd()));
  setMainWindow(nullptr);
  owner.destroy();
}

// ---- browser ----

struct BrowserEvents {
  std::vector<std::u16string> asked, completed;
  bool allow = true;
};

bool onBefore(const std::u16string& url, void* c) {
  auto* e = static_cast<BrowserEvents*>(c);
  e->asked.push_back(url);
  return e->allow;
}
void onComplete(const std::u16string& url, void* c) {
  static_cast<BrowserEvents*>(c)->completed.push_back(url);
}

TEST(BrowserGui, TextWrittenBeforeTheDocumentExistsAppearsOnceItDoes) {
  REQUIRE_GUI();
  HostDialog host(hostTemplate(260, 160));
  ASSERT_TRUE(host.create(nullptr));
  CXWebBrowser browser;
  ASSERT_TRUE(browser.create(RECT{5, 5, 380, 240}, WS_VISIBLE, 1001, host.hwnd()));
  if (runningUnderWine()) {
    EXPECT_FALSE(browser.usesHtmlEngine());
  }
  if (browser.usesHtmlEngine()) GTEST_SKIP() << "the real browser control is checked by hand";
  EXPECT_FALSE(browser.documentReady());
  browser.writeWide(u"<html><body><h1>Report</h1>");
  browser.writeAnsi("<p>first &amp; second</p></body></html>");
  EXPECT_EQ(browser.shownText(), u"");
  pump();
  EXPECT_TRUE(browser.documentReady());
  EXPECT_EQ(browser.shownText(), u"Report\r\nfirst & second");
  HWND view = GetDlgItem(browser.hwnd(), 100);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(windowText(view), u"Report\r\nfirst & second");
  shot(host.hwnd(), "browser_text");

  browser.clear();
  browser.writeWide(u"again");
  pump();
  EXPECT_EQ(windowText(view), u"again");

  BrowserEvents events;
  browser.setBeforeNavigate(onBefore, &events);
  browser.setNavigateComplete(onComplete, &events);
  events.allow = false;
  browser.navigate(u"http://example.invalid/#003");
  pump();
  EXPECT_EQ(events.asked, std::vector<std::u16string>{u"http://example.invalid/#003"});
  EXPECT_TRUE(events.completed.empty());
  EXPECT_EQ(windowText(view), u"again");

  // A local page loads as text, and completion is reported with its address.
  wchar_t folder[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, L"kdr", 0, file);
  HANDLE f = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const char16_t page[] = u"\uFEFF<html><body>Page <b>two</b></body></html>";
  DWORD put;
  WriteFile(f, page, DWORD(sizeof(page) - 2), &put, nullptr);
  CloseHandle(f);
  events.allow = true;
  std::u16string url = u16(file);
  browser.navigate(url);
  pump();
  ASSERT_EQ(events.completed.size(), 1u);
  EXPECT_EQ(events.completed[0], url);
  EXPECT_EQ(browser.shownText(), u"Page two");
  EXPECT_FALSE(browser.onErrorPage());
  EXPECT_FALSE(browser.printPreview());
  DeleteFileW(file);
  host.destroy();
}

std::u16string listText(HWND list, int index) {
  wchar_t text[256] = {0};
  if (SendMessageW(list, LB_GETTEXTLEN, WPARAM(index), 0) < 256) {
    SendMessageW(list, LB_GETTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text));
  }
  return u16(text);
}

TEST(BrowserGui, TextViewOffersTheDocumentsLinksAsARowTheKeyboardFollows) {
  REQUIRE_GUI();
  HostDialog host(hostTemplate(260, 160));
  ASSERT_TRUE(host.create(nullptr));
  CXWebBrowser browser;
  ASSERT_TRUE(browser.create(RECT{5, 5, 380, 240}, WS_VISIBLE, 1001, host.hwnd()));
  if (browser.usesHtmlEngine()) GTEST_SKIP() << "the real browser control is checked by hand";
  BrowserEvents events;
  events.allow = false;
  browser.setBeforeNavigate(onBefore, &events);
  pump();
  HWND links = GetDlgItem(browser.hwnd(), 102), view = GetDlgItem(browser.hwnd(), 100);
  ASSERT_TRUE(links && view);
  EXPECT_FALSE(IsWindowVisible(links)) << "no document, no link row";

  // The viewer's two bars around a page: each link once, the marked one chosen.
  std::u16string bar = u"<div>Go to page: <a href='#000'>1</a> <a href='#001' class=c>2</a> "
                       u"<a href='#002'>3</a></div>";
  browser.writeWide(bar + u"<p>rows</p>" + bar);
  pump();
  ASSERT_TRUE(IsWindowVisible(links));
  ASSERT_EQ(SendMessageW(links, LB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(listText(links, 0), u"1");
  EXPECT_EQ(listText(links, 2), u"3");
  EXPECT_EQ(SendMessageW(links, LB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessageW(links, LB_GETTOPINDEX, 0, 0), 0) << "the whole row fits: none scrolled away";
  RECT row, text;
  GetWindowRect(links, &row);
  GetWindowRect(view, &text);
  EXPECT_GE(text.top, row.bottom) << "the text begins below the link row";
  shot(host.hwnd(), "browser_text_links");

  // The arrow key and the typed page number follow links; the page is asked, nothing loads.
  SendMessageW(links, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(links, WM_CHAR, u'1', 0);
  pump();
  EXPECT_EQ(events.asked, (std::vector<std::u16string>{u"about:blank#002", u"about:blank#000"}));
  EXPECT_EQ(browser.shownText(), u"Go to page: 1 2 3\r\nrows\r\nGo to page: 1 2 3");

  // A document without links hides the row again and the text takes its place.
  browser.clear();
  browser.writeWide(u"<p>plain</p>");
  pump();
  EXPECT_FALSE(IsWindowVisible(links));
  GetWindowRect(view, &text);
  EXPECT_EQ(text.top, row.top);

  // A relative link of a loaded page leads to the file beside it.
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  std::wstring first = std::wstring(folder) + L"kdr_links_a.htm", second = std::wstring(folder) + L"kdr_links_b.htm";
  auto put = [](const std::wstring& path, const std::u16string& page) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::u16string body = u"\uFEFF" + page;
    DWORD n = 0;
    bool ok = WriteFile(f, body.data(), DWORD(body.size() * 2), &n, nullptr) && n == body.size() * 2;
    CloseHandle(f);
    return ok;
  };
  ASSERT_TRUE(put(first, u"<a href='kdr_links_b.htm'>Bee</a> first"));
  ASSERT_TRUE(put(second, u"second page"));
  events.allow = true;
  browser.navigate(u16(first.c_str()));
  pump();
  ASSERT_EQ(SendMessageW(links, LB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(SendMessageW(links, LB_GETCURSEL, 0, 0), -1);
  SendMessageW(links, WM_CHAR, u'b', 0);
  pump();
  EXPECT_EQ(events.asked.back(), u16(second.c_str()));
  EXPECT_EQ(browser.shownText(), u"second page");
  DeleteFileW(first.c_str());
  DeleteFileW(second.c_str());
  host.destroy();
}

// The default value of a key under HKEY_CLASSES_ROOT, and setting it.
std::wstring classValue(const wchar_t* key) {
  wchar_t value[256] = {0};
  LONG size = sizeof value - sizeof(wchar_t);
  RegQueryValueW(HKEY_CLASSES_ROOT, key, value, &size);
  return value;
}
bool setClassValue(const wchar_t* key, const std::wstring& value) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != 0) return false;
  LONG r = RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return r == 0;
}

TEST(BrowserGui, OpenInWebBrowserHandsOverACopyThatLivesAsLongAsTheControl) {
  REQUIRE_GUI();
  // In place of a browser, a handler for ".htm" that logs the file it is given.
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  std::wstring log = std::wstring(folder) + L"kdr_open.log";
  DeleteFileW(log.c_str());
  std::wstring keptType = classValue(L".htm");
  ASSERT_TRUE(setClassValue(L"KeldrunTest.Page\\shell\\open\\command",
                            L"C:\\windows\\system32\\cmd.exe /c echo %1>>\"" + log + L"\""));
  ASSERT_TRUE(setClassValue(L".htm", L"KeldrunTest.Page"));
  std::wstring copy;
  std::string copied;
  {
    HostDialog host(hostTemplate(260, 160));
    ASSERT_TRUE(host.create(nullptr));
    CXWebBrowser browser;
    ASSERT_TRUE(browser.create(RECT{5, 5, 380, 240}, WS_VISIBLE, 1001, host.hwnd()));
    if (!browser.usesHtmlEngine()) {
      browser.writeWide(u"<p>copied &amp; handed</p>");
      pump();
      SendMessageW(GetDlgItem(browser.hwnd(), 101), BM_CLICK, 0, 0);
      for (int i = 0; i < 500 && copy.empty(); i++) {
        pump();
        std::string logged;
        HANDLE f = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
          char buf[1024];
          DWORD n = 0;
          if (ReadFile(f, buf, sizeof buf, &n, nullptr)) logged.assign(buf, n);
          CloseHandle(f);
        }
        size_t end = logged.find_first_of("\r\n");
        if (end != std::string::npos) copy.assign(logged.begin(), logged.begin() + end);
        if (copy.empty()) Sleep(20);
      }
      while (!copy.empty() && (copy.back() == L' ' || copy.back() == L'"')) copy.pop_back();
      if (!copy.empty() && copy[0] == L'"') copy.erase(0, 1);
      HANDLE f = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (f != INVALID_HANDLE_VALUE) {
        char buf[1024];
        DWORD n = 0;
        if (ReadFile(f, buf, sizeof buf, &n, nullptr)) copied.assign(buf, n);
        CloseHandle(f);
      }
    }
    host.destroy();
  }
  EXPECT_TRUE(setClassValue(L".htm", keptType));
  DeleteFileW(log.c_str());
  ASSERT_FALSE(copy.empty()) << "the shell was handed nothing";
  EXPECT_NE(copy.find(L"keldrun_view_"), std::wstring::npos);
  const char16_t text[] = u"\uFEFF<p>copied &amp; handed</p>";
  EXPECT_EQ(copied, std::string(reinterpret_cast<const char*>(text), sizeof text - 2));
  EXPECT_EQ(GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES) << "the copy outlived its control";
}

// ---- the gallery ----

TEST(Gallery, EveryControlInOneDialog) {
  REQUIRE_GUI();
  DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 400, 260,
                   u"Keldrun toolkit gallery");
  t.add(L"STATIC", 200, WS_VISIBLE, 8, 26, 60, 10, u"Snapshot name:");
  t.add(L"EDIT", 201, WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 70, 24, 110, 13, u"Snapshot #3");
  t.add(L"EDIT", 202, WS_VISIBLE | WS_BORDER | ES_READONLY, 190, 24, 90, 13, u"read-only field");
  t.add(L"BUTTON", 203, WS_VISIBLE | BS_AUTOCHECKBOX, 290, 24, 100, 12, u"Desktop icon");
  t.add(L"BUTTON", 204, WS_VISIBLE | BS_AUTORADIOBUTTON | WS_GROUP, 8, 42, 60, 12, u"Full");
  t.add(L"BUTTON", 205, WS_VISIBLE | BS_AUTORADIOBUTTON, 70, 42, 70, 12, u"Differences");
  t.add(PROGRESS_CLASSW, 206, WS_VISIBLE, 150, 42, 130, 10);
  t.add(L"COMBOBOX", 207, WS_VISIBLE | CBS_DROPDOWNLIST, 290, 40, 100, 60);
  t.add(L"BUTTON", 1, WS_VISIBLE | BS_PUSHBUTTON, 230, 240, 75, 15, u"Start");
  t.add(L"BUTTON", 2, WS_VISIBLE | BS_PUSHBUTTON, 315, 240, 75, 15, u"Cancel");
  t.add(L"BUTTON", 210, WS_VISIBLE | BS_PUSHBUTTON, 8, 240, 75, 15, u"Compare");
  t.add(L"BUTTON", 211, WS_VISIBLE | BS_PUSHBUTTON, 90, 240, 24, 15, u"");
  t.add(L"BUTTON", 212, WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON, 120, 240, 75, 15, u"Print");
  HostDialog g(t);
  ASSERT_TRUE(g.create(nullptr));
  RECT c;
  GetClientRect(g.hwnd(), &c);
  CXTabStrip tabs;
  ASSERT_TRUE(tabs.create(g.hwnd(), 1005, RECT{0, 0, c.right, 20}));
  addMainTabs(tabs);
  tabs.selectTab(1);
  CXCheckBox check;
  check.attach(g.hwnd(), 203);
  check.setCheck(1);
  CXRadioGroup radio;
  radio.attach(g.hwnd(), {204, 205});
  radio.setValue(1);
  SendDlgItemMessageW(g.hwnd(), 206, PBM_SETPOS, 60, 0);
  SendDlgItemMessageW(g.hwnd(), 207, CB_ADDSTRING, 0, LPARAM(L"#2 before install"));
  SendDlgItemMessageW(g.hwnd(), 207, CB_SETCURSEL, 0, 0);

  CXButton start, cancel, compare, iconOnly, print;
  start.attach(g.hwnd(), 1);
  start.setIcon(buttonImages(), 0);
  cancel.attach(g.hwnd(), 2);
  cancel.setIcon(buttonImages(), 1);
  compare.attach(g.hwnd(), 210);
  compare.setIcon(buttonImages(), 12);
  compare.setFaceColour(rgb(236, 233, 216));
  iconOnly.attach(g.hwnd(), 211);
  iconOnly.setIcon(buttonImages(), 19);
  print.attach(g.hwnd(), 212);
  print.setIcon(buttonImages(), 23);

  int top = 90, bottom = c.bottom - 36, split = 220;
  CXColourTree tree;
  ASSERT_TRUE(tree.create(g.hwnd(), 1000, RECT{6, top, split, bottom}));
  tree.setImageList(treeImages());
  tree.setStateImages(checkStateImages());
  HTREEITEM root = tree.insertItem(TVI_ROOT, TVI_LAST, u"HKEY_LOCAL_MACHINE", 6, 6, 0);
  struct Node {
    const char16_t* name;
    int icon;
    Colour colour;
    bool bold;
    int check;
  } nodes[] = {{u"SOFTWARE", 7, rgb(30, 30, 200), true, 2},
               {u"Keldrun (added)", 9, rgb(0, 180, 0), true, 1},
               {u"OldTool (deleted)", 8, rgb(200, 30, 30), false, 0},
               {u"SYSTEM (excluded)", 20, rgb(100, 100, 100), false, 0},
               {u"HARDWARE", 6, rgb(0, 0, 0), false, 1}};
  tree.setCheck(root, 2);
  for (const Node& n : nodes) {
    HTREEITEM i = tree.insertItem(root, TVI_LAST, n.name, n.icon, n.icon, 0);
    tree.setItemColour(i, n.colour);
    tree.setItemBold(i, n.bold);
    tree.setCheck(i, n.check);
  }
  TreeView_Expand(tree.hwnd(), root, TVE_EXPAND);

  CXSplitter bar;
  bar.create(g.hwnd(), 1100, RECT{split, top, split + 4, bottom}, true);

  CXVirtualList list;
  ASSERT_TRUE(list.create(g.hwnd(), 1001, RECT{split + 4, top, c.right - 6, bottom}));
  list.setImageList(listImages());
  list.setColumns({u"Name", u"Size", u"State"}, {kSortText, kSortNumber, kSortText});
  list.setColumnWidths({150, 70, 50});
  list.fillColumn(2, 50);
  addRows(list, schemeColour(SchemeColour::kListBackground),
          {{u"keldrun.exe", u"812544", u"add", 5, rgb(0, 180, 0)},
           {u"readme.txt", u"2048", u"old", 3, rgb(30, 30, 200)},
           {u"readme.txt", u"2311", u"new", 3, rgb(30, 30, 200)},
           {u"oldtool.dll", u"65536", u"del", 4, rgb(200, 30, 30)},
           {u"license.txt", u"1024", u"-", 2, rgb(0, 0, 0)}});
  list.sortBy(1, false);
  list.select(1, true);
  pump();
  EXPECT_EQ(list.model().sortColumn(), 1);
  shot(g.hwnd(), "gallery");
  g.destroy();
}

}  // namespace
}  // namespace keldrun
