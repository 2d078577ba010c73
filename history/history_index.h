// The history window's two workers: the indexer reads every file of the
// journal, newest first, then follows the live file while the window is
// open; the searcher looks for a text, newest line first. Both post what
// they find to the window; neither calls into it.
//
// Threads: the window's thread makes, asks and ends them. m_cs guards the
// asked search text; the quit mark and the search id are atomic; everything
// else belongs to the worker thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "framework/critical_section.h"
#include "framework/handle.h"
#include "history/history_reader.h"

// What a worker posts: the message's lParam owns one of these; the window
// takes it back with TakeHistoryBatch.
struct HistoryBatch {
    enum Kind { Runs, Hits };
    Kind kind = Runs;

    // Runs.
    bool bReset = false;              // a full reading starts over: drop the runs kept so far
    bool bFront = false;              // runs go to the front (the live file grew); else to the back
    bool bReplaceFront = false;       // with bFront: the first of them replaces the front run
    std::vector<AgentRun> runs;       // newest first
    std::vector<std::wstring> texts;  // the whole table, when it grew
    std::vector<HistoryFile> files;   // the whole table, when it grew
    HistoryCounts counts;
    bool bIndexed = false;  // every file has been read
    uint32_t filesRead = 0, filesTotal = 0;

    // Hits.
    uint32_t searchId = 0;
    std::vector<SearchHit> hits;  // newest first, after the ones posted before
    bool bSearchDone = false;
    bool bBounded = false;  // stopped at kMaxSearchHits
};

std::unique_ptr<HistoryBatch> TakeHistoryBatch(LPARAM lParam);

// A worker thread with a wake event and a quit mark.
class CHistoryThread {
public:
    virtual ~CHistoryThread() = default;
    bool Start(HWND hWnd, UINT message);
    // Asks the thread to end and waits for it (a piece's reading at most).
    void Stop();

protected:
    virtual void Run() = 0;
    // Waits for a wake or timeoutMs; false once the thread is to end.
    bool Wait(DWORD timeoutMs);
    bool Quitting() const { return m_bQuit.load(); }
    void Wake() { ::SetEvent(m_hWake.get()); }
    // False when the window is gone (the batch is freed).
    bool Post(std::unique_ptr<HistoryBatch> batch);

private:
    static unsigned __stdcall ThreadProc(void* pv);
    HWND m_hWnd = nullptr;  // written before the thread starts
    UINT m_nMessage = 0;    // written before the thread starts
    std::atomic<bool> m_bQuit{false};
    CHandle m_hWake;
    CHandle m_hThread;
};

class CHistoryIndexer final : public CHistoryThread {
public:
    // How often the live file is looked at for new lines while the window is open.
    static constexpr DWORD kFollowMs = 1000;
    explicit CHistoryIndexer(JournalSource source) : m_source(std::move(source)) {}
    ~CHistoryIndexer() override { Stop(); }

private:
    void Run() override;
    void IndexAll();
    void PostPreview(const std::wstring& path);
    void Follow();
    static constexpr uint64_t kPreviewBytes = 512 * 1024;
    // The runs from index from on, for the window; the builder keeps the newest.
    std::vector<AgentRun> TakeNewRuns(size_t from);
    std::unique_ptr<HistoryBatch> MakeBatch(std::vector<AgentRun> runs);

    const JournalSource m_source;  // read-only after construction
    // Worker thread only.
    CHistoryBuilder m_builder;
    std::vector<HistoryFile> m_files;
    size_t m_nPostedTexts = 0;
    HistoryCounts m_unread;  // files held or failed
};

class CHistorySearcher final : public CHistoryThread {
public:
    explicit CHistorySearcher(JournalSource source) : m_source(std::move(source)) {}
    ~CHistorySearcher() override { Stop(); }
    // Any search under way is dropped; returns the new one's id.
    uint32_t Search(std::wstring text);

private:
    void Run() override;
    void SearchFor(const std::wstring& text, uint32_t id);

    const JournalSource m_source;  // read-only after construction
    CCriticalSection m_cs;
    std::wstring m_strAsked;         // guarded by m_cs
    std::atomic<uint32_t> m_nId{0};  // the newest search asked for
};
