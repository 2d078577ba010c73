// The agent's journal: every message the view shows and the supervisor's own
// events, in order, in a rotating UTF-8 file under the user's local
// application data.
//
// Threads: Add runs on any thread (pipe readers, the watch thread, the UI
// thread) and only queues; one writer thread owns the file and does every
// disk operation, so a slow or full disk never holds up the output path or
// the UI. m_cs guards the queue and m_bClosing; the file handle, its size and
// the failure mark belong to the writer thread alone.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "journal/journal_rules.h"
#include "framework/critical_section.h"
#include "framework/handle.h"

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

    // Starts the writer thread; false when it could not be started (the
    // entries then stay queued, up to the queue's bound, and are lost).
    bool Start();
    // Any thread. The entry is stamped now and queued; never waits for the disk.
    void Add(const wchar_t* source, std::wstring_view text);
    // Writes out what is queued, waiting at most timeoutMs, and ends the
    // writer. Later entries are dropped. UI thread, at Exit.
    void Close(DWORD timeoutMs);

    const std::wstring& Folder() const { return m_strFolder; }
    std::wstring FilePath() const { return m_strFolder + L"\\" + m_strFileName; }

private:
    static unsigned __stdcall WriterThreadProc(void* pv);
    void RunWriter();
    bool EnsureOpen();
    void CloseFile();
    void Rotate();
    // Writes the block's entries in order; returns how many the file took,
    // fewer than all when it would not take the rest.
    size_t WriteBlock(const CJournalBlock& block);
    bool WriteBytes(const std::string& bytes);
    void ReleaseLargeBuffers();

    const std::wstring m_strFolder;    // read-only after construction
    const std::wstring m_strFileName;  // read-only after construction

    CCriticalSection m_cs;
    CJournalQueue m_queue;    // guarded by m_cs
    bool m_bClosing = false;  // guarded by m_cs
    CHandle m_hWake;          // auto-reset; set by Add and Close; never replaced
    CHandle m_hWriterThread;  // UI thread only (Start, Close)

    // Writer thread only.
    CFileHandle m_hFile;
    uint64_t m_nFileBytes = 0;
    bool m_bFailing = false;  // the last open or write failed; one debug line said so
    CJournalBlock m_block;    // the entries taken, swapped with the queue's at each take
    std::wstring m_wide;      // an entry being formatted, kept for its capacity
    std::string m_batch;      // the bytes of one write, kept for its capacity
};
