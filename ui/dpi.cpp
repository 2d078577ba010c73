#include "ui/dpi.h"

#include <commctrl.h>

#include <string>

namespace {

constexpr UINT kDefaultDpi = 96;
// SetDialogDpiChangeBehavior's DDC_DISABLE_ALL: no font update, no resize, no
// relayout of the controls.
constexpr int kDialogDpiChangeDisableAll = 1;
constexpr int kMonitorEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);

template <typename Fn>
Fn Export(HMODULE hModule, const char* name) {
    if (hModule == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hModule, name)));
}

HMODULE User32() { return ::GetModuleHandleW(L"user32.dll"); }

// shcore.dll (Windows 8.1 and later) is not loaded by the program itself; it
// is named by its full path so that no other directory can supply it. Loaded
// once and kept to the end of the process.
HMODULE ShCore() {
    static const HMODULE hModule = [] {
        wchar_t dir[MAX_PATH] = {};
        const UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return static_cast<HMODULE>(nullptr);
        return ::LoadLibraryW((std::wstring(dir) + L"\\shcore.dll").c_str());
    }();
    return hModule;
}

UINT SystemDpi() {
    HDC hdc = ::GetDC(nullptr);
    const int dpi = hdc != nullptr ? ::GetDeviceCaps(hdc, LOGPIXELSY) : 0;
    if (hdc != nullptr) ::ReleaseDC(nullptr, hdc);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

}  // namespace

UINT WindowDpi(HWND hWnd) {
    static const auto getDpi = Export<GetDpiForWindowFn>(User32(), "GetDpiForWindow");
    const UINT dpi = getDpi != nullptr ? getDpi(hWnd) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

UINT PrimaryMonitorDpi() {
    static const auto getDpi = Export<GetDpiForMonitorFn>(ShCore(), "GetDpiForMonitor");
    UINT dpiX = 0, dpiY = 0;
    if (getDpi != nullptr &&
        SUCCEEDED(getDpi(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), kMonitorEffectiveDpi,
                         &dpiX, &dpiY)) &&
        dpiX != 0)
        return dpiX;
    return SystemDpi();
}

int MetricForDpi(int index, UINT dpi) {
    static const auto metric = Export<GetSystemMetricsForDpiFn>(User32(), "GetSystemMetricsForDpi");
    return metric != nullptr ? metric(index, dpi) : ::GetSystemMetrics(index);
}

HICON LoadIconAtSize(HINSTANCE hInst, int id, int cx, int cy) {
    // Found in the comctl32 that the manifest activates (version 6).
    static const auto load =
        Export<LoadIconWithScaleDownFn>(::GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown");
    HICON hIcon = nullptr;
    if (load != nullptr && SUCCEEDED(load(hInst, MAKEINTRESOURCEW(id), cx, cy, &hIcon))) return hIcon;
    return static_cast<HICON>(::LoadImageW(hInst, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
}

int IconWidth(HICON hIcon) {
    ICONINFO info = {};
    if (hIcon == nullptr || !::GetIconInfo(hIcon, &info)) return 0;
    BITMAP bm = {};
    const int width = ::GetObjectW(info.hbmMask, sizeof(bm), &bm) != 0 ? bm.bmWidth : 0;
    if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
    return width;
}

void KeepDialogFromRescaling(HWND hDlg) {
    static const auto set = Export<SetDialogDpiChangeBehaviorFn>(User32(), "SetDialogDpiChangeBehavior");
    if (set != nullptr) set(hDlg, kDialogDpiChangeDisableAll, kDialogDpiChangeDisableAll);
}

bool IsHighContrastOn() {
    HIGHCONTRASTW hc = {};
    hc.cbSize = sizeof(hc);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) &&
           (hc.dwFlags & HCF_HIGHCONTRASTON);
}

bool LoadDialogTemplate(HINSTANCE hInst, int idd, DialogTemplateInfo& out) {
    HRSRC hRes = ::FindResourceW(hInst, MAKEINTRESOURCEW(idd), RT_DIALOG);
    if (hRes == nullptr) return false;
    HGLOBAL hData = ::LoadResource(hInst, hRes);
    const void* data = hData != nullptr ? ::LockResource(hData) : nullptr;
    return data != nullptr && ParseDialogTemplateEx(data, ::SizeofResource(hInst, hRes), out);
}

// Platforms differ in how they turn the template's font into a font (Wine
// asks for any character set, Windows for the template's), so the dialog's
// own font is the model and only its height changes.
CFontHandle CreateDialogFontAt(HWND hDlg, int pointSize, UINT dpi) {
    HFONT hFont = reinterpret_cast<HFONT>(::SendMessageW(hDlg, WM_GETFONT, 0, 0));
    LOGFONTW lf = {};
    if (hFont == nullptr || pointSize <= 0 || ::GetObjectW(hFont, sizeof(lf), &lf) != sizeof(lf))
        return CFontHandle();
    lf.lfHeight = FontHeightForDpi(pointSize, dpi);
    lf.lfWidth = 0;
    return CFontHandle(::CreateFontIndirectW(&lf));
}

BaseUnits MeasureBaseUnits(HFONT hFont) {
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    BaseUnits base{0, 0};
    HDC hdc = ::GetDC(nullptr);
    if (hdc == nullptr) return base;
    HGDIOBJ old = ::SelectObject(hdc, hFont);
    TEXTMETRICW tm = {};
    SIZE extent = {};
    if (::GetTextMetricsW(hdc, &tm) && ::GetTextExtentPoint32W(hdc, kLetters, 52, &extent))
        base = BaseUnits{AverageCharWidth(extent.cx), tm.tmHeight};
    ::SelectObject(hdc, old);
    ::ReleaseDC(nullptr, hdc);
    return base;
}
