#include "toolkit/screenshot.h"

#include <cstdint>
#include <vector>

namespace keldrun {

namespace {

void pump(HWND window) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&msg);
  GdiFlush();
}

}  // namespace

bool saveWindowImage(HWND window, const std::wstring& path) {
  if (!IsWindowVisible(window)) return false;
  pump(window);
  RECT r;
  GetWindowRect(window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) {
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return false;
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  bool copied = BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
  if (!copied) copied = PrintWindow(window, dc, 0) != FALSE;
  GdiFlush();
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);

  bool ok = false;
  if (copied) {
    uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
    uint32_t imageSize = stride * uint32_t(h);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD put = 0;
      ok = WriteFile(f, &file, sizeof(file), &put, nullptr) && put == sizeof(file) &&
           WriteFile(f, &info.bmiHeader, sizeof(BITMAPINFOHEADER), &put, nullptr) &&
           put == sizeof(BITMAPINFOHEADER) && WriteFile(f, bits, imageSize, &put, nullptr) &&
           put == imageSize;
      CloseHandle(f);
      if (!ok) DeleteFileW(path.c_str());
    }
  }
  DeleteObject(bitmap);
  return ok;
}

COLORREF windowPixel(HWND window, int x, int y) {
  pump(window);
  RECT r;
  GetWindowRect(window, &r);
  HDC screen = GetDC(nullptr);
  COLORREF c = GetPixel(screen, r.left + x, r.top + y);
  ReleaseDC(nullptr, screen);
  return c;
}

}  // namespace keldrun
