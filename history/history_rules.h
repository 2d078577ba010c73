// The agent's runs as the journal tells them, the timeline strip's geometry
// and the plain-text search over journal lines. No Win32 here: the reader
// hands in the files' bytes, the window draws what comes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Journal times are the local clock's, as the entries print them, counted in
// milliseconds from 1970-01-01 00:00:00.000 of that clock.
int64_t JournalMsFromFields(int year, int month, int day, int hour, int minute, int second, int millis);
// "2026-12-08 14:03:07"; with millis "2026-12-08 14:03:07.215".
std::wstring FormatHistoryTime(int64_t ms, bool withMillis = false);

// The units a duration is written with; the window takes them from its
// string table, the journal's words are the English ones.
struct DurationUnits {
    const wchar_t* day = L"d";
    const wchar_t* hour = L"h";
    const wchar_t* minute = L"min";
    const wchar_t* second = L"s";
};
// The two largest units that matter: "2 h 13 min", "3 min 5 s", "12 s",
// "0.43 s" under ten seconds, "1 d 4 h".
std::wstring FormatDuration(int64_t ms, const DurationUnits& units = DurationUnits());

// Where a line lies: the reader's number for the file (16 bits) and the byte
// offset of the line's start in it (48 bits), in one word.
class JournalPlace {
public:
    static constexpr uint32_t kNoFile = 0xFFFFu;
    JournalPlace() = default;
    JournalPlace(uint32_t file, uint64_t offset)
        : m_packed((static_cast<uint64_t>(file & 0xFFFFu) << 48) | (offset & kOffsetMask)) {}
    uint32_t File() const { return static_cast<uint32_t>(m_packed >> 48); }
    uint64_t Offset() const { return m_packed & kOffsetMask; }
    bool Known() const { return File() != kNoFile; }
    bool operator==(const JournalPlace& other) const { return m_packed == other.m_packed; }

private:
    static constexpr uint64_t kOffsetMask = (uint64_t{1} << 48) - 1;
    uint64_t m_packed = uint64_t{kNoFile} << 48;
};

// How a run ended.
enum class RunEnd : uint8_t {
    Running,              // still running at the journal's end
    ExitedByItself,       // exited unasked; code and its name
    AskedEndedByItself,   // asked to end (Stop, Restart, Exit) and ended within the grace
    Forced,               // ended by force: the grace ran out, or a new command came
    EndedWithSupervisor,  // the supervisor ended, or vanished, while it ran
    EndedWithSession,     // the session ended
    LaunchFailed,         // never ran: code is the system's error, the text its reason
};

// What asked the agent to end, when something did.
enum class RunCause : uint8_t { None, Stop, Restart, Exit, Session };

// One run, kept small: the window holds one per run and reads the lines on
// demand from the places.
struct AgentRun {
    int64_t startMs = 0;  // 0: it started before the oldest file the journal keeps
    int64_t endMs = 0;    // Running: the time of its last line so far
    uint32_t pid = 0;
    uint32_t code = 0;   // the exit code (when hasCode) or the launch error
    uint32_t lines = 0;  // lines the agent wrote during the run
    uint16_t text = 0;   // AgentHistory::texts: the exit code's name or the launch failure's reason
    RunEnd end = RunEnd::Running;
    RunCause cause = RunCause::None;
    JournalPlace startAt;  // the "agent started" line
    JournalPlace endAt;    // the line that ended it; Running: its last line so far

    // The parse's own marks, kept in the padding: how the ask went and what
    // closed the run.
    uint8_t outcome = 0;   // 0 none, 1 ended by itself when asked, 2 forced
    uint8_t closedBy = 0;  // 0 open, 1 its exit line, 2 the supervisor's end or loss
    bool hasCode = false;

    int64_t RunMs() const { return startMs == 0 || endMs < startMs ? 0 : endMs - startMs; }
};
// The index keeps one of these per run and nothing per line.
static_assert(sizeof(AgentRun) <= 64, "a run's record stays within 64 bytes");

// Counts of what the reader passed over; nothing of it stops the reading.
struct HistoryCounts {
    uint64_t lines = 0;         // every line read
    uint64_t unknownLines = 0;  // lines without an entry's shape (a cut line among them)
    uint32_t files = 0;         // files read
    uint32_t heldFiles = 0;     // files another program held so that they could not be opened
    uint32_t failedFiles = 0;   // files that could not be read for another reason
};

struct AgentHistory {
    std::vector<AgentRun> runs;       // newest first
    std::vector<std::wstring> texts;  // texts[0] is empty
    HistoryCounts counts;

    std::wstring_view TextOf(const AgentRun& run) const {
        return run.text < texts.size() ? std::wstring_view(texts[run.text]) : std::wstring_view();
    }
};

// The journal's English words for how a run ended, for summaries:
// "exited by itself: code 3221225477 (0xC0000005, access violation)",
// "launch failed: The system cannot find the file specified. (error 2)".
std::wstring DescribeRunEnd(const AgentRun& run, std::wstring_view text);
// The exit code as the journal writes it: "1 (0x00000001)", with ", name".
std::wstring DescribeRunCode(uint32_t code, std::wstring_view name);

// One journal line, without its line end.
struct JournalLine {
    enum Source : uint8_t { Agent, Supervisor, Other };
    int64_t ms = 0;
    Source source = Other;
    std::string_view text;  // after "] "
};
// False for a line without an entry's shape (continuation lines among them).
bool ParseJournalLine(std::string_view line, JournalLine& out);
// A continuation of the entry above: indented by two spaces.
inline bool IsContinuationLine(std::string_view line) {
    return line.size() >= 2 && line[0] == ' ' && line[1] == ' ';
}

