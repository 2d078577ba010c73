#include "journal/journal.h"

#include <process.h>
#include <shlobj.h>

#include <vector>

#include "framework/debug_trace.h"

namespace {

// How long the writer waits before it tries a file that failed again.
constexpr DWORD kRetryMs = 2000;
// Entries go to the disk in writes of about this size.
constexpr size_t kBatchBytes = 256 * 1024;
// The writer keeps a taken block's memory for the next take up to this many
// characters: a flood of long messages fits, a burst of megabytes goes back.
constexpr size_t kKeptBlockChars = 512 * 1024;

// While output floods in, the writer lets entries gather this long after it
// wakes, so that it wakes and writes a few dozen times a second, not once per
// entry.
constexpr DWORD kGatherMs = 20;

uint64_t Stamp() {
    FILETIME ft = {};
    ::GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The local time of a stamp, given the local clock's offset from UTC.
JournalTime LocalTime(uint64_t stamp, int64_t offset) {
    const uint64_t local = stamp + static_cast<uint64_t>(offset);
    FILETIME ft = {static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
    SYSTEMTIME st = {};
    ::FileTimeToSystemTime(&ft, &st);
    JournalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millis = st.wMilliseconds;
    return t;
}

// The local clock's offset from UTC now, in stamp units.
int64_t LocalOffset(uint64_t stamp) {
    FILETIME utc = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)}, local = {};
    if (!::FileTimeToLocalFileTime(&utc, &local)) return 0;
    const uint64_t l = (static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
    return static_cast<int64_t>(l - stamp);
}

}  // namespace

CJournal::CJournal(std::wstring folder, std::wstring fileName)
    : m_strFolder(std::move(folder)),
      m_strFileName(std::move(fileName)),
      m_hWake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

// The writer uses this object to its last step: wait for it, however long.
CJournal::~CJournal() { Close(INFINITE); }

std::wstring CJournal::DefaultFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::wstring();
    return std::wstring(path) + L"\\QuorvelTollvane\\logs";
}

bool CJournal::Start() {
    if (m_hWriterThread || !m_hWake) return false;
    m_hWriterThread.reset(
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &WriterThreadProc, this, 0, nullptr)));
    if (!m_hWriterThread) DebugTrace(L"journal: CreateThread failed");
    return static_cast<bool>(m_hWriterThread);
}

void CJournal::Add(const wchar_t* source, std::wstring_view text) {
    const uint64_t stamp = Stamp();
    bool bWake = false;
    {
        CLockGuard lock(m_cs);
        if (m_bClosing) return;
        // Only the first entry after the writer's last take wakes it: under
        // Wine every SetEvent is a trip to the server.
        bWake = m_queue.Empty();
        m_queue.Push(stamp, source, text);
    }
    if (bWake) ::SetEvent(m_hWake.get());
}

void CJournal::Close(DWORD timeoutMs) {
    {
        CLockGuard lock(m_cs);
        m_bClosing = true;
    }
    if (!m_hWriterThread) return;
    ::SetEvent(m_hWake.get());
    if (::WaitForSingleObject(m_hWriterThread.get(), timeoutMs) != WAIT_OBJECT_0) {
        // Still running (a slow disk): the handle stays for the destructor's wait.
        DebugTrace(L"journal: the writer did not finish in time");
        return;
    }
    m_hWriterThread.reset();
}

unsigned __stdcall CJournal::WriterThreadProc(void* pv) {
    try {
        static_cast<CJournal*>(pv)->RunWriter();
    } catch (...) {
        DebugTrace(L"journal: the writer stopped on an error");
    }
    return 0;
}

void CJournal::RunWriter() {
    bool bClosing = false;
    for (;;) {
        // Once closing, the queue is written out without waiting.
        if (!bClosing) {
            const bool bWoken =
                ::WaitForSingleObject(m_hWake.get(), m_bFailing ? kRetryMs : INFINITE) == WAIT_OBJECT_0;
            if (bWoken && !m_bFailing)
                ::WaitForSingleObject(m_hWake.get(), kGatherMs);  // Close cuts it short
        }
        {
            CLockGuard lock(m_cs);
            bClosing = m_bClosing;
        }
        if (!EnsureOpen()) {
            // Nothing can be written; at Exit, what is queued is given up.
            if (bClosing) return;
            continue;
        }
        uint64_t firstLost = 0, lastLost = 0;
        uint64_t nLost = 0;
        {
            // A swap: the readers wait for no more than that.
            CLockGuard lock(m_cs);
            m_queue.TakeAll(m_block);
            nLost = m_queue.TakeLost(firstLost, lastLost);
        }
        if (nLost != 0) {
            // The queue was full, so every entry taken here is older than the
            // lost ones: the report comes after them.
            const int64_t offset = LocalOffset(firstLost);
            m_block.Append(Stamp(), kJournalSupervisor,
                           LostEntriesText(nLost, LocalTime(firstLost, offset), LocalTime(lastLost, offset)));
        }
        const size_t nWritten = WriteBlock(m_block);
        const bool bWritten = nWritten == m_block.Size();
        bool bDone = false;
        {
            CLockGuard lock(m_cs);
            if (!bWritten) m_queue.PutBack(m_block, nWritten);
            // At Exit a file that fails gives up what is left.
            bDone = m_bClosing && (!bWritten || m_queue.Empty());
        }
        ReleaseLargeBuffers();
        if (bDone) {
            CloseFile();
            return;
        }
    }
}

