// Resize mix-in for a dialog: placement on the nearest monitor, a size grip,
// a minimum tracking size and the layout pass that keeps each control anchored
// to the edges it follows. The arithmetic lives in framework/resize_rules; this class
// only reads and moves windows.
//
// The host T derives from CDialogImpl<T> (public m_hWnd) and provides
//     static const DlgResizeEntry* GetDlgResizeMap();
// a table of (control id, kResize* bits) ended by (-1, 0). The host's message
// map passes every message it does not take to ProcessResizeMessage.
// UI thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/resize_rules.h"

template <typename T>
class CDialogResize {
public:
    // Centres the dialog on the work area of the monitor nearest to it,
    // without resizing, reordering or activating it. If the monitor cannot be
    // read, the dialog stays where it is.
    void CenterDialog() {
        HWND hWnd = Host();
        RECT rcWnd = {};
        if (!::GetWindowRect(hWnd, &rcWnd)) return;
        HMONITOR hMon = ::MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST);
        if (hMon == nullptr) return;
        MONITORINFO mi = {};
        mi.cbSize = sizeof(mi);
        if (!::GetMonitorInfoW(hMon, &mi)) return;
        const Point pt = CenterInWorkArea(ToRect(rcWnd), ToRect(mi.rcWork));
        ::SetWindowPos(hWnd, nullptr, pt.x, pt.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // Takes the reference layout: client size, grip, minimum tracking size and
    // one entry per row of the host's table. Called once, from WM_INITDIALOG.
    void InitDialogResize(bool bAddGripper = true, bool bUseMinTrackSize = true,
                          DWORD dwForceStyle = WS_CLIPCHILDREN) {
        HWND hWnd = Host();
        const DWORD dwStyle = static_cast<DWORD>(::GetWindowLongW(hWnd, GWL_STYLE));
        if ((dwStyle & dwForceStyle) != dwForceStyle)
            ::SetWindowLongW(hWnd, GWL_STYLE, static_cast<LONG>(dwStyle | dwForceStyle));
        if ((dwStyle & WS_CHILD) == 0) {
            const DWORD dwExStyle = static_cast<DWORD>(::GetWindowLongW(hWnd, GWL_EXSTYLE));
            ::SetWindowLongW(hWnd, GWL_EXSTYLE, static_cast<LONG>(dwExStyle | WS_EX_DLGMODALFRAME));
            // With the modal frame a dialog without its own small icon would
            // borrow the class icon; say explicitly that it has none.
            if (::SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0) == 0)
                ::SendMessageW(hWnd, WM_SETICON, ICON_SMALL, 0);
        }

        m_entries.clear();
        m_ptMinTrackSize = POINT{-1, -1};
        m_bGripper = false;

        RECT rcClient = {};
        ::GetClientRect(hWnd, &rcClient);
        m_sizeDialog = SIZE{rcClient.right - rcClient.left, rcClient.bottom - rcClient.top};

        if (bAddGripper && ::GetDlgItem(hWnd, kSizeGripId) == nullptr) {
            // The bottom-right-aligned size box shrinks itself to the system's
            // size-box dimensions in the corner of the rectangle it is given.
            HWND hGrip = ::CreateWindowExW(
                0, L"SCROLLBAR", nullptr,
                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBS_SIZEBOX | SBS_SIZEGRIP |
                    SBS_SIZEBOXBOTTOMRIGHTALIGN,
                rcClient.left, rcClient.top, rcClient.right - rcClient.left, rcClient.bottom - rcClient.top,
                hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSizeGripId)),
                reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(hWnd, GWLP_HINSTANCE)), nullptr);
            if (hGrip != nullptr) {
                m_bGripper = true;
                m_entries.push_back(LayoutEntry{kSizeGripId, kResizeMoveX | kResizeMoveY | kResizeRepaint,
                                                ClientRectOf(hGrip)});
            }
        }

        if (bUseMinTrackSize) {
            RECT rcWnd = {};
            ::GetWindowRect(hWnd, &rcWnd);
            m_ptMinTrackSize = POINT{rcWnd.right - rcWnd.left, rcWnd.bottom - rcWnd.top};
        }

        for (const DlgResizeEntry* p = T::GetDlgResizeMap(); p != nullptr && p->id != -1; ++p) {
            HWND hCtl = ::GetDlgItem(hWnd, p->id);
            if (hCtl == nullptr) continue;  // a row without its control lays nothing out
            m_entries.push_back(LayoutEntry{p->id, p->flags, ClientRectOf(hCtl)});
        }
    }

    // Lays the controls out for a client area of cx by cy pixels.
    void UpdateDialogLayout(int cx, int cy) {
        HWND hWnd = Host();
        const int dx = cx - m_sizeDialog.cx;
        const int dy = cy - m_sizeDialog.cy;
        // Only for a visible dialog: WM_SETREDRAW with TRUE sets WS_VISIBLE,
        // which would show a dialog that is meant to stay hidden ("starthide").
        const bool bVisible = ::IsWindowVisible(hWnd) != FALSE;
        if (bVisible) ::SendMessageW(hWnd, WM_SETREDRAW, FALSE, 0);
        for (const LayoutEntry& entry : m_entries) {
            HWND hCtl = ::GetDlgItem(hWnd, entry.id);
            if (hCtl == nullptr) continue;
            const Rect rc = LayoutControl(entry, ClientRectOf(hCtl), dx, dy);
            if (entry.flags & kResizeRepaint) ::InvalidateRect(hCtl, nullptr, TRUE);
            ::SetWindowPos(hCtl, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (bVisible) ::SendMessageW(hWnd, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }

    // The mix-in's part of the host's message map: WM_SIZE and WM_GETMINMAXINFO.
    BOOL ProcessResizeMessage(HWND /*hWnd*/, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
        switch (uMsg) {
            case WM_SIZE:
                lResult = OnSize(static_cast<unsigned>(wParam), static_cast<short>(LOWORD(lParam)),
                                 static_cast<short>(HIWORD(lParam)));
                return TRUE;
            case WM_GETMINMAXINFO:
                lResult = OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
                return TRUE;
            default:
                return FALSE;
        }
    }

protected:
    ~CDialogResize() = default;

    LRESULT OnSize(unsigned sizeType, int cx, int cy) {
        const SizeResponse response = RespondToSize(sizeType);
        if (m_bGripper && response.grip != GripChange::Keep) {
            HWND hGrip = ::GetDlgItem(Host(), kSizeGripId);
            if (hGrip != nullptr) ::ShowWindow(hGrip, response.grip == GripChange::Hide ? SW_HIDE : SW_SHOW);
        }
        if (response.layout) UpdateDialogLayout(cx, cy);
        return 0;
    }

    LRESULT OnGetMinMaxInfo(MINMAXINFO* pMmi) {
        // Messages that come before the set-up find no minimum.
        if (pMmi != nullptr && m_ptMinTrackSize.x != -1 && m_ptMinTrackSize.y != -1)
            pMmi->ptMinTrackSize = m_ptMinTrackSize;
        return 0;
    }

    std::vector<LayoutEntry> m_entries;  // grip first, then the host's rows
    SIZE m_sizeDialog = {0, 0};          // client size at set-up
    POINT m_ptMinTrackSize = {-1, -1};   // outer size at set-up; -1: no minimum
    bool m_bGripper = false;

private:
    HWND Host() const { return static_cast<const T*>(this)->m_hWnd; }

    static Rect ToRect(const RECT& rc) { return Rect{rc.left, rc.top, rc.right, rc.bottom}; }

    // A child's window rectangle in its parent's client coordinates.
    Rect ClientRectOf(HWND hCtl) const {
        RECT rc = {};
        ::GetWindowRect(hCtl, &rc);
        ::MapWindowPoints(HWND_DESKTOP, Host(), reinterpret_cast<POINT*>(&rc), 2);
        return ToRect(rc);
    }
};
