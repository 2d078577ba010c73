// The window at every DPI and in every theme: a new layout, font and icons
// when the window's DPI changes (another monitor, another scale), tray
// images at the taskbar's DPI, and the log view's colours from the user's
// high-contrast theme.
//
// The dialog manager of Windows 10 1703 and later would rescale a
// per-monitor dialog by itself, in proportion to the old layout. It is
// switched off here: the window takes the template afresh at each DPI, so
// the resize table's reference and the minimum size come from the same
// source as at start-up and repeated moves between monitors do not drift.
#include <string>

#include "framework/app_module.h"
#include "framework/debug_trace.h"
#include "ui/dpi.h"
#include "ui/main_dlg.h"

void CMainDlg::InitDpi() {
    KeepDialogFromRescaling(m_hWnd);
    m_uDpi = WindowDpi(m_hWnd);
    if (!LoadDialogTemplate(g_Module.GetResourceInstance(), IDD, m_template))
        m_template = DialogTemplateInfo();
}

LRESULT CMainDlg::OnDpiChanged(UINT dpi, const RECT* pSuggested) {
    if (dpi == 0) return 0;
    m_uDpi = dpi;
    RelayoutForDpi(dpi);
    // The system's rectangle keeps the window where the user put it, at the
    // new scale; the minimum would otherwise hold it at the old size.
    if (pSuggested != nullptr)
        ::SetWindowPos(m_hWnd, nullptr, pSuggested->left, pSuggested->top,
                       pSuggested->right - pSuggested->left, pSuggested->bottom - pSuggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    TakeMinTrackSizeFromFrame();
    // The client size may be what it was: lay out for it in any case.
    RECT rc = {};
    if (!::IsIconic(m_hWnd) && ::GetClientRect(m_hWnd, &rc)) UpdateDialogLayout(rc.right, rc.bottom);
    LoadWindowIcons();
    FollowTaskbarDpi();
    return 0;
}

// Every control of the template goes where the template puts it at this
// DPI, with the dialog's font at this DPI; then the layout takes these
// places as its reference.
void CMainDlg::RelayoutForDpi(UINT dpi) {
    if (m_template.items.empty()) return;
    CFontHandle font = CreateDialogFontAt(m_hWnd, m_template.pointSize, dpi);
    if (!font) return;
    const BaseUnits base = MeasureBaseUnits(font.get());
    if (base.x <= 0 || base.y <= 0) return;

    for (const TemplateItem& item : m_template.items) {
        HWND hCtl = GetDlgItem(item.id);
        if (hCtl == nullptr) continue;
        ::SendMessageW(hCtl, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
        const Rect rc = ItemRectAt(item, base);
        ::SetWindowPos(hCtl, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The controls no longer use the previous font.
    m_hDialogFont = std::move(font);

    const Rect client = ClientRectAt(m_template, base);
    const Rect grip = GripRectAt(client.right, client.bottom, MetricForDpi(SM_CXVSCROLL, dpi),
                                 MetricForDpi(SM_CYHSCROLL, dpi));
    RetakeLayoutReference(SIZE{client.right, client.bottom}, [&](int id, const Rect& old) {
        if (id == kSizeGripId) return grip;
        for (const TemplateItem& item : m_template.items)
            if (item.id == id) return ItemRectAt(item, base);
        return old;
    });
}

void CMainDlg::LoadWindowIcons() {
    HINSTANCE hInst = g_Module.GetResourceInstance();
    CIconHandle largeIcon(LoadIconAtSize(hInst, IDR_MAINFRAME, MetricForDpi(SM_CXICON, m_uDpi),
                                         MetricForDpi(SM_CYICON, m_uDpi)));
    CIconHandle smallIcon(LoadIconAtSize(hInst, IDR_MAINFRAME, MetricForDpi(SM_CXSMICON, m_uDpi),
                                         MetricForDpi(SM_CYSMICON, m_uDpi)));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon.get()));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    // The window holds the new icons now; the old ones can go.
    m_hIconLarge = std::move(largeIcon);
    m_hIconSmall = std::move(smallIcon);
    DebugTrace(L"window icons " + std::to_wstring(IconWidth(m_hIconLarge.get())) + L" and " +
               std::to_wstring(IconWidth(m_hIconSmall.get())) + L" px at " + std::to_wstring(m_uDpi) +
               L" dpi");
}

void CMainDlg::LoadTrayIcons() {
    m_uTrayDpi = PrimaryMonitorDpi();
    const int cx = MetricForDpi(SM_CXSMICON, m_uTrayDpi);
    const int cy = MetricForDpi(SM_CYSMICON, m_uTrayDpi);
    HINSTANCE hInst = g_Module.GetResourceInstance();
    CIconHandle running(LoadIconAtSize(hInst, IDR_MAINFRAME, cx, cy));
    CIconHandle stopped(LoadIconAtSize(hInst, IDI_AGENT_STOPPED, cx, cy));
    // The shell gets the new image before the one it shows is destroyed.
    ReplaceTrayIcon(m_hIconRunning.get(), running.get());
    ReplaceTrayIcon(m_hIconStopped.get(), stopped.get());
    m_hIconRunning = std::move(running);
    m_hIconStopped = std::move(stopped);
}

// The taskbar sits on the primary monitor, whose scale can change while the
// program runs (the user's setting, a monitor plugged in); the tray images
// follow it, not the window's monitor.
void CMainDlg::FollowTaskbarDpi() {
    if (PrimaryMonitorDpi() != m_uTrayDpi) LoadTrayIcons();
}

void CMainDlg::ApplyLogColours() {
    const LogColours colours =
        PickLogColours(IsHighContrastOn(), ::GetSysColor(COLOR_WINDOW), ::GetSysColor(COLOR_WINDOWTEXT));
    m_crLogText = colours.text;
    m_hLogBrush.reset(::CreateSolidBrush(colours.background));
}

void CMainDlg::OnSystemColoursChanged() {
    ApplyLogColours();
    if (m_hLogEdit != nullptr) ::InvalidateRect(m_hLogEdit, nullptr, TRUE);
}
