#include "history/history_index.h"

#include <process.h>

#include "framework/debug_trace.h"

std::unique_ptr<HistoryBatch> TakeHistoryBatch(LPARAM lParam) {
    return std::unique_ptr<HistoryBatch>(reinterpret_cast<HistoryBatch*>(lParam));
}

bool CHistoryThread::Start(HWND hWnd, UINT message) {
    m_hWnd = hWnd;
    m_nMessage = message;
    m_hWake.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hWake) return false;
    m_hThread.reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &ThreadProc, this, 0, nullptr)));
    // Reading yields to the window's thread on a busy machine.
    if (m_hThread) ::SetThreadPriority(m_hThread.get(), THREAD_PRIORITY_BELOW_NORMAL);
    return static_cast<bool>(m_hThread);
}

void CHistoryThread::Stop() {
    if (!m_hThread) return;
    m_bQuit = true;
    Wake();
    // The thread looks at the mark between pieces of a file, so this waits
    // for one piece's reading at most.
    ::WaitForSingleObject(m_hThread.get(), INFINITE);
    m_hThread.reset();
}

bool CHistoryThread::Wait(DWORD timeoutMs) {
    if (Quitting()) return false;
    ::WaitForSingleObject(m_hWake.get(), timeoutMs);
    return !Quitting();
}

bool CHistoryThread::Post(std::unique_ptr<HistoryBatch> batch) {
    HistoryBatch* raw = batch.release();
    if (::PostMessageW(m_hWnd, m_nMessage, 0, reinterpret_cast<LPARAM>(raw))) return true;
    TakeHistoryBatch(reinterpret_cast<LPARAM>(raw));  // the window is gone: freed here
    return false;
}

unsigned __stdcall CHistoryThread::ThreadProc(void* pv) {
    try {
        static_cast<CHistoryThread*>(pv)->Run();
    } catch (...) {
        DebugTrace(L"history: a worker ended on an exception");
    }
    return 0;
}

void CHistoryIndexer::Run() {
    IndexAll();
    while (Wait(kFollowMs)) Follow();
}

std::vector<AgentRun> CHistoryIndexer::TakeNewRuns(size_t from) {
    // Runs posted stay with the window; the builder keeps only the newest,
    // which the live file's next lines go on with.
    std::vector<AgentRun>& runs = m_builder.History().runs;
    std::vector<AgentRun> fresh(runs.begin() + static_cast<std::ptrdiff_t>(from), runs.end());
    if (runs.size() > 1) runs.erase(runs.begin() + 1, runs.end());
    return fresh;
}

std::unique_ptr<HistoryBatch> CHistoryIndexer::MakeBatch(std::vector<AgentRun> runs) {
    const AgentHistory& history = m_builder.History();
    auto batch = std::make_unique<HistoryBatch>();
    batch->runs = std::move(runs);
    if (history.texts.size() != m_nPostedTexts) {
        batch->texts = history.texts;
        m_nPostedTexts = history.texts.size();
    }
    batch->files = m_files;
    batch->counts = history.counts;
    batch->counts.heldFiles += m_unread.heldFiles;
    batch->counts.failedFiles += m_unread.failedFiles;
    return batch;
}

void CHistoryIndexer::IndexAll() {
    m_builder = CHistoryBuilder();
    m_files.clear();
    m_nPostedTexts = 0;
    m_unread = HistoryCounts();
    const std::vector<std::wstring> paths = JournalFilesNewestFirst(m_source);
    bool bReset = true;
    if (!paths.empty()) {
        PostPreview(paths[0]);
        bReset = true;
    }
    for (size_t i = 0; i < paths.size() && !Quitting(); ++i) {
        CJournalFileReader reader;
        const FileOpen opened = reader.Open(paths[i]);
        if (opened == FileOpen::Held) ++m_unread.heldFiles;
        if (opened == FileOpen::Failed) ++m_unread.failedFiles;
        if (opened != FileOpen::Opened) continue;
        HistoryFile file{paths[i], reader.Key(), 0};
        m_builder.BeginFile(static_cast<uint32_t>(m_files.size()));
        bool bReadError = false;
        // The live file's last line may be half written: it is read when whole.
        file.readBytes = ReadForward(
            reader, 0, i != 0,
            [&](std::string_view piece, uint64_t offset) {
                m_builder.Feed(piece, offset);
                return !Quitting();
            },
            bReadError);
        if (bReadError) ++m_unread.failedFiles;
        m_files.push_back(std::move(file));
        auto batch = MakeBatch(TakeNewRuns(m_builder.EndFile()));
        batch->bReset = bReset;
        bReset = false;
        batch->filesRead = static_cast<uint32_t>(i + 1);
        batch->filesTotal = static_cast<uint32_t>(paths.size());
        Post(std::move(batch));
    }
    const size_t before = m_builder.History().runs.size();
    m_builder.Finish();
    auto batch = MakeBatch(TakeNewRuns(before));
    batch->bReset = bReset;
    batch->bIndexed = true;
    batch->filesRead = batch->filesTotal = static_cast<uint32_t>(paths.size());
    Post(std::move(batch));
}

