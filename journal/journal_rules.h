// The agent's journal on disk: its file names, the shape of an entry, when
// the file rotates and the queue that feeds the writer. No Win32 here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The sources an entry names: what the agent wrote, and the supervisor's own
// events and notes.
inline constexpr const wchar_t* kJournalAgent = L"agent";
inline constexpr const wchar_t* kJournalSupervisor = L"supervisor";

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

// Entries in one piece of memory: their texts one after another in a single
// buffer. The readers append to the queue's block and the writer takes it
// whole by a swap, so an entry allocates and frees nothing of its own on
// either side of the hand-over, and the take costs the same for one entry as
// for thousands.
class CJournalBlock {
public:
    struct Entry {
        // When it was added: a UTC stamp that costs nothing to take; the
        // writer turns it into the local time it prints.
        uint64_t stamp = 0;
        const wchar_t* source = L"";    // a literal: "agent" or "supervisor"
        size_t offset = 0, length = 0;  // of its text in the block's buffer
    };

    void Append(uint64_t stamp, const wchar_t* source, std::wstring_view text);
    // Appends the entries of other from its index from on.
    void AppendFrom(const CJournalBlock& other, size_t from);
    size_t Size() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    size_t Chars() const { return m_text.size(); }
    const Entry& operator[](size_t i) const { return m_entries[i]; }
    std::wstring_view TextOf(const Entry& entry) const {
        return std::wstring_view(m_text).substr(entry.offset, entry.length);
    }
    size_t CapacityChars() const { return m_text.capacity(); }
    // Makes room for chars characters in all, growing by doubling but not
    // past limit (or chars, if more).
    void ReserveUpTo(size_t chars, size_t limit);
    // Drops the entries and keeps the memory for the next ones.
    void Clear();
    // Drops the entries and gives the memory back.
    void Release();
    void Swap(CJournalBlock& other) noexcept;

private:
    std::vector<Entry> m_entries;
    std::wstring m_text;
};

// Bounded by entries and by characters: when either is reached, new entries
// are counted as lost instead of queued, and the count with the times of the
// first and last lost entry is kept until the writer reports it.
class CJournalQueue {
public:
    static constexpr size_t kMaxEntries = 20000;
    static constexpr size_t kMaxChars = 16u * 1024 * 1024;

    // False when the entry was counted as lost.
    bool Push(uint64_t stamp, const wchar_t* source, std::wstring_view text);
    // Takes every queued entry, oldest first, by swapping them into block,
    // whose own entries are dropped and whose memory the queue goes on with.
    void TakeAll(CJournalBlock& block);
    // Puts the entries of block from its index from on, taken earlier, back
    // at the front (the file could not take them).
    void PutBack(const CJournalBlock& block, size_t from);
    bool Empty() const { return m_block.Empty(); }
    // Entries lost since the last call, with the stamps of the first and the
    // last of them; 0 when none was lost. Resets the count.
    uint64_t TakeLost(uint64_t& first, uint64_t& last);

private:
    CJournalBlock m_block;
    uint64_t m_nLost = 0;
    uint64_t m_firstLost = 0;
    uint64_t m_lastLost = 0;
};
