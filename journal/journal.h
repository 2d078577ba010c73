// The agent's journal: every message the view shows and the supervisor's own
// events, in order, in a rotating UTF-8 file under the user's local
// application data.
//
// Threads: Add runs on any thread (pipe readers, the watch thread, the UI
// thread) and only queues; one writer thread owns the file and does every
// disk operation, so a slow or full disk never holds up the output path or
// the UI. m_cs guards the queue and m_bClosing; the file handle, its size, the
// rotation's state and the failure mark belong to the writer thread alone; the
// trouble it tells the window about is atomic.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "journal/journal_rules.h"
#include "framework/critical_section.h"
#include "framework/handle.h"

// What keeps the journal from the disk, for the window to say.
enum class JournalTrouble {
    None,
    NoFolder,     // the shell names no folder: nothing is kept at all
    CannotWrite,  // the file does not open or take writes; tried again every 2 s
};

class CJournal {
public:
    // folder: where the files go (created when missing); fileName: the
    // journal's own name in it, from JournalFileName.
    CJournal(std::wstring folder, std::wstring fileName);
    ~CJournal();
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // "%LOCALAPPDATA%\QuorvelTollvane\logs"; empty when the shell cannot say.
    static std::wstring DefaultFolder();

    // From now on the writer posts message to hWnd whenever Trouble()
    // changes; any thread. A trouble that came before is not posted: the
    // caller asks Trouble() once itself.
    void NotifyTrouble(HWND hWnd, UINT message);
    // Starts the writer thread; false when it could not be started (the
    // entries then stay queued, up to the queue's bound, and are lost) or
    // there is no folder.
    bool Start();
    // Any thread. The entry is stamped now and queued; never waits for the
    // disk. Without a folder it does nothing.
    void Add(const wchar_t* source, std::wstring_view text);
    // Writes out what is queued, waiting at most timeoutMs, and ends the
    // writer. Later entries are dropped. UI thread, at Exit.
    void Close(DWORD timeoutMs);

    const std::wstring& Folder() const { return m_strFolder; }
    std::wstring FilePath() const { return m_strFolder + L"\\" + m_strFileName; }
    const std::wstring& FileName() const { return m_strFileName; }
    // Any thread; the error is the system's for CannotWrite.
    JournalTrouble Trouble() const { return m_trouble.load(); }
    DWORD TroubleError() const { return m_troubleError.load(); }

private:
    static unsigned __stdcall WriterThreadProc(void* pv);
    void RunWriter();
    // One wake of the writer; true when it is done for good.
    bool WritePass(bool& bClosing);
    bool EnsureOpen();
    void CloseFile();
    // Rotates before an entry stamped stamp; false when no file is open after.
    bool Rotate(uint64_t stamp, std::string& batch);
    // Writes the block's entries in order; returns how many the file took,
    // fewer than all when it would not take the rest.
    size_t WriteBlock(const CJournalBlock& block);
    bool WriteBytes(const std::string& bytes);
    // Appends one entry to out as UTF-8.
    void AppendUtf8(std::string& out, const JournalTime& t, const wchar_t* source, std::wstring_view text);
    // Puts what the file did not take (the block from index from on) back in
    // front of the queue without copying it under the lock.
    void GiveBack(size_t from);
    void SetFailing(bool bFailing, DWORD error);
    void ReleaseLargeBuffers();

    const std::wstring m_strFolder;    // read-only after construction
    const std::wstring m_strFileName;  // read-only after construction
    const bool m_bNoFolder;            // read-only after construction
    std::atomic<HWND> m_hWndNotify{nullptr};
    std::atomic<UINT> m_nNotifyMessage{0};  // stored before m_hWndNotify
    std::atomic<JournalTrouble> m_trouble{JournalTrouble::None};
    std::atomic<DWORD> m_troubleError{0};

    CCriticalSection m_cs;
    CJournalQueue m_queue;    // guarded by m_cs
    bool m_bClosing = false;  // guarded by m_cs
    CHandle m_hWake;          // auto-reset; set by Add and Close; never replaced
    CHandle m_hWriterThread;  // UI thread only (Start, Close)

    // Writer thread only.
    CFileHandle m_hFile;
    uint64_t m_nFileBytes = 0;
    bool m_bFailing = false;  // writes fail since the last that worked; one debug line said so
    // The size at which the next rotation is tried: the limit, or after one
    // was put off a little further on.
    uint64_t m_nRotateAtBytes = kJournalRotateBytes;
    bool m_bRotationNoted = false;  // a line said that rotations fail; until one succeeds
    CJournalBlock m_block;          // the entries taken, swapped with the queue's at each take
    std::wstring m_wide;            // an entry being formatted, kept for its capacity
    std::string m_batch;            // the bytes of one write, kept for its capacity
};
