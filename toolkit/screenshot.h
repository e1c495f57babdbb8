// Saves what a window shows as a 24-bit BMP file, for the GUI tests and the gallery pictures.
#ifndef KELDRUN_TOOLKIT_SCREENSHOT_H_
#define KELDRUN_TOOLKIT_SCREENSHOT_H_

#include <windows.h>

#include <string>

namespace keldrun {

// Repaints the window and its children, then copies its screen area (frame included) into
// `path`. False when the window is not visible or the file cannot be written.
bool saveWindowImage(HWND window, const std::wstring& path);

// The colour of one pixel of the window as it is on the screen now (window coordinates);
// CLR_INVALID when it cannot be read.
COLORREF windowPixel(HWND window, int x, int y);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_SCREENSHOT_H_
