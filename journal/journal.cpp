#include "journal/journal.h"

#include <process.h>
#include <shlobj.h>

#include <new>
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

bool ReadFileMark(HANDLE hFile, JournalFileMark& mark) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(hFile, &info)) return false;
    mark.volume = info.dwVolumeSerialNumber;
    mark.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    mark.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

// Others may read the journal, rename or delete it, and add a line to it
// (AppendNow), while it is written.
constexpr DWORD kLiveFileSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The journal's files in its folder, for the rotation.
class CJournalDiskFiles final : public CJournalFiles {
public:
    CJournalDiskFiles(const std::wstring& folder, const std::wstring& fileName)
        : m_folder(folder), m_fileName(fileName) {}
    bool Exists(int generation) override {
        if (::GetFileAttributesW(Path(generation).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        // One that cannot be looked at is there as far as a rename is concerned.
        const DWORD error = ::GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    uint32_t Move(int from, int to, bool replace) override {
        if (::MoveFileExW(Path(from).c_str(), Path(to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
            return 0;
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }

private:
    std::wstring Path(int generation) const {
        return m_folder + L"\\" +
               (generation == kJournalRotating ? RotatingJournalName(m_fileName)
                                               : RotatedJournalName(m_fileName, generation));
    }
    const std::wstring& m_folder;
    const std::wstring& m_fileName;
};

}  // namespace

CJournal::CJournal(std::wstring folder, std::wstring fileName)
    : m_strFolder(std::move(folder)),
      m_strFileName(std::move(fileName)),
      m_bNoFolder(m_strFolder.empty()),
      m_hWake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (m_bNoFolder) m_trouble = JournalTrouble::NoFolder;
}

// The writer uses this object to its last step: wait for it, however long.
CJournal::~CJournal() { Close(INFINITE); }

std::wstring CJournal::DefaultFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::wstring();
    return std::wstring(path) + L"\\QuorvelTollvane\\logs";
}

bool CJournal::AppendNow(const std::wstring& folder, const std::wstring& fileName, const wchar_t* source,
                         std::wstring_view text) {
    if (folder.empty()) return false;
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    // Appending only: every write goes to the end, whatever the other writer did.
    CFileHandle hFile(::CreateFileW((folder + L"\\" + fileName).c_str(), FILE_APPEND_DATA, kLiveFileSharing,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) return false;
    const uint64_t stamp = Stamp();
    const std::wstring wide = FormatJournalEntry(LocalTime(stamp, LocalOffset(stamp)), source, text);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    if (n <= 0) return false;
    std::string bytes(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], n, nullptr,
                          nullptr);
    DWORD written = 0;
    return ::WriteFile(hFile.get(), bytes.data(), static_cast<DWORD>(n), &written, nullptr) &&
           written == bytes.size();
}

void CJournal::NotifyTrouble(HWND hWnd, UINT message) {
    m_nNotifyMessage = message;
    m_hWndNotify = hWnd;
}

bool CJournal::Start() {
    if (m_hWriterThread || m_bNoFolder) return false;
    if (!m_hWake) {
        SetStopped(ERROR_NOT_ENOUGH_MEMORY);  // no event could be made for the writer
        return false;
    }
    m_hWriterThread.reset(
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &WriterThreadProc, this, 0, nullptr)));
    if (m_hWriterThread) return true;
    const DWORD error = ::GetLastError();
    DebugTrace(L"journal: CreateThread failed");
    SetStopped(error);
    return false;
}

void CJournal::Add(const wchar_t* source, std::wstring_view text) {
    if (m_bNoFolder) return;  // nothing would ever take the entries
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
    auto* pJournal = static_cast<CJournal*>(pv);
    try {
        pJournal->RunWriter();
    } catch (...) {
        DebugTrace(L"journal: the writer stopped on an error");
        pJournal->SetStopped(ERROR_GEN_FAILURE);
    }
    return 0;
}

void CJournal::SetStopped(DWORD error) {
    m_troubleError = error;
    m_trouble = JournalTrouble::Stopped;
    if (const HWND hWnd = m_hWndNotify.load()) ::PostMessageW(hWnd, m_nNotifyMessage.load(), 0, 0);
}

void CJournal::RunWriter() {
    // A rotation a crash cut short is finished before anything is written;
    // one that cannot be finished now waits for the next rotation.
    ::SHCreateDirectoryExW(nullptr, m_strFolder.c_str(), nullptr);
    CJournalDiskFiles files(m_strFolder, m_strFileName);
    FinishJournalRotation(files);
    bool bClosing = false;
    for (;;) {
        try {
            if (WritePass(bClosing)) return;
        } catch (const std::bad_alloc&) {
            // The entries of this pass are given up, not the writer.
            CLockGuard lock(m_cs);
            if (!m_block.Empty())
                m_queue.CountLost(m_block.Size(), m_block[0].stamp, m_block[m_block.Size() - 1].stamp);
            m_block.Release();
        }
    }
}

bool CJournal::WritePass(bool& bClosing) {
    // Once closing, the queue is written out without waiting.
    if (!bClosing) {
        const bool bWoken =
            ::WaitForSingleObject(m_hWake.get(), m_bFailing ? kRetryMs : INFINITE) == WAIT_OBJECT_0;
        if (bWoken && !m_bFailing) ::WaitForSingleObject(m_hWake.get(), kGatherMs);  // Close cuts it short
    }
    {
        CLockGuard lock(m_cs);
        bClosing = m_bClosing;
    }
    RecheckLiveFile();
    // Nothing can be written; at Exit, what is queued is given up.
    if (!EnsureOpen()) return bClosing;
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
    if (!NoteReplacedLiveFile(m_block.Empty() ? Stamp() : m_block[0].stamp)) {
        GiveBack(0);
        ReleaseLargeBuffers();
        return bClosing;
    }
    const size_t nWritten = WriteBlock(m_block);
    const bool bWritten = nWritten == m_block.Size();
    if (bWritten && m_hFile) SetFailing(false, 0);
    if (!bWritten) GiveBack(nWritten);
    bool bDone = false;
    {
        CLockGuard lock(m_cs);
        // At Exit a file that fails gives up what is left.
        bDone = m_bClosing && (!bWritten || m_queue.Empty());
    }
    ReleaseLargeBuffers();
    if (bDone) CloseFile();
    return bDone;
}

void CJournal::GiveBack(size_t from) {
    // A full disk fails every try: the block goes back by a swap, and what
    // came meanwhile is appended to it outside the lock, so the readers never
    // wait for a copy of the whole queue.
    m_block.EraseFront(from);
    CJournalBlock newer;
    for (;;) {
        {
            CLockGuard lock(m_cs);
            if (m_queue.PutBack(m_block)) return;
            m_queue.TakeAll(newer);
        }
        m_block.AppendFrom(newer, 0);
    }
}

void CJournal::SetFailing(bool bFailing, DWORD error) {
    if (bFailing == m_bFailing) return;
    m_bFailing = bFailing;
    {
        CLockGuard lock(m_cs);
        m_queue.SetMaxChars(bFailing ? CJournalQueue::kFailingMaxChars : CJournalQueue::kMaxChars);
    }
    m_troubleError = error;
    m_trouble = bFailing ? JournalTrouble::CannotWrite : JournalTrouble::None;
    if (const HWND hWnd = m_hWndNotify.load()) ::PostMessageW(hWnd, m_nNotifyMessage.load(), 0, 0);
}

bool CJournal::EnsureOpen() {
    if (m_hFile) return true;
    ::SHCreateDirectoryExW(nullptr, m_strFolder.c_str(), nullptr);
    const std::wstring path = FilePath();
    m_hFile.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, kLiveFileSharing, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (m_hFile && ::GetFileSizeEx(m_hFile.get(), &size) &&
        ::SetFilePointerEx(m_hFile.get(), size, nullptr, FILE_BEGIN)) {
        m_nFileBytes = static_cast<uint64_t>(size.QuadPart);
        JournalFileMark found;
        if (m_bRechecking && ReadFileMark(m_hFile.get(), found)) {
            m_bRechecking = false;
            if (!IsSameJournalFile(m_liveMark, found)) m_bLiveFileReplaced = true;
        }
        return true;
    }
    const DWORD error = ::GetLastError();
    m_hFile.reset();
    if (!m_bFailing)
        DebugTrace(L"journal: cannot open " + path + L" (error " + std::to_wstring(error) + L")");
    SetFailing(true, error);
    return false;
}

void CJournal::CloseFile() {
    m_hFile.reset();
    m_nFileBytes = 0;
    m_bRechecking = false;
}

void CJournal::RecheckLiveFile() {
    const DWORD now = ::GetTickCount();
    if (!m_hFile || now - m_nLiveCheckedTick < kJournalLiveCheckMs) return;
    m_nLiveCheckedTick = now;
    JournalFileMark held;
    if (!ReadFileMark(m_hFile.get(), held)) return;
    held.size = m_nFileBytes;
    CloseFile();
    // Kept until a file opens under the name again, however long that takes
    // (a deleted file that another program still holds keeps its name).
    m_liveMark = held;
    m_bRechecking = true;
}

bool CJournal::NoteReplacedLiveFile(uint64_t stamp) {
    if (!m_bLiveFileReplaced) return true;
    std::string line;
    AppendUtf8(line, LocalTime(stamp, LocalOffset(stamp)), kJournalSupervisor,
               LiveFileGoneText(m_strFileName));
    if (!WriteBytes(line)) return false;
    m_bLiveFileReplaced = false;
    return true;
}

bool CJournal::Rotate(uint64_t stamp, std::string& batch) {
    CloseFile();
    CJournalDiskFiles files(m_strFolder, m_strFileName);
    const JournalRotation rotation = RotateJournal(files);
    if (!EnsureOpen()) return false;
    if (rotation.result == JournalRotation::Done) {
        m_nRotateAtBytes = kJournalRotateBytes;
        m_bRotationNoted = false;
        return true;
    }
    // Put off, the live file grows on and is tried again a little later;
    // unfinished, it has moved on and the next rotation finishes this one.
    m_nRotateAtBytes =
        rotation.result == JournalRotation::PutOff ? m_nFileBytes + kJournalRetryBytes : kJournalRotateBytes;
    if (!m_bRotationNoted) {
        // One line says so, before the entry that brought the rotation and
        // with its time, so that the times stay in order.
        m_bRotationNoted = true;
        std::string line;
        AppendUtf8(line, LocalTime(stamp, LocalOffset(stamp)), kJournalSupervisor,
                   RotationTroubleText(rotation, m_strFileName));
        batch.insert(0, line);
    }
    return true;
}

bool CJournal::WriteBytes(const std::string& bytes) {
    if (bytes.empty()) return true;
    // After a line that a second start added (AppendNow), not over it.
    LARGE_INTEGER end = {};
    if (::SetFilePointerEx(m_hFile.get(), LARGE_INTEGER{}, &end, FILE_END))
        m_nFileBytes = static_cast<uint64_t>(end.QuadPart);
    DWORD written = 0;
    if (::WriteFile(m_hFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size()) {
        m_nFileBytes += bytes.size();
        return true;
    }
    const DWORD error = ::GetLastError();
    // A part of a batch (a full disk) would leave half an entry: cut it off.
    end.QuadPart = static_cast<LONGLONG>(m_nFileBytes);
    if (::SetFilePointerEx(m_hFile.get(), end, nullptr, FILE_BEGIN)) ::SetEndOfFile(m_hFile.get());
    if (!m_bFailing)
        DebugTrace(L"journal: cannot write " + FilePath() + L" (error " + std::to_wstring(error) + L")");
    SetFailing(true, error);
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

void CJournal::AppendUtf8(std::string& out, const JournalTime& t, const wchar_t* source,
                          std::wstring_view text) {
    // Formatted into one reused buffer and converted straight onto out's end.
    m_wide.clear();
    AppendJournalEntry(m_wide, t, source, text);
    const size_t before = out.size();
    // UTF-8 takes at most three bytes per UTF-16 unit.
    out.resize(before + m_wide.size() * 3);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, m_wide.data(), static_cast<int>(m_wide.size()),
                                        &out[before], static_cast<int>(m_wide.size() * 3), nullptr, nullptr);
    out.resize(before + static_cast<size_t>(n > 0 ? n : 0));
}

size_t CJournal::WriteBlock(const CJournalBlock& block) {
    if (block.Empty()) return 0;
    // No copies per entry beyond the formatting and the conversion. The
    // buffers live as long as the writer, so a wake allocates nothing.
    std::string& batch = m_batch;
    batch.clear();
    batch.reserve(kBatchBytes + 64 * 1024);
    const int64_t offset = LocalOffset(block[0].stamp);
    size_t batchStart = 0;  // the first entry of the batch
    for (size_t i = 0; i < block.Size(); ++i) {
        const CJournalBlock::Entry& entry = block[i];
        const size_t before = batch.size();
        AppendUtf8(batch, LocalTime(entry.stamp, offset), entry.source, block.TextOf(entry));
        const size_t entryBytes = batch.size() - before;
        if (JournalNeedsRotation(m_nFileBytes + before, entryBytes, m_nRotateAtBytes)) {
            // What came before this entry goes to the old file, the entry to a fresh one.
            const std::string tail = batch.substr(before);
            batch.resize(before);
            if (!WriteBytes(batch)) return batchStart;
            batch.assign(tail);
            batchStart = i;
            if (!Rotate(entry.stamp, batch)) return batchStart;
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