bool CJournal::EnsureOpen() {
    if (m_hFile) return true;
    if (m_strFolder.empty()) return false;
    ::SHCreateDirectoryExW(nullptr, m_strFolder.c_str(), nullptr);
    const std::wstring path = FilePath();
    // Others may read the journal, and rename it, while it is written.
    m_hFile.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (m_hFile && ::GetFileSizeEx(m_hFile.get(), &size) &&
        ::SetFilePointerEx(m_hFile.get(), size, nullptr, FILE_BEGIN)) {
        m_nFileBytes = static_cast<uint64_t>(size.QuadPart);
        m_bFailing = false;
        return true;
    }
    const DWORD error = ::GetLastError();
    m_hFile.reset();
    if (!m_bFailing)
        DebugTrace(L"journal: cannot open " + path + L" (error " + std::to_wstring(error) + L")");
    m_bFailing = true;
    return false;
}

void CJournal::CloseFile() {
    m_hFile.reset();
    m_nFileBytes = 0;
}

void CJournal::Rotate() {
    CloseFile();
    const std::wstring base = m_strFolder + L"\\";
    for (int n = kJournalKeptFiles; n >= 1; --n) {
        ::MoveFileExW((base + RotatedJournalName(m_strFileName, n - 1)).c_str(),
                      (base + RotatedJournalName(m_strFileName, n)).c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    // A file that could not be moved (held open elsewhere) is opened again and
    // grows on; the next entry tries once more.
}

bool CJournal::WriteBytes(const std::string& bytes) {
    if (bytes.empty()) return true;
    DWORD written = 0;
    if (::WriteFile(m_hFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size()) {
        m_nFileBytes += bytes.size();
        return true;
    }
    const DWORD error = ::GetLastError();
    // A part of a batch (a full disk) would leave half an entry: cut it off.
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(m_nFileBytes);
    if (::SetFilePointerEx(m_hFile.get(), end, nullptr, FILE_BEGIN)) ::SetEndOfFile(m_hFile.get());
    if (!m_bFailing)
        DebugTrace(L"journal: cannot write " + FilePath() + L" (error " + std::to_wstring(error) + L")");
    m_bFailing = true;
    CloseFile();
    return false;
}

void CJournal::ReleaseLargeBuffers() {
    // A huge message or a long wait left them huge: the memory goes back
    // rather than stay with an idle writer (the block goes on to the queue
    // at the next take).
    if (m_block.CapacityChars() > kKeptBlockChars)
        m_block.Release();
    else
        m_block.Clear();
    if (m_wide.capacity() > kBatchBytes) std::wstring().swap(m_wide);
    if (m_batch.capacity() > 2 * kBatchBytes) std::string().swap(m_batch);
}

size_t CJournal::WriteBlock(const CJournalBlock& block) {
    if (block.Empty()) return 0;
    // Each entry is formatted into one reused buffer and converted straight
    // onto the batch's end: no copies per entry beyond those two. Both
    // buffers live as long as the writer, so a wake allocates nothing.
    std::wstring& wide = m_wide;
    std::string& batch = m_batch;
    batch.clear();
    batch.reserve(kBatchBytes + 64 * 1024);
    const int64_t offset = LocalOffset(block[0].stamp);
    size_t batchStart = 0;  // the first entry of the batch
    for (size_t i = 0; i < block.Size(); ++i) {
        const CJournalBlock::Entry& entry = block[i];
        wide.clear();
        AppendJournalEntry(wide, LocalTime(entry.stamp, offset), entry.source, block.TextOf(entry));
        const size_t before = batch.size();
        // UTF-8 takes at most three bytes per UTF-16 unit.
        batch.resize(before + wide.size() * 3);
        const int n =
            ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &batch[before],
                                  static_cast<int>(wide.size() * 3), nullptr, nullptr);
        batch.resize(before + static_cast<size_t>(n > 0 ? n : 0));
        const size_t entryBytes = batch.size() - before;
        if (JournalNeedsRotation(m_nFileBytes + before, entryBytes)) {
            // What came before this entry goes to the old file, the entry to a fresh one.
            const std::string tail = batch.substr(before);
            batch.resize(before);
            if (!WriteBytes(batch)) return batchStart;
            batch.assign(tail);
            batchStart = i;
            Rotate();
            if (!EnsureOpen()) return batchStart;
        }
        if (batch.size() >= kBatchBytes) {
            if (!WriteBytes(batch)) return batchStart;
            batch.clear();
            batchStart = i + 1;
        }
    }
    if (!WriteBytes(batch)) return batchStart;
    return block.Size();
}
