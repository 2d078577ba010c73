// Hands agent output from the pipe readers to the log view.
//
// Readers never wait on the UI thread: they apply the text rules to the log
// text under a short lock, note what the view misses, and post one
// WM_APP_OUTPUT when none is outstanding. The UI thread takes the pending work
// under the lock and carries it out on the view outside it. So a chunk that
// arrives while the UI is idle shows at once, chunks that pile up while it is
// busy go in with one insert, and the log text stays within the view's limit.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "agent/output_rules.h"
#include "framework/critical_section.h"

class COutputSink {
public:
    COutputSink() = default;
    COutputSink(const COutputSink&) = delete;
    COutputSink& operator=(const COutputSink&) = delete;

    // UI thread, before the pipe server starts. The limit is the view's own
    // (EM_GETLIMITTEXT); the supervisor never sets one.
    void Attach(HWND hWndNotify, HWND hLogEdit);
    // UI thread, when the window goes: afterwards readers only keep the text.
    void Detach();
    // Any reader thread: one message of the pipe, up to its first zero byte.
    void AppendOutput(const char* bytes, size_t length);
    // UI thread, on WM_APP_OUTPUT: brings the view up to date.
    void SyncView();

    // For tests and the benchmark: the log text as the view will show it, and
    // the number of messages taken so far.
    std::wstring GetLogText();
    size_t GetChunkCount();

private:
    // Posts WM_APP_OUTPUT unless one is outstanding; called under m_cs.
    void PostLocked();

    CCriticalSection m_cs;
    // Everything below is guarded by m_cs.
    HWND m_hWndNotify = nullptr;
    HWND m_hLogEdit = nullptr;
    // Until the view is attached: the limit an edit control reports by default.
    size_t m_nLimit = 30000;
    LogState m_log;  // m_log.strLogText is the log text (m_strLogText)
    bool m_bPosted = false;
    size_t m_nChunks = 0;
};
