// The log view side of the output hand-off.
#include "ui/output_view.h"

#include "output/output_sink.h"
#include "ui/log_view_rules.h"
#include "ui/main_dlg.h"

COutputSink* CMainDlg::Output() { return m_spOutput.get(); }

void CMainDlg::OnOutputReady(bool bFromTimer) {
    if (COutputSink* pOutput = Output()) pOutput->SyncView(bFromTimer);
}

OutputViewTarget LogViewTarget(HWND hWndNotify, HWND hLogEdit) {
    OutputViewTarget view;
    view.hWndNotify = hWndNotify;
    view.uOutputMsg = WM_APP_OUTPUT;
    view.nSyncTimerId = IDT_OUTPUT_SYNC;
    view.hLogEdit = hLogEdit;
    view.applyUpdate = &ApplyLogViewUpdate;
    return view;
}

namespace {

LogViewPlace ReadPlace(HWND hLogEdit) {
    DWORD selStart = 0, selEnd = 0;
    ::SendMessageW(hLogEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                   reinterpret_cast<LPARAM>(&selEnd));
    LogViewPlace place;
    place.selStart = selStart;
    place.selEnd = selEnd;
    place.firstLine = static_cast<size_t>(::SendMessageW(hLogEdit, EM_GETFIRSTVISIBLELINE, 0, 0));
    return place;
}

bool EndVisible(HWND hLogEdit) {
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_ALL;
    // No scroll bar: all of the text is in view.
    if (!::GetScrollInfo(hLogEdit, SB_VERT, &si) || si.nMax <= si.nMin) return true;
    return si.nPos + static_cast<int>(si.nPage) > si.nMax;
}

}  // namespace

void ApplyLogViewUpdate(HWND hLogEdit, const ViewUpdate& update) {
    // Where the reader is, before anything changes: at the end with nothing
    // selected the view follows new output; otherwise it stays.
    const LogViewPlace place = ReadPlace(hLogEdit);
    const bool follow = LogViewFollows(place, EndVisible(hLogEdit));
    // The control is marked invisible while its text changes, as
    // WM_SETREDRAW(FALSE) does on Windows: a visible edit control would
    // otherwise scroll and repaint at every step (Wine ignores WM_SETREDRAW
    // here and spends tens of milliseconds per insert). One repaint follows.
    const LONG_PTR style = ::GetWindowLongPtrW(hLogEdit, GWL_STYLE);
    if (style & WS_VISIBLE)
        ::SetWindowLongPtrW(hLogEdit, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
    const size_t viewLength = static_cast<size_t>(::GetWindowTextLengthW(hLogEdit));
    const bool whole = update.nDropFront > 0 && update.nDropFront >= viewLength;
    size_t droppedLines = 0;
    if (whole) {
        // Nothing of the view stays: take the text whole.
        ::SetWindowTextW(hLogEdit, update.strInsert.c_str());
    } else if (update.nDropFront > 0) {
        // The trim ends at a line start: its line is the number of lines it takes.
        droppedLines = static_cast<size_t>(::SendMessageW(hLogEdit, EM_LINEFROMCHAR, update.nDropFront, 0));
        // Deleting the oldest lines in place spares the control from laying
        // out the lines that stay, as a full reset would.
        ::SendMessageW(hLogEdit, EM_SETSEL, 0, static_cast<LPARAM>(update.nDropFront));
        ::SendMessageW(hLogEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    const WPARAM end = static_cast<WPARAM>(::GetWindowTextLengthW(hLogEdit));
    ::SendMessageW(hLogEdit, EM_SETSEL, end, static_cast<LPARAM>(end));
    if (follow) ::SendMessageW(hLogEdit, EM_SCROLLCARET, 0, 0);
    if (!whole && !update.strInsert.empty()) {
        // The log never exceeds the view's limit, so nothing is cut off here.
        ::SendMessageW(hLogEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(update.strInsert.c_str()));
        if (follow) ::SendMessageW(hLogEdit, EM_SCROLLCARET, 0, 0);
    }
    if (!follow) {
        // The reader's selection and first line, on the text that is still there.
        const LogViewPlace after =
            whole ? LogViewPlace() : PlaceAfterDrop(place, update.nDropFront, droppedLines);
        ::SendMessageW(hLogEdit, EM_SETSEL, after.selStart, static_cast<LPARAM>(after.selEnd));
        const LRESULT firstLine = ::SendMessageW(hLogEdit, EM_GETFIRSTVISIBLELINE, 0, 0);
        ::SendMessageW(hLogEdit, EM_LINESCROLL, 0,
                       static_cast<LPARAM>(static_cast<LRESULT>(after.firstLine) - firstLine));
    }
    if (style & WS_VISIBLE) ::SetWindowLongPtrW(hLogEdit, GWL_STYLE, style);
    ::InvalidateRect(hLogEdit, nullptr, TRUE);
}
