#include "toolkit/toolkit.h"

#include <map>

#include "toolkit/controls.h"
#include "toolkit/resource_ids.h"
#include "toolkit/web_browser.h"

namespace keldrun {

namespace {

struct ToolkitState {
  bool ready = false;
  HINSTANCE instance = nullptr;
  HBRUSH dialogBrush = nullptr;
  HBRUSH pageBrush = nullptr;
  HFONT tabFont = nullptr;
  HIMAGELIST buttons = nullptr, menu = nullptr, tree = nullptr, list = nullptr, states = nullptr;
  HWND mainWindow = nullptr;
  std::map<std::pair<HFONT, int>, HFONT> derived;
  HFONT scaledGui = nullptr;
};

ToolkitState& state() {
  static ToolkitState s;
  return s;
}

}  // namespace

bool initToolkit(HINSTANCE resources) {
  ToolkitState& s = state();
  if (s.ready) return true;
  s.instance = resources ? resources : GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES |
                                               ICC_PROGRESS_CLASS | ICC_USEREX_CLASSES};
  InitCommonControlsEx(&icc);
  const ColourScheme& sc = defaultScheme();
  s.dialogBrush = CreateSolidBrush(COLORREF(sc[SchemeColour::kDialogBackground]));
  s.pageBrush = CreateSolidBrush(COLORREF(sc[SchemeColour::kPageBackground]));

  LOGFONTW lf = {};
  lf.lfHeight = -MulDiv(85, displayDpi(), 720);  // 8.5 points
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = 238;  // Central European
  lf.lfOutPrecision = OUT_TT_ONLY_PRECIS;
  lf.lfQuality = 1;
  lstrcpynW(lf.lfFaceName, L"Arial CE", LF_FACESIZE);
  s.tabFont = CreateFontIndirectW(&lf);

  s.buttons = loadImageStrip(IDB_IMAGE_STRIP);
  s.menu = loadImageStrip(IDB_IMAGE_STRIP);
  s.tree = loadImageStrip(IDB_TREE_STRIP);
  s.list = loadImageStrip(IDB_LIST_STRIP);
  s.states = loadImageStrip(IDB_CHECK_STATES, true);

  bool ok = registerTabStripClass(s.instance) && registerSplitterClass(s.instance) &&
            registerBrowserHostClass(s.instance);
  s.ready = ok;
  return ok;
}

int displayDpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    int d = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return d > 0 ? d : 96;
  }();
  return dpi;
}

void shutdownToolkit() {
  ToolkitState& s = state();
  if (s.dialogBrush) DeleteObject(s.dialogBrush);
  if (s.pageBrush) DeleteObject(s.pageBrush);
  if (s.tabFont) DeleteObject(s.tabFont);
  for (HIMAGELIST l : {s.buttons, s.menu, s.tree, s.list, s.states}) {
    if (l) ImageList_Destroy(l);
  }
  for (auto& d : s.derived) DeleteObject(d.second);
  if (s.scaledGui) DeleteObject(s.scaledGui);
  HINSTANCE instance = s.instance;
  s = ToolkitState();
  s.instance = instance;
}

HINSTANCE toolkitInstance() {
  return state().instance ? state().instance : GetModuleHandleW(nullptr);
}
const ColourScheme& scheme() { return defaultScheme(); }
HBRUSH dialogBrush() { return state().dialogBrush; }
HBRUSH pageBrush() { return state().pageBrush; }
HFONT tabFont() { return state().tabFont ? state().tabFont : guiFont(); }
HFONT guiFont() {
  HFONT stock = HFONT(GetStockObject(DEFAULT_GUI_FONT));
  if (displayDpi() == 96) return stock;
  HFONT& made = state().scaledGui;
  if (!made) {
    LOGFONTW lf = {};
    GetObjectW(stock, sizeof lf, &lf);
    lf.lfHeight = dpiScale(lf.lfHeight);
    lf.lfWidth = dpiScale(lf.lfWidth);
    made = CreateFontIndirectW(&lf);
  }
  return made ? made : stock;
}

