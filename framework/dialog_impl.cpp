#include "framework/dialog_impl.h"

namespace {
// The object being created on this thread; the dialog manager sends several
// messages (WM_SETFONT, WM_INITDIALOG) before CreateDialogParam returns.
thread_local CDialogBase* t_pCreating = nullptr;

// Messages whose result goes back as the dialog procedure's own return value
// rather than through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT uMsg) {
    switch (uMsg) {
        case WM_INITDIALOG:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        default:
            return false;
    }
}
}  // namespace

HWND CDialogBase::CreateFromTemplate(int idd, HWND hWndParent, LPARAM dwInitParam) {
    t_pCreating = this;
    HWND hWnd = ::CreateDialogParamW(g_Module.GetResourceInstance(), MAKEINTRESOURCEW(idd), hWndParent,
                                     StartDialogProc, dwInitParam);
    t_pCreating = nullptr;
    return hWnd;
}

INT_PTR CALLBACK CDialogBase::StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CDialogBase* pThis = t_pCreating;
    if (pThis == nullptr) return FALSE;
    t_pCreating = nullptr;
    pThis->m_hWnd = hWnd;
    ::SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
    ::SetWindowLongPtrW(hWnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&DialogProc));
    return pThis->Dispatch(hWnd, uMsg, wParam, lParam);
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* pThis = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (pThis == nullptr) return FALSE;
    return pThis->Dispatch(hWnd, uMsg, wParam, lParam);
}

INT_PTR CDialogBase::Dispatch(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    LRESULT lResult = 0;
    BOOL handled = FALSE;
    // Exceptions must not unwind through the window manager.
    try {
        handled = ProcessWindowMessage(hWnd, uMsg, wParam, lParam, lResult, 0);
    } catch (...) {
        DebugTrace(L"exception in a dialog handler");
        handled = FALSE;
    }
    if (uMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        return FALSE;
    }
    if (!handled) return FALSE;
    if (ReturnsResultDirectly(uMsg)) return static_cast<INT_PTR>(lResult);
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lResult);
    return TRUE;
}
