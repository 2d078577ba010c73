// Holds a menu of a running supervisor open while scripts/screenshots.sh
// photographs it: the tray icon's menu ("tray") or the log view's ("log").
// Usage: screenshot_helper.exe tray|log <path of the supervisor's exe>
#include <windows.h>

#include <chrono>
#include <string>

#include "resource.h"
#include "tests/support/e2e_support.h"

using namespace std::chrono_literals;

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring menu = argv[1];
    HWND hWnd = e2e::WaitForSupervisorWindowOf(argv[2], 30s);
    if (hWnd == nullptr) return 1;
    if (menu == L"tray") {
        ::PostMessageW(hWnd, ::RegisterWindowMessageW(L"WM_TRAYICON"), IDR_TRAY_MENU, WM_RBUTTONUP);
    } else if (menu == L"log") {
        HWND hEdit = ::GetDlgItem(hWnd, IDC_LOG_EDIT);
        ::SendMessageW(hEdit, EM_SETSEL, 0, 12);
        ::PostMessageW(hEdit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hEdit), MAKELPARAM(300, 300));
    } else {
        return 2;
    }
    ::Sleep(6000);
    ::PostMessageW(hWnd, WM_CANCELMODE, 0, 0);
    return 0;
}
