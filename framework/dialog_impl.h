// Modeless dialog base: binds the window to its object and forwards every
// message to the object's message map, ProcessWindowMessage.
#pragma once

#include <windows.h>

#include "framework/app_module.h"
#include "framework/debug_trace.h"

class CDialogBase {
public:
    HWND m_hWnd = nullptr;

    virtual ~CDialogBase() = default;
    // The message map: TRUE when the message was handled, with lResult set.
    virtual BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                      DWORD dwMsgMapID) = 0;

    BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    BOOL IsWindow() const { return ::IsWindow(m_hWnd); }

protected:
    HWND CreateFromTemplate(int idd, HWND hWndParent, LPARAM dwInitParam);
    static INT_PTR CALLBACK StartDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
};

template <typename T>
class CDialogImpl : public CDialogBase {
public:
    HWND Create(HWND hWndParent, LPARAM dwInitParam = 0) {
        return CreateFromTemplate(T::IDD, hWndParent, dwInitParam);
    }
};
