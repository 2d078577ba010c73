// What the tray and menu tests need beyond e2e_support.h: the tray icon as
// the shell holds it, the icon's notifications, and an open context menu.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "resource.h"
#include "tests/support/e2e_support.h"

namespace e2e {

constexpr UINT kTrayIconId = IDR_TRAY_MENU;

// Whether the shell holds an icon (hWnd, id). A modify that changes nothing
// succeeds exactly when the icon exists, whoever added it.
inline bool TrayIconPresent(HWND hWnd, UINT id = kTrayIconId) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hWnd;
    nid.uID = id;
    nid.uFlags = 0;
    return ::Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

// Drops the icon from the shell, as a restarted shell would have forgotten it.
inline bool ForgetTrayIcon(HWND hWnd, UINT id = kTrayIconId) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hWnd;
    nid.uID = id;
    return ::Shell_NotifyIconW(NIM_DELETE, &nid) != FALSE;
}

inline UINT TrayMessage() { return ::RegisterWindowMessageW(L"WM_TRAYICON"); }
inline UINT TaskbarCreatedMessage() { return ::RegisterWindowMessageW(L"TaskbarCreated"); }

// A notification as the shell sends it, in the classic form; bounded.
inline bool SendTrayNotification(HWND hWnd, UINT mouseMsg, UINT id = kTrayIconId) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(hWnd, TrayMessage(), id, mouseMsg, SMTO_NORMAL, 10000, &result) != 0;
}

struct MenuSearch {
    DWORD pid;
    HWND found;
};

inline BOOL CALLBACK CollectMenuWindow(HWND h, LPARAM lp) {
    auto* search = reinterpret_cast<MenuSearch*>(lp);
    wchar_t cls[16] = {};
    ::GetClassNameW(h, cls, 16);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(h, &owner);
    if (owner == search->pid && std::wstring(cls) == L"#32768" && ::IsWindowVisible(h)) {
        search->found = h;
        return FALSE;
    }
    return TRUE;
}

// The visible context menu ("#32768") of a process, or null.
inline HWND FindMenuWindow(DWORD pid) {
    MenuSearch search{pid, nullptr};
    ::EnumWindows(CollectMenuWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline void PressKey(HWND hWnd, WPARAM vk) {
    ::PostMessageW(hWnd, WM_KEYDOWN, vk, 1);
    ::PostMessageW(hWnd, WM_KEYUP, vk, 0xC0000001);
}

}  // namespace e2e
