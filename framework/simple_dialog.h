// A modal dialog with no logic of its own: any of the standard command ids
// (IDOK through IDNO) ends it with that id. An optional hook sees every
// message first (after the box's own initialisation) and may take it by
// returning TRUE.
#pragma once

#include <windows.h>

#include "framework/app_module.h"

using SimpleDialogHook = BOOL (*)(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

template <int t_wDlgTemplateID, bool t_bCenter = true, SimpleDialogHook t_pfnHook = nullptr>
class CSimpleDialog {
public:
    INT_PTR DoModal(HWND hWndParent = ::GetActiveWindow()) {
        return ::DialogBoxParamW(g_Module.GetResourceInstance(), MAKEINTRESOURCEW(t_wDlgTemplateID),
                                 hWndParent, DialogProc, 0);
    }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        if (uMsg == WM_INITDIALOG && t_bCenter) CenterOnOwner(hWnd);
        if (t_pfnHook != nullptr && t_pfnHook(hWnd, uMsg, wParam, lParam)) return TRUE;
        switch (uMsg) {
            case WM_INITDIALOG:
                return TRUE;
            case WM_COMMAND: {
                const int id = LOWORD(wParam);
                if (id >= IDOK && id <= IDNO) {
                    ::EndDialog(hWnd, id);
                    return TRUE;
                }
                return FALSE;
            }
            default:
                return FALSE;
        }
    }

    static void CenterOnOwner(HWND hWnd) {
        HWND owner = ::GetWindow(hWnd, GW_OWNER);
        RECT area = {};
        if (owner == nullptr || !::GetWindowRect(owner, &area)) return;
        RECT self = {};
        ::GetWindowRect(hWnd, &self);
        const int x = (area.left + area.right) / 2 - (self.right - self.left) / 2;
        const int y = (area.top + area.bottom) / 2 - (self.bottom - self.top) / 2;
        ::SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
};
