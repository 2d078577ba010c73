#include "output/output_sink.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "framework/sleep_free_clock.h"
#include "journal/journal.h"
#include "journal/journal_rules.h"

namespace {

// The message's bytes up to its first zero byte, decoded by the platform as
// the view has always asked: zero-terminated, length -1.
std::wstring DecodeMessage(const char* bytes, size_t length) {
    if (bytes == nullptr) return std::wstring();
    std::string terminated;
    const char* end = static_cast<const char*>(std::memchr(bytes, 0, length));
    if (end == nullptr) {
        terminated.assign(bytes, length);
        bytes = terminated.c_str();
        end = bytes + length;
    }
    if (end == bytes) return std::wstring();
    // UTF-8 never takes fewer bytes than UTF-16 units, so one call does: the
    // text and its terminating zero fit in as many units as there are bytes.
    const size_t nBytes = static_cast<size_t>(end - bytes) + 1;
    if (nBytes > static_cast<size_t>(INT_MAX)) return std::wstring();
    std::wstring text(nBytes, L'\0');
    int nUnits = ::MultiByteToWideChar(CP_UTF8, 0, bytes, -1, &text[0], static_cast<int>(nBytes));
    if (nUnits <= 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        // Should a decoder ever write more units than that, it is asked first.
        nUnits = ::MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
        if (nUnits <= 0) return std::wstring();
        text.assign(static_cast<size_t>(nUnits), L'\0');
        nUnits = ::MultiByteToWideChar(CP_UTF8, 0, bytes, -1, &text[0], nUnits);
    }
    if (nUnits <= 0) return std::wstring();
    text.resize(std::wcslen(text.c_str()));  // up to the terminating zero
    return text;
}

// How soon a sync held back for input is tried again, and how often a flood
// checks whether output has gone quiet; the timer itself waits until no input
// is left.
constexpr UINT kSyncPollMs = USER_TIMER_MINIMUM;

double NowMs() {
    LARGE_INTEGER t, f;
    ::QueryPerformanceCounter(&t);
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

}  // namespace

void COutputSink::Attach(const OutputViewTarget& target) {
    // Asked before the lock: the view belongs to the calling (UI) thread.
    const size_t limit = static_cast<size_t>(::SendMessageW(target.hLogEdit, EM_GETLIMITTEXT, 0, 0));
    CLockGuard lock(m_cs);
    m_view = target;
    m_nLimit = limit;
    // Text taken before the view existed goes in whole.
    m_log.nViewLength = 0;
    m_log.nViewDrop = 0;
    if (!m_log.strLogText.empty()) PostLocked();
}

void COutputSink::SetJournal(std::shared_ptr<CJournal> spJournal) {
    std::atomic_store(&m_spJournal, std::move(spJournal));
}

void COutputSink::Clear() {
    HWND hLogEdit = nullptr;
    {
        CLockGuard lock(m_cs);
        m_log = LogState();
        hLogEdit = m_view.hLogEdit;
    }
    // A chunk that comes meanwhile is pending for an empty view, and its sync
    // runs on this thread after this call.
    if (hLogEdit != nullptr) ::SetWindowTextW(hLogEdit, L"");
}

void COutputSink::Detach() {
    CLockGuard lock(m_cs);
    m_view = OutputViewTarget();
    m_bTimer = false;  // it goes with the window
}

void COutputSink::AppendOutput(const char* bytes, size_t length) {
    if (m_bStamp) m_nLastMessageMs = SleepFreeMs();
    // Decoding and cleaning need no lock; only the log text does.
    const OutputChunk chunk = CleanOutputChunk(DecodeMessage(bytes, length));
    const std::shared_ptr<CJournal> spJournal = std::atomic_load(&m_spJournal);
    CLockGuard lock(m_cs);
    ++m_nChunks;
    AppendChunk(m_log, chunk, m_nLimit);
    // Queued under the sink's lock, so the journal has the messages in the
    // view's order; the journal's own lock is short and never waits for the disk.
    if (spJournal) spJournal->Add(kJournalAgent, chunk.strText);
    if (HasViewUpdate(m_log)) PostLocked();
}

void COutputSink::AppendNotice(std::wstring text) {
    OutputChunk chunk;
    chunk.strText = std::move(text);
    CLockGuard lock(m_cs);
    AppendChunk(m_log, chunk, m_nLimit);
    if (HasViewUpdate(m_log)) PostLocked();
}

void COutputSink::PostLocked() {
    if (m_bPosted || m_view.hWndNotify == nullptr) return;
    // A post that fails (a full queue) leaves the flag clear, so the next
    // chunk tries again; the text itself waits in the log.
    m_bPosted = ::PostMessageW(m_view.hWndNotify, m_view.uOutputMsg, 0, 0) != FALSE;
}

bool COutputSink::SetTimerLocked(double dueAtMs) {
    m_pace.dueAtMs = dueAtMs;
    m_pace.nChunksSeen = m_nChunks;
    m_bTimer = ::SetTimer(m_view.hWndNotify, m_view.nSyncTimerId, kSyncPollMs, nullptr) != 0;
    return m_bTimer;
}

bool COutputSink::SyncView(bool bFromTimer) {
    // Asked before the lock: the queue belongs to this (UI) thread.
    const bool bInputWaiting = !bFromTimer && HIWORD(::GetQueueStatus(QS_INPUT)) != 0;
    ViewUpdate update;
    HWND hLogEdit = nullptr;
    ViewUpdater apply = nullptr;
    {
        CLockGuard lock(m_cs);
        if (m_bTimer && bFromTimer) {
            if (!FloodSyncDue(m_pace, NowMs(), m_nChunks)) return false;  // the next poll decides
            ::KillTimer(m_view.hWndNotify, m_view.nSyncTimerId);
            m_bTimer = false;
        }
        if (m_bTimer) return false;  // the timer brings the sync
        // Input first: m_bPosted stays set, so readers post nothing until the
        // timer, which comes after the input, brings the sync back.
        if (bInputWaiting && m_view.hWndNotify != nullptr && SetTimerLocked(0)) return false;
        hLogEdit = m_view.hLogEdit;
        apply = m_view.applyUpdate;
        try {
            if (hLogEdit != nullptr && apply != nullptr) update = TakeViewUpdate(m_log);
        } catch (...) {
            // Out of memory: the log keeps the work for the next message.
            hLogEdit = nullptr;
        }
        if (hLogEdit == nullptr || apply == nullptr || (update.nDropFront == 0 && update.strInsert.empty())) {
            m_bPosted = false;  // idle: the next chunk posts at once
            return hLogEdit != nullptr && apply != nullptr;
        }
    }
    const double start = NowMs();
    apply(hLogEdit, update);
    const double end = NowMs();
    CLockGuard lock(m_cs);
    // Text that came while the view was updated means a flood: the next sync
    // waits for the timer, which the queue hands out only after input and
    // painting, so the view takes a bounded share of the UI thread. Otherwise
    // the next chunk posts at once.
    if (HasViewUpdate(m_log) && m_view.hWndNotify != nullptr &&
        SetTimerLocked(end + FloodSyncIntervalMs(end - start)))
        return true;
    m_bPosted = false;
    if (HasViewUpdate(m_log)) PostLocked();
    return true;
}

std::wstring COutputSink::GetLogText() {
    CLockGuard lock(m_cs);
    return m_log.strLogText;
}

size_t COutputSink::GetChunkCount() { return m_nChunks; }
