#include "agent/output_sink.h"

#include <cstring>
#include <cwchar>

#include "ui/main_dlg.h"

namespace {

// The message's bytes up to its first zero byte, decoded by the platform as
// the view has always asked: zero-terminated, length -1.
std::wstring DecodeMessage(const char* bytes, size_t length) {
    if (bytes == nullptr) return std::wstring();
    std::string terminated;
    if (std::memchr(bytes, 0, length) == nullptr) {
        terminated.assign(bytes, length);
        bytes = terminated.c_str();
    }
    if (*bytes == 0) return std::wstring();
    const int nUnits = ::MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
    if (nUnits <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(nUnits), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, 0, bytes, -1, &text[0], nUnits) <= 0) return std::wstring();
    text.resize(std::wcslen(text.c_str()));  // up to the terminating zero
    return text;
}

}  // namespace

void COutputSink::Attach(HWND hWndNotify, HWND hLogEdit) {
    // Asked before the lock: the view belongs to the calling (UI) thread.
    const size_t limit = static_cast<size_t>(::SendMessageW(hLogEdit, EM_GETLIMITTEXT, 0, 0));
    CLockGuard lock(m_cs);
    m_hWndNotify = hWndNotify;
    m_hLogEdit = hLogEdit;
    m_nLimit = limit;
    // Text taken before the view existed goes in whole.
    m_log.nViewLength = 0;
    m_log.nViewDrop = 0;
    if (!m_log.strLogText.empty()) PostLocked();
}

void COutputSink::Detach() {
    CLockGuard lock(m_cs);
    m_hWndNotify = nullptr;
    m_hLogEdit = nullptr;
}

void COutputSink::AppendOutput(const char* bytes, size_t length) {
    // Decoding and cleaning need no lock; only the log text does.
    const OutputChunk chunk = CleanOutputChunk(DecodeMessage(bytes, length));
    CLockGuard lock(m_cs);
    ++m_nChunks;
    AppendChunk(m_log, chunk, m_nLimit);
    if (HasViewUpdate(m_log)) PostLocked();
}

void COutputSink::PostLocked() {
    if (m_bPosted || m_hWndNotify == nullptr) return;
    // A post that fails (a full queue) leaves the flag clear, so the next
    // chunk tries again; the text itself waits in the log.
    m_bPosted = ::PostMessageW(m_hWndNotify, WM_APP_OUTPUT, 0, 0) != FALSE;
}

void COutputSink::SyncView() {
    ViewUpdate update;
    HWND hLogEdit = nullptr;
    {
        CLockGuard lock(m_cs);
        m_bPosted = false;
        hLogEdit = m_hLogEdit;
        if (hLogEdit == nullptr) return;
        try {
            update = TakeViewUpdate(m_log);
        } catch (...) {
            // Out of memory: the log keeps the work for the next message.
            return;
        }
    }
    // The view calls run outside the lock: readers keep going meanwhile, and
    // whatever they add is marked for the next WM_APP_OUTPUT.
    if (update.nDropFront == 0 && update.strInsert.empty()) return;
    // The control is marked invisible while its text changes, as
    // WM_SETREDRAW(FALSE) does on Windows: a visible edit control would
    // otherwise scroll and repaint at every step (Wine ignores WM_SETREDRAW
    // here and spends tens of milliseconds per insert). One repaint follows.
    const LONG_PTR style = ::GetWindowLongPtrW(hLogEdit, GWL_STYLE);
    if (style & WS_VISIBLE)
        ::SetWindowLongPtrW(hLogEdit, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
    const size_t viewLength = static_cast<size_t>(::GetWindowTextLengthW(hLogEdit));
    const bool whole = update.nDropFront > 0 && update.nDropFront >= viewLength;
    if (whole) {
        // Nothing of the view stays: take the text whole.
        ::SetWindowTextW(hLogEdit, update.strInsert.c_str());
    } else if (update.nDropFront > 0) {
        // Deleting the oldest lines in place spares the control from laying
        // out the lines that stay, as a full reset would.
        ::SendMessageW(hLogEdit, EM_SETSEL, 0, static_cast<LPARAM>(update.nDropFront));
        ::SendMessageW(hLogEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    const WPARAM end = static_cast<WPARAM>(::GetWindowTextLengthW(hLogEdit));
    ::SendMessageW(hLogEdit, EM_SETSEL, end, static_cast<LPARAM>(end));
    ::SendMessageW(hLogEdit, EM_SCROLLCARET, 0, 0);
    if (!whole && !update.strInsert.empty()) {
        // The log never exceeds the view's limit, so nothing is cut off here.
        ::SendMessageW(hLogEdit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(update.strInsert.c_str()));
        ::SendMessageW(hLogEdit, EM_SCROLLCARET, 0, 0);
    }
    if (style & WS_VISIBLE) ::SetWindowLongPtrW(hLogEdit, GWL_STYLE, style);
    ::InvalidateRect(hLogEdit, nullptr, TRUE);
}

std::wstring COutputSink::GetLogText() {
    CLockGuard lock(m_cs);
    return m_log.strLogText;
}

size_t COutputSink::GetChunkCount() {
    CLockGuard lock(m_cs);
    return m_nChunks;
}
