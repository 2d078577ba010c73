// What the layout tests need beyond e2e_support.h: control rectangles of
// another process's dialog, resizing it, and a picture of a window.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/resize_rules.h"
#include "tests/support/e2e_support.h"

// At global scope, beside RECT, so that the test macros find it.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

namespace e2e {

inline RECT Offset(RECT rc, int dx, int dy) {
    ::OffsetRect(&rc, dx, dy);
    return rc;
}

inline std::string Describe(const RECT& rc) {
    char buf[80];
    std::snprintf(buf, sizeof(buf), "(%ld,%ld)-(%ld,%ld)", static_cast<long>(rc.left),
                  static_cast<long>(rc.top), static_cast<long>(rc.right), static_cast<long>(rc.bottom));
    return buf;
}

// A control's rectangle in its dialog's client coordinates.
inline RECT ControlRect(HWND hDlg, int id) {
    RECT rc = {};
    HWND hCtl = ::GetDlgItem(hDlg, id);
    if (hCtl == nullptr) return rc;
    ::GetWindowRect(hCtl, &rc);
    ::MapWindowPoints(HWND_DESKTOP, hDlg, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

inline RECT WindowRect(HWND hWnd) {
    RECT rc = {};
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

inline SIZE WindowSize(HWND hWnd) {
    const RECT rc = WindowRect(hWnd);
    return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

// Resizes from this thread as a drag of the frame would; returns once the
// dialog has handled the change.
inline void ResizeWindow(HWND hWnd, int cx, int cy) {
    ::SetWindowPos(hWnd, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Saves the screen area of a window as a 24-bit BMP; false on failure.
inline bool SaveWindowShot(HWND hWnd, const std::wstring& path) {
    const RECT rc = WindowRect(hWnd);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return false;
    HDC hScreen = ::GetDC(nullptr);
    HDC hMem = ::CreateCompatibleDC(hScreen);
    HBITMAP hBmp = ::CreateCompatibleBitmap(hScreen, w, h);
    HGDIOBJ old = ::SelectObject(hMem, hBmp);
    ::BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
    ::SelectObject(hMem, old);

    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof(bih);
    bih.biWidth = w;
    bih.biHeight = h;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * h);
    const int lines =
        ::GetDIBits(hMem, hBmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS);
    ::DeleteObject(hBmp);
    ::DeleteDC(hMem);
    ::ReleaseDC(nullptr, hScreen);
    if (lines != h) return false;

    BITMAPFILEHEADER bfh = {};
    bfh.bfType = 0x4D42;
    bfh.bfOffBits = sizeof(bfh) + sizeof(bih);
    bfh.bfSize = bfh.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(hFile, &bfh, sizeof(bfh), &written, nullptr) &&
              ::WriteFile(hFile, &bih, sizeof(bih), &written, nullptr) &&
              ::WriteFile(hFile, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    ::CloseHandle(hFile);
    return ok;
}

}  // namespace e2e