// The newest file's last lines first, so that the window shows the latest
// runs at once; the whole file's reading replaces them a moment later.
void CHistoryIndexer::PostPreview(const std::wstring& path) {
    CJournalFileReader reader;
    if (reader.Open(path) != FileOpen::Opened) return;
    const uint64_t size = reader.Size();
    if (size <= kPreviewBytes) return;
    std::string tail;
    if (!reader.ReadAt(size - kPreviewBytes, kPreviewBytes, tail)) return;
    const size_t firstLine = tail.find('\n');
    const size_t lastLineEnd = tail.rfind('\n');
    if (firstLine == std::string::npos || lastLineEnd == firstLine) return;
    CHistoryBuilder preview;
    preview.BeginFile(0);
    preview.Feed(std::string_view(tail).substr(firstLine + 1, lastLineEnd - firstLine),
                 size - kPreviewBytes + firstLine + 1);
    preview.EndFile();
    auto batch = std::make_unique<HistoryBatch>();
    batch->bReset = true;
    batch->runs = std::move(preview.History().runs);
    batch->texts = preview.History().texts;
    batch->files = {HistoryFile{path, reader.Key(), size}};
    batch->filesTotal = 1;
    Post(std::move(batch));
}

void CHistoryIndexer::Follow() {
    const std::wstring live = m_source.folder + L"\\" + m_source.fileName;
    CJournalFileReader reader;
    if (reader.Open(live) != FileOpen::Opened) return;
    const uint64_t size = reader.Size();
    const bool bSameFile = !m_files.empty() && m_files[0].path == live &&
                           reader.Key().compare(0, m_files[0].key.size(), m_files[0].key) == 0 &&
                           size >= m_files[0].readBytes;
    if (!bSameFile) {
        // Rotated (or first made) since it was read: read everything again.
        IndexAll();
        return;
    }
    if (size == m_files[0].readBytes) return;
    bool bReadError = false;
    m_files[0].readBytes = ReadForward(
        reader, m_files[0].readBytes, false,
        [&](std::string_view piece, uint64_t offset) {
            std::vector<AgentRun>& runs = m_builder.History().runs;
            const bool bHadRunning = !runs.empty() && runs.front().end == RunEnd::Running;
            const size_t fresh = m_builder.FeedNewest(0, piece, offset);
            auto batch = MakeBatch(std::vector<AgentRun>(
                runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(fresh + (bHadRunning ? 1 : 0))));
            batch->bFront = true;
            batch->bReplaceFront = bHadRunning;
            batch->bIndexed = true;
            if (runs.size() > 1) runs.erase(runs.begin() + 1, runs.end());
            Post(std::move(batch));
            return !Quitting();
        },
        bReadError);
}

uint32_t CHistorySearcher::Search(std::wstring text) {
    {
        CLockGuard lock(m_cs);
        m_strAsked = std::move(text);
    }
    const uint32_t id = ++m_nId;
    Wake();
    return id;
}

void CHistorySearcher::Run() {
    uint32_t done = 0;
    while (Wait(INFINITE)) {
        const uint32_t id = m_nId.load();
        if (id == done) continue;
        std::wstring text;
        {
            CLockGuard lock(m_cs);
            text = m_strAsked;
        }
        done = id;
        SearchFor(text, id);
    }
}

void CHistorySearcher::SearchFor(const std::wstring& text, uint32_t id) {
    const CTextFinder finder(text);
    std::vector<HistoryFile> files;
    std::vector<SearchHit> hits;
    size_t nPosted = 0;
    bool bBounded = false;
    const auto post = [&](bool bDone) {
        auto batch = std::make_unique<HistoryBatch>();
        batch->kind = HistoryBatch::Hits;
        batch->searchId = id;
        batch->files = files;
        batch->hits.assign(hits.begin() + static_cast<std::ptrdiff_t>(nPosted), hits.end());
        nPosted = hits.size();
        batch->bSearchDone = bDone;
        batch->bBounded = bBounded;
        Post(std::move(batch));
    };
    const auto stale = [&] { return Quitting() || m_nId.load() != id; };
    if (!finder.Empty()) {
        for (const std::wstring& path : JournalFilesNewestFirst(m_source)) {
            CJournalFileReader reader;
            if (reader.Open(path) != FileOpen::Opened) continue;
            const uint32_t number = static_cast<uint32_t>(files.size());
            files.push_back(HistoryFile{path, reader.Key(), reader.Size()});
            ReadBackward(reader, 0, files.back().readBytes, [&](std::string_view piece, uint64_t offset) {
                bBounded = !FindHitsNewestFirst(finder, piece, number, offset, hits);
                if (hits.size() != nPosted && !bBounded) post(false);
                return !bBounded && !stale();
            });
            if (bBounded || stale()) break;
        }
    }
    if (!stale()) post(true);
}
