// Process-wide pieces of the window toolkit: start-up, the colour scheme with its two brushes,
// the fonts, the shared image lists and the application's main window.
//
// Everything here lives on the user-interface thread and is created once by initToolkit().
#ifndef KELDRUN_TOOLKIT_TOOLKIT_H_
#define KELDRUN_TOOLKIT_TOOLKIT_H_

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "base/text_win.h"
#include "toolkit/scheme_model.h"

namespace keldrun {

// Registers the common controls and the toolkit's window classes, creates the scheme brushes,
// the fonts and the image lists from the bitmaps of `resources` (the executable when null).
// Returns false when a window class cannot be registered; missing bitmaps leave empty image
// lists. Calling it again does nothing.
bool initToolkit(HINSTANCE resources = nullptr);

// Releases brushes, fonts and image lists (for tests that start over).
void shutdownToolkit();

HINSTANCE toolkitInstance();
const ColourScheme& scheme();
inline COLORREF schemeColour(SchemeColour role) { return COLORREF(scheme()[role]); }

// The first brush (dialogs, read-only and disabled edit fields) and the second.
HBRUSH dialogBrush();
HBRUSH pageBrush();

// "Arial CE" 8.5 points for the tab strip.
HFONT tabFont();
// The system's GUI font at the display's scale (the stock font keeps its size of 100 % scale at
// any DPI), used to measure menu items.
HFONT guiFont();
// A copy of `font` with character set 255 and the given weight; cached per source font.
HFONT derivedFont(HFONT font, int weight);

// The two shared image lists of the button and menu pictures (bitmap 133), the tree and list
// pictures of the comparison screens, and the check-box state images (index 0 empty, then
// unchecked, checked, partly checked).
HIMAGELIST buttonImages();
HIMAGELIST menuImages();
HIMAGELIST treeImages();
HIMAGELIST listImages();
HIMAGELIST checkStateImages();

// Builds a 16-pixel image list with mask from a bitmap strip of the resources; null when the
// bitmap is missing. `leadingBlank` puts an empty image first.
HIMAGELIST loadImageStrip(int bitmapId, bool leadingBlank = false);

// The application's main window; the message box puts itself above it (or its active popup).
void setMainWindow(HWND window);
HWND mainWindow();

std::u16string windowText(HWND window);

// The display's DPI, read once: the program declares itself aware of the system's DPI, so that
// its windows are laid out for the display's scale instead of stretched.
int displayDpi();
// A length given in pixels at 96 DPI (100 % scale), in pixels of the display. Every pixel length
// of the window code that is not measured from text or given in dialog units goes through here.
inline int dpiScale(int pixels) { return MulDiv(pixels, displayDpi(), 96); }

// Pixel width of one line in `font`, tabs expanded.
int textWidth(HFONT font, const std::u16string& text);

// Creates a child window of `parent` at `rect` (the parent's client coordinates) with the
// control id `id`; `creationData` reaches WM_NCCREATE. Returns null on failure.
HWND createChildWindow(HWND parent, int id, const RECT& rect, const wchar_t* className,
                       const wchar_t* text, DWORD style, void* creationData = nullptr);
// The same for a control that shows its text in the parent's font.
HWND createChildControl(HWND parent, int id, const RECT& rect, const wchar_t* className,
                        const wchar_t* text, DWORD style);

// Fills `r` with one colour without making a brush.
void fillSolid(HDC dc, const RECT& r, COLORREF colour);

// A memory bitmap the size of a window's client area, so that a control paints out of sight
// and shows the finished picture in one copy instead of flickering through its layers.
class OffscreenCanvas {
 public:
  // Null dc() when the client area is empty: there is nothing to paint.
  OffscreenCanvas(HWND window, HDC target);
  ~OffscreenCanvas();
  OffscreenCanvas(const OffscreenCanvas&) = delete;
  OffscreenCanvas& operator=(const OffscreenCanvas&) = delete;

  HDC dc() const { return dc_; }
  // The window's client area, which the canvas covers.
  const RECT& client() const { return client_; }
  // Copies `area` of the picture to the same place of `target`.
  void copyTo(HDC target, const RECT& area) const;

 private:
  RECT client_ = {};
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
};

// True when running under Wine.
bool runningUnderWine();

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_TOOLKIT_H_
