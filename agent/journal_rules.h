// The agent's journal on disk: its file names, the shape of an entry, when
// the file rotates and the queue that feeds the writer. No Win32 here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// 32-bit FNV-1a over the text's UTF-16LE code units (low byte first).
uint32_t Fnv1a32(std::wstring_view text);

// "agent-xxxxxxxx.log": eight lower-case hex digits of the hash of the
// canonical path of the supervisor's folder. One installation, one file.
std::wstring JournalFileName(std::wstring_view canonicalFolder);
// The n-th older generation of a journal file: "agent-xxxxxxxx.<n>.log";
// n == 0 is the file itself.
std::wstring RotatedJournalName(std::wstring_view fileName, int n);

constexpr uint64_t kJournalRotateBytes = 10u * 1024 * 1024;
constexpr int kJournalKeptFiles = 5;

// Whether an entry of entryBytes goes into a fresh file: one that already
// holds something and would pass the limit with it. An entry is never split.
inline bool JournalNeedsRotation(uint64_t fileBytes, uint64_t entryBytes) {
    return fileBytes > 0 && fileBytes + entryBytes > kJournalRotateBytes;
}

struct JournalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
};

// "2026-12-08 14:03:07.215".
std::wstring FormatJournalTime(const JournalTime& t);

// One whole entry with its "\r\n": "<time> [<source>] <text>". Line breaks of
// the text (CR, LF or CRLF) go on as further lines indented by two spaces, so
// one entry never reads as two; line ends at the text's end are dropped.
std::wstring FormatJournalEntry(const JournalTime& t, std::wstring_view source, std::wstring_view text);
// The same, appended to out (which the writer reuses from entry to entry).
void AppendJournalEntry(std::wstring& out, const JournalTime& t, std::wstring_view source,
                        std::wstring_view text);

// The line that follows entries lost to a full queue.
std::wstring LostEntriesText(uint64_t count, const JournalTime& first, const JournalTime& last);

struct JournalEntry {
    // When it was added: a UTC stamp that costs nothing to take; the writer
    // turns it into the local time it prints.
    uint64_t stamp = 0;
    JournalTime time;
    const wchar_t* source = L"";  // a literal: "agent" or "supervisor"
    std::wstring text;
};

// Bounded by entries and by characters: when either is reached, new entries
// are counted as lost instead of queued, and the count with the times of the
// first and last lost entry is kept until the writer reports it.
class CJournalQueue {
public:
    static constexpr size_t kMaxEntries = 20000;
    static constexpr size_t kMaxChars = 16u * 1024 * 1024;

    // False when the entry was counted as lost.
    bool Push(JournalEntry entry);
    // Moves every queued entry out, oldest first.
    void TakeAll(std::vector<JournalEntry>& out);
    // Puts entries taken earlier back at the front (the file could not take them).
    void PutBack(std::vector<JournalEntry>& entries);
    bool Empty() const { return m_entries.empty(); }
    // Entries lost since the last call, with the stamps of the first and the
    // last of them; 0 when none was lost. Resets the count.
    uint64_t TakeLost(uint64_t& first, uint64_t& last);

private:
    std::deque<JournalEntry> m_entries;
    size_t m_nChars = 0;
    uint64_t m_nLost = 0;
    uint64_t m_firstLost = 0;
    uint64_t m_lastLost = 0;
};
