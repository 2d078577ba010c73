// Notification-area icon mix-in: the icon record, the icon's notifications and
// its context menu. The host T derives from CDialogImpl<T> (public m_hWnd) and
// overrides ShowMainWindow and UpdateTrayMenu; its message map passes
// messages to ProcessTrayMessage.
//
// Threads: UI thread only. The agent's events reach it as posted messages.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <string>

#include "framework/app_module.h"
#include "framework/debug_trace.h"
#include "framework/handle.h"
#include "resource.h"
#include "ui/tray_rules.h"

template <typename T>
class CTrayIconImpl {
public:
    // The icon's id; also the number of the menu resource it opens.
    enum { kTrayIconId = IDR_TRAY_MENU };
    // The record's length up to and including guidItem, without hBalloonIcon:
    // the classic form every shell since Windows XP accepts.
    static constexpr DWORD kNidSize = static_cast<DWORD>(offsetof(NOTIFYICONDATAW, guidItem) + sizeof(GUID));
#ifndef _WIN64
    static_assert(kNidSize == 952, "the 32-bit icon record is 952 bytes");
#endif

    UINT m_uTrayMsg;  // registered "WM_TRAYICON"; set once in the constructor
    NOTIFYICONDATAW m_nid;
    bool m_bInstalled;  // the shell holds our icon

    CTrayIconImpl()
        : m_uTrayMsg(::RegisterWindowMessageW(L"WM_TRAYICON")),
          m_nid(),
          m_bInstalled(false),
          m_uTaskbarCreatedMsg(::RegisterWindowMessageW(L"TaskbarCreated")) {
        ::ZeroMemory(&m_nid, sizeof(m_nid));
        m_nid.cbSize = kNidSize;
    }
    virtual ~CTrayIconImpl() = default;
    CTrayIconImpl(const CTrayIconImpl&) = delete;
    CTrayIconImpl& operator=(const CTrayIconImpl&) = delete;

    // Hooks for the host; the mix-in's versions do nothing.
    virtual void ShowMainWindow(bool /*bShow*/) {}
    virtual void UpdateTrayMenu(HMENU /*hMenu*/) {}
    virtual void OnTrayBalloonClicked() {}

    // Adds the icon with the running image, then shows the stopped image (if
    // there is one) until the agent has been launched.
    void AddTrayIcon(HWND hWnd, const wchar_t* pszTip, HICON hRunning, HICON hStopped) {
        m_nid.hWnd = hWnd;
        m_nid.uCallbackMessage = m_uTrayMsg;
        m_nid.uID = kTrayIconId;
        m_nid.hIcon = hRunning;
        m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        // Bounded copy: a tip that does not fit is cut rather than overrunning the record.
        ::lstrcpynW(m_nid.szTip, pszTip != nullptr ? pszTip : L"", ARRAYSIZE(m_nid.szTip));
        m_hIconCurrent = hRunning;
        m_bIconWanted = true;
        m_bInstalled = ::Shell_NotifyIconW(NIM_ADD, &m_nid) != FALSE;
        // A shell that is not up yet is retried when its taskbar appears.
        if (!m_bInstalled) DebugTrace(L"tray icon add failed");
        if (hStopped != nullptr) {
            m_nid.uFlags = NIF_ICON;
            m_nid.hIcon = hStopped;
            m_hIconCurrent = hStopped;
            ::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
        }
    }

    // Changes the image. The result is ignored: without an icon there is
    // nothing to change.
    void SetTrayIcon(HICON hIcon) {
        if (hIcon == nullptr) return;
        m_hIconCurrent = hIcon;
        m_nid.uFlags = NIF_ICON;
        m_nid.hIcon = hIcon;
        ::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
    }

    // Puts hNew in place of hOld if the icon shows hOld (the same image at
    // another size); otherwise nothing. The caller destroys hOld afterwards.
    void ReplaceTrayIcon(HICON hOld, HICON hNew) {
        if (hOld == nullptr || hNew == nullptr) return;
        if (m_hIconCurrent != hOld) return;
        m_hIconCurrent = hNew;
        m_nid.uFlags = NIF_ICON;
        m_nid.hIcon = hNew;
        if (m_bInstalled) ::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
    }

    // Replaces the tooltip; the text is cut to the record's 127 units. Kept in
    // the record, so a re-created taskbar gets it back too.
    void SetTrayTip(const wchar_t* pszTip) {
        ::lstrcpynW(m_nid.szTip, pszTip != nullptr ? pszTip : L"", ARRAYSIZE(m_nid.szTip));
        if (!m_bInstalled) return;
        m_nid.uFlags = NIF_TIP;
        ::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
    }

