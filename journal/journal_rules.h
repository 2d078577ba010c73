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

// Eight lower-case hex digits of the hash of the canonical path of the
// supervisor's folder: what names the installation's journal and, where
// its folder keeps no id of its own, its settings.
std::wstring FolderHash(std::wstring_view canonicalFolder);
// "agent-xxxxxxxx.log": eight lower-case hex digits of the hash of the
// canonical path of the supervisor's folder. One installation, one file.
std::wstring JournalFileName(std::wstring_view canonicalFolder);
// The n-th older generation of a journal file: "agent-xxxxxxxx.<n>.log";
// n == 0 is the file itself.
std::wstring RotatedJournalName(std::wstring_view fileName, int n);

// The name the live file has between its rotation and its taking the name
// of generation 1: "agent-xxxxxxxx.rotating.log".
std::wstring RotatingJournalName(std::wstring_view fileName);

constexpr uint64_t kJournalRotateBytes = 10u * 1024 * 1024;
constexpr int kJournalKeptFiles = 5;
// After a rotation was put off (a file held open elsewhere), the live file
// grows by this much before the next try.
constexpr uint64_t kJournalRetryBytes = 1024 * 1024;

// Whether an entry of entryBytes goes into a fresh file: one that already
// holds something and would pass the limit with it. An entry is never split.
inline bool JournalNeedsRotation(uint64_t fileBytes, uint64_t entryBytes,
                                 uint64_t limit = kJournalRotateBytes) {
    return fileBytes > 0 && fileBytes + entryBytes > limit;
}

// The journal's files by generation: kJournalRotating is the rotating name,
// 0 the live file, 1 to kJournalKeptFiles the older ones.
constexpr int kJournalRotating = -1;

// The file operations of a rotation; the writer's go to the disk.
class CJournalFiles {
public:
    virtual ~CJournalFiles() = default;
    virtual bool Exists(int generation) = 0;
    // Renames from to to; with replace an existing to is deleted. Returns 0,
    // or the system's error when the file was not renamed.
    virtual uint32_t Move(int from, int to, bool replace) = 0;
};

struct JournalRotation {
    enum Result {
        Done,     // the live file is generation 1 now
        PutOff,   // nothing was renamed: the live file grows on
        Pending,  // the live file has the rotating name until a held older file moves
    };
    Result result = Done;
    int heldGeneration = 0;  // PutOff and Pending: the file that would not move
    uint32_t error = 0;      // and why
};

// A rotation is all or nothing for what is written: the live file first takes
// the rotating name (if it cannot, nothing changes), then the older files
// move up from the oldest present one below the first gap, then the rotating
// file becomes generation 1. A rename never replaces a file that has not
// moved on itself, except the oldest generation, which only a rotation whose
// live file moved drops. A rotation left unfinished (a crash, a held older
// file) is finished first; while it cannot be, the rotation is put off.
JournalRotation RotateJournal(CJournalFiles& files);
// Finishes a rotation left unfinished; at the writer's start. True when none
// is left.
bool FinishJournalRotation(CJournalFiles& files, JournalRotation* held = nullptr);

// The journal's line when a rotation is put off or left unfinished.
std::wstring RotationTroubleText(const JournalRotation& rotation, std::wstring_view fileName);

// What the writer knows of its live file: the file system's id of it and the
// bytes it has written there.
struct JournalFileMark {
    uint32_t volume = 0;
    uint64_t index = 0;
    uint64_t size = 0;
};
// Whether the file found under the live name is still the one the writer
// held: the same id, and at least the bytes it wrote (a second start of the
// supervisor may have added a line). An id alone is not enough where a
// deleted file's id is given to the next new file.
inline bool IsSameJournalFile(const JournalFileMark& held, const JournalFileMark& found) {
    return held.volume == found.volume && held.index == found.index && found.size >= held.size;
}
// How often, at most, the writer makes sure its live file still has its
// name: while it writes, lines go to a deleted or renamed file for no longer.
constexpr uint32_t kJournalLiveCheckMs = 1000;

// The first line of the live file opened after the previous one lost its name.
std::wstring LiveFileGoneText(std::wstring_view fileName);

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
    // Drops the entries from index count on (the text with them).
    void Truncate(size_t count);
    // Drops the first count entries.
    void EraseFront(size_t count);
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
    // The bound while the file cannot be written: memory given to entries
    // that may never reach the disk stays small.
    static constexpr size_t kFailingMaxChars = 1024 * 1024;

    // False when the entry was counted as lost.
    bool Push(uint64_t stamp, const wchar_t* source, std::wstring_view text);
    // Takes every queued entry, oldest first, by swapping them into block,
    // whose own entries are dropped and whose memory the queue goes on with.
    void TakeAll(CJournalBlock& block);
    // Entries the file could not take go back in front: block becomes the
    // queue by a swap, nothing copied, when the queue is empty; else false
    // and nothing changes (the caller takes the newer entries, appends them
    // to block outside the lock and tries again).
    bool PutBack(CJournalBlock& block);
    bool Empty() const { return m_block.Empty(); }
    // The bound in characters (kMaxChars or kFailingMaxChars); entries past
    // a lower one are dropped from the newest end and counted as lost.
    void SetMaxChars(size_t maxChars);
    // Counts count entries, stamped first to last, as lost.
    void CountLost(uint64_t count, uint64_t first, uint64_t last);
    // Entries lost since the last call, with the stamps of the first and the
    // last of them; 0 when none was lost. Resets the count.
    uint64_t TakeLost(uint64_t& first, uint64_t& last);

private:
    CJournalBlock m_block;
    size_t m_nMaxChars = kMaxChars;
    uint64_t m_nLost = 0;
    uint64_t m_firstLost = 0;
    uint64_t m_lastLost = 0;
};
