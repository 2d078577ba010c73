// Hands agent output from the pipe readers to a log view.
//
// Readers never wait on the UI thread: they apply the text rules to the log
// text under a short lock, note what the view misses, and post one
// notice (the window's output message) when none is outstanding. The UI thread takes the pending work
// under the lock and carries it out on the view outside it. So a chunk that
// arrives while the UI is idle shows at once, chunks that pile up while it is
// busy go in with one insert, and the log text stays within the view's limit.
//
// Posted messages are taken before input and painting, so a sync never runs
// while input waits in the queue. While output keeps coming (text arrived
// during the last sync) the next sync comes from the window's sync timer,
// which the queue hands out only once input and painting are done: it polls
// every few milliseconds and syncs once the interval that FloodSyncIntervalMs
// gives for the last update's cost is over, or as soon as a poll finds that no
// message came since the previous one. Until then readers post nothing more.
// A sustained flood thus leaves the user's clicks, keys and repaints their
// turn and the view a bounded share of the UI thread, a burst's last message
// shows a poll after the burst ends, and a chunk that arrives at an idle view
// shows at once.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "output/output_rules.h"
#include "framework/critical_section.h"

class CJournal;

// Carries an update out on the view; UI thread.
using ViewUpdater = void (*)(HWND hLogEdit, const ViewUpdate& update);

// The window side of the hand-off, given by the window at Attach.
struct OutputViewTarget {
    HWND hWndNotify = nullptr;  // gets the notices and owns the timer
    UINT uOutputMsg = 0;        // posted when text waits for the view
    UINT_PTR nSyncTimerId = 0;  // brings back a sync held back for input or a flood
    HWND hLogEdit = nullptr;    // the view: an edit control
    ViewUpdater applyUpdate = nullptr;
};

class COutputSink {
public:
    COutputSink() = default;
    COutputSink(const COutputSink&) = delete;
    COutputSink& operator=(const COutputSink&) = delete;

    // UI thread, before the pipe server starts. The limit is the view's own
    // (EM_GETLIMITTEXT); the supervisor never sets one.
    void Attach(const OutputViewTarget& target);
    // UI thread, when the window goes: afterwards readers only keep the text.
    void Detach();
    // Every cleaned message also goes to the journal, in the order the view
    // gets them; null: none. Any thread.
    void SetJournal(std::shared_ptr<CJournal> spJournal);
    // UI thread: empties the view and the log text the trim works on.
    void Clear();
    // Any reader thread: one message of the pipe, up to its first zero byte.
    void AppendOutput(const char* bytes, size_t length);
    // Any thread: a line of the supervisor's own for the view only (the
    // journal cannot take it: it is what the line is about).
    void AppendNotice(std::wstring text);
    // UI thread, on the output message (bFromTimer false) or on the sync
    // timer (true): brings the view up to date, or, for a message while input
    // waits, sets the timer that brings the sync back. True when the view
    // holds everything taken before the call.
    bool SyncView(bool bFromTimer = false);

    // While on (the silence watchdog is), each message stamps the time it
    // arrived; off, messages cost nothing more. Any thread.
    void StampMessages(bool bOn) { m_bStamp = bOn; }
    // SleepFreeMs of the last message stamped; 0 when none was. Any thread.
    uint64_t LastMessageMs() const { return m_nLastMessageMs; }

    // For tests and the benchmark: the log text as the view will show it, and
    // the number of messages taken so far.
    std::wstring GetLogText();
    size_t GetChunkCount();

private:
    // Posts the output message unless one is outstanding; called under m_cs.
    void PostLocked();
    // Sets the sync timer to poll until dueAtMs (0: the first poll syncs);
    // called on the UI thread under m_cs.
    bool SetTimerLocked(double dueAtMs);

    CCriticalSection m_cs;
    // Everything below is guarded by m_cs.
    OutputViewTarget m_view;  // empty while no view is attached
    // Until the view is attached: the limit an edit control reports by default.
    size_t m_nLimit = 30000;
    LogState m_log;          // m_log.strLogText is the log text (m_strLogText)
    bool m_bPosted = false;  // the output message or the timer is outstanding
    bool m_bTimer = false;   // the sync timer is set
    FloodPace m_pace;        // when the timer's poll syncs
    // Written under m_cs with the log text, read without it: a writer that
    // paces itself on the count (a test, the benchmark) never contends with
    // the readers for the lock.
    std::atomic<size_t> m_nChunks{0};
    std::shared_ptr<CJournal> m_spJournal;  // read and written only by std::atomic_load/_store
    // Atomics, each read and written without the lock: the readers stamp,
    // the silence watchdog's thread reads, the UI thread switches.
    std::atomic<bool> m_bStamp{false};
    std::atomic<uint64_t> m_nLastMessageMs{0};
};