    // A balloon notification from the icon. Ignored without an icon.
    void ShowTrayBalloon(const wchar_t* pszTitle, const wchar_t* pszText) {
        // The trace lets a test, or a user's debug viewer, read what was said.
        DebugTrace(std::wstring(L"balloon: ") + pszText);
        if (!m_bInstalled) return;
        m_nid.uFlags = NIF_INFO;
        ::lstrcpynW(m_nid.szInfoTitle, pszTitle, ARRAYSIZE(m_nid.szInfoTitle));
        ::lstrcpynW(m_nid.szInfo, pszText, ARRAYSIZE(m_nid.szInfo));
        m_nid.dwInfoFlags = NIIF_WARNING;
        ::Shell_NotifyIconW(NIM_MODIFY, &m_nid);
        // Later modifications (the image) must not show it again.
        m_nid.szInfo[0] = L'\0';
    }

    // The icon's notifications in the classic form. Result 0.
    LRESULT OnTrayNotify(UINT /*uMsg*/, WPARAM wParam, LPARAM lParam) {
        switch (TrayActionFor(wParam, lParam, kTrayIconId)) {
            case TrayAction::OpenMenu:
                OpenTrayMenu();
                break;
            case TrayAction::ShowWindow:
                ShowMainWindow(true);
                break;
            case TrayAction::BalloonClicked:
                OnTrayBalloonClicked();
                break;
            case TrayAction::None:
                break;
        }
        return 0;
    }

    // Deletes the icon if the shell holds it. Called as the host goes away.
    void RemoveTrayIcon() {
        m_bIconWanted = false;
        if (!m_bInstalled) return;
        m_nid.uFlags = 0;
        ::Shell_NotifyIconW(NIM_DELETE, &m_nid);
        m_bInstalled = false;
    }

    // The mix-in's part of the host's message map: the icon's notifications and
    // the shell's "TaskbarCreated" broadcast.
    BOOL ProcessTrayMessage(HWND /*hWnd*/, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
        // 0 means the registration failed; it must not swallow WM_NULL.
        if (uMsg == 0) return FALSE;
        if (uMsg == m_uTrayMsg) {
            lResult = OnTrayNotify(uMsg, wParam, lParam);
            return TRUE;
        }
        if (uMsg == m_uTaskbarCreatedMsg) {
            OnTaskbarCreated();
            lResult = 0;
            return TRUE;
        }
        return FALSE;
    }

protected:
    // A re-created taskbar (the shell restarted) has forgotten every icon; add
    // ours again with the image it should show now. Also retries a first add
    // that failed because the shell was not up yet.
    void OnTaskbarCreated() {
        if (!m_bIconWanted) return;
        m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        m_nid.hIcon = m_hIconCurrent;
        bool bPresent = ::Shell_NotifyIconW(NIM_ADD, &m_nid) != FALSE;
        // The broadcast may come from elsewhere while the shell still holds the
        // icon: the add is refused then, but the icon is there.
        if (!bPresent) bPresent = ::Shell_NotifyIconW(NIM_MODIFY, &m_nid) != FALSE;
        m_bInstalled = bPresent;
        DebugTrace(bPresent ? L"tray icon added again" : L"tray icon add failed");
    }

private:
    HWND Host() const { return static_cast<const T*>(this)->m_hWnd; }

    void OpenTrayMenu() {
        // Loaded afresh for every right-click and destroyed when it closes.
        CMenuHandle menu(::LoadMenuW(g_Module.GetResourceInstance(), MAKEINTRESOURCEW(kTrayIconId)));
        if (!menu) return;
        HMENU hPopup = ::GetSubMenu(menu.get(), 0);
        if (hPopup == nullptr) return;
        UpdateTrayMenu(hPopup);

        POINT pt = {0, 0};
        if (!::GetCursorPos(&pt)) pt = POINT{0, 0};
        HWND hWnd = Host();
        // Without the foreground the menu would not close when the user clicks
        // elsewhere; the WM_NULL afterwards lets the next click reach it.
        ::SetForegroundWindow(hWnd);
        ::TrackPopupMenu(hPopup, 0, MenuX(pt), pt.y, 0, hWnd, nullptr);
        ::PostMessageW(hWnd, WM_NULL, 0, 0);
    }

    // x at which the menu opens: the cursor's, unless the cursor is on no
    // monitor, when it is pulled into the nearest monitor's work area.
    static int MenuX(POINT pt) {
        if (::MonitorFromPoint(pt, MONITOR_DEFAULTTONULL) != nullptr) return pt.x;
        HMONITOR hMon = ::MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST);
        if (hMon == nullptr) return pt.x;
        MONITORINFO mi = {};
        mi.cbSize = sizeof(mi);
        if (!::GetMonitorInfoW(hMon, &mi)) return pt.x;
        return ClampMenuX(pt.x, Rect{mi.rcWork.left, mi.rcWork.top, mi.rcWork.right, mi.rcWork.bottom});
    }

    const UINT m_uTaskbarCreatedMsg;  // registered "TaskbarCreated"
    HICON m_hIconCurrent = nullptr;   // the image the icon shows now
    bool m_bIconWanted = false;       // added and not yet removed
};
