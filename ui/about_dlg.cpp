#include "ui/about_dlg.h"

#include "framework/handle.h"
#include "framework/simple_dialog.h"
#include "resource.h"
#include "ui/dpi.h"

namespace {

// Sent to itself once the dialog manager has rescaled the box for a new DPI.
constexpr UINT WM_APP_ABOUT_ICON = WM_APP + 1;
// The box's own icon, owned through a window property for the box's life.
constexpr const wchar_t* kIconProp = L"QuorvelTollvane.AboutIcon";

HWND FindIconStatic(HWND hDlg) {
    for (HWND h = ::GetWindow(hDlg, GW_CHILD); h != nullptr; h = ::GetWindow(h, GW_HWNDNEXT))
        if ((::GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return h;
    return nullptr;
}

// The product icon drawn from its image for the box's DPI, not the one the
// template's static control loaded at the system's size.
void ShowIconForDpi(HWND hDlg) {
    HWND hStatic = FindIconStatic(hDlg);
    if (hStatic == nullptr) return;
    const UINT dpi = WindowDpi(hDlg);
    CIconHandle icon(LoadIconAtSize(g_Module.GetResourceInstance(), IDR_MAINFRAME,
                                    MetricForDpi(SM_CXICON, dpi), MetricForDpi(SM_CYICON, dpi)));
    if (!icon) return;
    ::SendMessageW(hStatic, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
    CIconHandle previous(static_cast<HICON>(::RemovePropW(hDlg, kIconProp)));
    ::SetPropW(hDlg, kIconProp, icon.release());
}

// The dialog manager rescales the box itself when it moves to a monitor of
// another DPI (Windows 10 1703 and later); only its icon is reloaded here.
BOOL AboutHook(HWND hDlg, UINT uMsg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    switch (uMsg) {
        case WM_INITDIALOG:
            ShowIconForDpi(hDlg);
            return FALSE;
        case WM_DPICHANGED:
            ::PostMessageW(hDlg, WM_APP_ABOUT_ICON, 0, 0);
            return FALSE;
        case WM_APP_ABOUT_ICON:
            ShowIconForDpi(hDlg);
            return TRUE;
        case WM_NCDESTROY:  // after the static that shows the icon is gone
            CIconHandle(static_cast<HICON>(::RemovePropW(hDlg, kIconProp)));
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowAboutBox(HWND hWndOwner) {
    // The template's DS_CENTER places the box; the dialog's own centring is off.
    CSimpleDialog<IDD_ABOUTBOX, false, AboutHook> dlg;
    dlg.DoModal(hWndOwner);
}