// UTF-8 to UTF-16; ill-formed bytes become U+FFFD.
std::wstring WideFromUtf8(std::string_view bytes);

// Rebuilds the runs from the journal's files, newest file first; each file is
// read from its start in pieces of whole lines. A run across two files (a
// rotation while it ran) comes out as one.
class CHistoryBuilder {
public:
    // file: the caller's number for it, kept in the places.
    void BeginFile(uint32_t file);
    // The next bytes of the file, starting at offset; whole lines, except a
    // last line that the file ends without a line end (a cut file).
    void Feed(std::string_view bytes, uint64_t offset);
    // The file is done; the runs it completed are added, newest first, and
    // the count of runs before them is returned (new ones: runs from it on).
    size_t EndFile();
    // No older file: a run whose start is older than the journal is kept with
    // startMs 0.
    void Finish();
    // Lines written to the newest file since it was read: the running run
    // goes on, ends, or is followed by new ones, which go to the front.
    // Returns how many runs are new at the front; the run after them may
    // have changed.
    size_t FeedNewest(uint32_t file, std::string_view bytes, uint64_t offset);

    const AgentHistory& History() const { return m_history; }
    AgentHistory& History() { return m_history; }

private:
    struct FileParse {
        AgentRun open;           // the run the lines go to
        bool bOpen = false;      // open holds a run
        bool bHead = false;      // open is the head: its start lies in an older file
        bool bSawStart = false;  // a run began in this file
        AgentRun head;           // the head once closed or superseded
        bool bHeadKept = false;
        std::vector<AgentRun> runs;  // complete, oldest first
    };
    void ParseLine(FileParse& parse, std::string_view line, JournalPlace at);
    void OnSupervisorLine(FileParse& parse, const JournalLine& line, JournalPlace at);
    void OpenHeadIfNone(FileParse& parse);
    void SettleLastOutput(FileParse& parse);
    void Close(FileParse& parse, AgentRun& run, int64_t ms, JournalPlace at, uint8_t closedBy);
    void CloseOpen(FileParse& parse, int64_t ms, JournalPlace at, uint8_t closedBy);
    uint16_t Intern(std::wstring text);

    AgentHistory m_history;
    FileParse m_file;
    std::string_view m_lastOutput;  // the open run's last output line in the piece being fed
    uint32_t m_nFile = 0;
    // The head of the newest file read so far: the end of a run that began in
    // an older one.
    AgentRun m_pending;
    bool m_bPending = false;
};

// Case-blind plain-text search over UTF-8 journal bytes. Letters fold as the
// simple case folding of Latin, Greek and Cyrillic; everything else matches
// exactly.
class CTextFinder {
public:
    explicit CTextFinder(std::wstring_view needle);
    bool Empty() const { return m_needle.empty(); }
    // The offset of the first match in text at or after from; npos if none.
    size_t Find(std::string_view text, size_t from = 0) const;

private:
    bool MatchesAt(std::string_view text, size_t pos) const;
    size_t FindSlow(std::string_view text, size_t from) const;
    std::string m_needle;  // UTF-8, ASCII letters lower-cased
    std::wstring m_folded;
    bool m_bSlow = false;  // the needle has a cased letter beyond ASCII
    size_t m_skip[256] = {};
};
wchar_t FoldCase(wchar_t ch);

// One line that a search found.
struct SearchHit {
    JournalPlace at;
    int64_t ms = 0;     // 0 for a line without a time of its own
    std::wstring text;  // the line, cut to kHitTextChars
};
constexpr size_t kHitTextChars = 300;
// The search's bound: it stops after this many lines and says so.
constexpr size_t kMaxSearchHits = 1000;

// The lines of a piece of a file that hold a match, newest (last) first,
// appended to hits until it holds max. pieceOffset: the piece's offset in its
// file. Returns false when max was reached.
bool FindHitsNewestFirst(const CTextFinder& finder, std::string_view piece, uint32_t file,
                         uint64_t pieceOffset, std::vector<SearchHit>& hits, size_t max = kMaxSearchHits);

// The run a time falls in (runs newest first): the newest run started at or
// before ms; -1 when none did.
int RunAtTime(const std::vector<AgentRun>& runs, int64_t ms);
// The run a window asks for by its start and pid: the run with that pid whose
// start is nearest to startMs (within toleranceMs); -1 when none is.
int FindRun(const std::vector<AgentRun>& runs, int64_t startMs, uint32_t pid, int64_t toleranceMs = 5000);

// The timeline strip: what runs when, and a mark for each end.
enum class MarkKind : uint8_t {
    Clean,         // ended by itself with code 0, when asked, or with the supervisor or session
    Crashed,       // exited unasked with another code
    Forced,        // ended by force
    LaunchFailed,  // did not start
};
MarkKind MarkKindOf(const AgentRun& run);

struct TimelineSpan {
    int x0, x1;  // running over [x0, x1)
};
struct TimelineMark {
    int x;
    MarkKind kind;
    int run;    // index in the runs; the newest when several ends share the place
    int count;  // ends of this kind at this x
};
struct Timeline {
    std::vector<TimelineSpan> running;  // left to right, not overlapping
    std::vector<TimelineMark> marks;    // left to right
};
// The strip of width pixels for the time [fromMs, toMs]; runs newest first.
Timeline LayOutTimeline(const std::vector<AgentRun>& runs, int64_t fromMs, int64_t toMs, int width);
// The mark nearest to x within tolerance pixels; -1 when none is.
int MarkAt(const Timeline& timeline, int x, int tolerance);
// The mark's words for a test trace and a screen reader: "03:10:05 crashed x3".
std::wstring MarkKindName(MarkKind kind);