HFONT derivedFont(HFONT font, int weight) {
  ToolkitState& s = state();
  if (!font) font = guiFont();
  auto key = std::make_pair(font, weight);
  auto it = s.derived.find(key);
  if (it != s.derived.end()) return it->second;
  LOGFONTW lf = {};
  if (!GetObjectW(font, sizeof(lf), &lf)) return font;
  // The character set is left to the font mapper ("don't care") so that the face keeps its
  // own glyphs whatever the system code page.
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfWeight = weight;
  HFONT made = CreateFontIndirectW(&lf);
  if (!made) return font;
  s.derived[key] = made;
  return made;
}

HIMAGELIST buttonImages() { return state().buttons; }
HIMAGELIST menuImages() { return state().menu; }
HIMAGELIST treeImages() { return state().tree; }
HIMAGELIST listImages() { return state().list; }
HIMAGELIST checkStateImages() { return state().states; }

HIMAGELIST loadImageStrip(int bitmapId, bool leadingBlank) {
  HBITMAP strip = HBITMAP(LoadImageW(toolkitInstance(), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP,
                                     0, 0, LR_CREATEDIBSECTION));
  if (!strip) return nullptr;
  BITMAP info = {};
  GetObjectW(strip, sizeof(info), &info);
  int count = info.bmWidth / 16;
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, count + 1, 4);
  if (list) {
    if (leadingBlank) {
      // An all-mask image: the tree view treats state image 0 as "none" anyway.
      HDC screen = GetDC(nullptr);
      HDC dc = CreateCompatibleDC(screen);
      HBITMAP blank = CreateCompatibleBitmap(screen, 16, 16);
      HGDIOBJ old = SelectObject(dc, blank);
      RECT r = {0, 0, 16, 16};
      HBRUSH mask = CreateSolidBrush(schemeColour(SchemeColour::kMask));
      FillRect(dc, &r, mask);
      DeleteObject(mask);
      SelectObject(dc, old);
      DeleteDC(dc);
      ReleaseDC(nullptr, screen);
      ImageList_AddMasked(list, blank, schemeColour(SchemeColour::kMask));
      DeleteObject(blank);
    }
    ImageList_AddMasked(list, strip, schemeColour(SchemeColour::kMask));
  }
  DeleteObject(strip);
  return list;
}

void setMainWindow(HWND window) { state().mainWindow = window; }
HWND mainWindow() {
  HWND w = state().mainWindow;
  return (w && IsWindow(w)) ? w : nullptr;
}

std::u16string windowText(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring buf(size_t(n) + 1, L'\0');
  n = GetWindowTextW(window, &buf[0], n + 1);
  buf.resize(size_t(n < 0 ? 0 : n));
  return std::u16string(buf.begin(), buf.end());
}

int textWidth(HFONT font, const std::u16string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font ? font : guiFont());
  DWORD size = text.empty() ? 0
                            : GetTabbedTextExtentW(dc, wide(text), int(text.size()), 0, nullptr);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return LOWORD(size);
}

HWND createChildWindow(HWND parent, int id, const RECT& rect, const wchar_t* className,
                       const wchar_t* text, DWORD style, void* creationData) {
  return CreateWindowExW(0, className, text, style, rect.left, rect.top, rect.right - rect.left,
                         rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(INT_PTR(id)),
                         toolkitInstance(), creationData);
}

HWND createChildControl(HWND parent, int id, const RECT& rect, const wchar_t* className,
                        const wchar_t* text, DWORD style) {
  HWND w = createChildWindow(parent, id, rect, className, text, style);
  if (w) SendMessageW(w, WM_SETFONT, WPARAM(SendMessageW(parent, WM_GETFONT, 0, 0)), FALSE);
  return w;
}

void fillSolid(HDC dc, const RECT& r, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

OffscreenCanvas::OffscreenCanvas(HWND window, HDC target) {
  GetClientRect(window, &client_);
  if (client_.right <= 0 || client_.bottom <= 0) return;
  dc_ = CreateCompatibleDC(target);
  if (!dc_) return;
  bitmap_ = CreateCompatibleBitmap(target, client_.right, client_.bottom);
  oldBitmap_ = SelectObject(dc_, bitmap_);
}

OffscreenCanvas::~OffscreenCanvas() {
  if (!dc_) return;
  SelectObject(dc_, oldBitmap_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}

void OffscreenCanvas::copyTo(HDC target, const RECT& area) const {
  BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, dc_,
         area.left, area.top, SRCCOPY);
}

bool runningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace keldrun
