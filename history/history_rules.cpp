#include "history/history_rules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <utility>

namespace {

constexpr int64_t kDayMs = 86400000;

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool Digits(std::string_view s, size_t pos, size_t n, int& value) {
    if (pos + n > s.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

// The decimal number at the start of s; false without one.
bool LeadingNumber(std::string_view s, uint32_t& value, size_t* used = nullptr) {
    uint64_t v = 0;
    size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i < 10)
        v = v * 10 + static_cast<uint64_t>(s[i++] - '0');
    if (i == 0 || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    if (used != nullptr) *used = i;
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The first line end at or after pos, or the text's size: eight bytes at a
// time, since the C runtime's own search is a byte loop on some systems and
// this runs over every byte of the journal.
size_t FindLineEnd(std::string_view text, size_t pos) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    constexpr uint64_t kNewlines = kOnes * static_cast<unsigned char>('\n');
    const char* p = text.data();
    const size_t n = text.size();
    while (pos + 8 <= n) {
        uint64_t word;
        std::memcpy(&word, p + pos, 8);
        const uint64_t x = word ^ kNewlines;
        if (((x - kOnes) & ~x & kHighs) != 0) break;
        pos += 8;
    }
    while (pos < n && p[pos] != '\n') ++pos;
    return pos;
}

// The shape of an agent's entry, told without reading its time.
bool IsOutputLine(std::string_view line) {
    return line.size() >= 32 && line[4] == '-' && line[10] == ' ' && line[13] == ':' && line[19] == '.' &&
           line[23] == ' ' && line.compare(24, 8, "[agent] ") == 0;
}

RunEnd Classify(const AgentRun& run) {
    if (run.closedBy == 0) return RunEnd::Running;
    if (run.outcome == 2) return RunEnd::Forced;
    if (run.outcome == 1) return RunEnd::AskedEndedByItself;
    if (run.cause == RunCause::Session) return RunEnd::EndedWithSession;
    return run.closedBy == 1 ? RunEnd::ExitedByItself : RunEnd::EndedWithSupervisor;
}

// older goes on with what the newer file says of the same run.
void Absorb(AgentRun& older, const AgentRun& newer) {
    older.lines += newer.lines;
    if (newer.cause != RunCause::None) older.cause = newer.cause;
    if (newer.outcome != 0) older.outcome = newer.outcome;
    if (newer.endMs != 0) {
        older.endMs = newer.endMs;
        older.endAt = newer.endAt;
    }
    if (newer.closedBy != 0) {
        older.closedBy = newer.closedBy;
        older.code = newer.code;
        older.hasCode = newer.hasCode;
        older.text = newer.text;
    }
    older.end = Classify(older);
}

void AppendUtf8(std::string& out, wchar_t ch) {
    const uint32_t c = static_cast<uint32_t>(ch) & 0xFFFFu;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

unsigned char AsciiLower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

// Letters beyond ASCII that have another case.
bool IsCasedBeyondAscii(wchar_t c) { return (c >= 0x00C0 && c <= 0x024F) || (c >= 0x0370 && c <= 0x04FF); }

}  // namespace

int64_t JournalMsFromFields(int year, int month, int day, int hour, int minute, int second, int millis) {
    return DaysFromCivil(year, month, day) * kDayMs + ((hour * 60 + minute) * 60 + second) * int64_t{1000} +
           millis;
}

std::wstring FormatHistoryTime(int64_t ms, bool withMillis) {
    const int64_t days = (ms >= 0 ? ms : ms - kDayMs + 1) / kDayMs;
    const int64_t inDay = ms - days * kDayMs;
    int y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    wchar_t text[40] = {};
    const int secs = static_cast<int>(inDay / 1000);
    std::swprintf(text, 40, L"%04d-%02d-%02d %02d:%02d:%02d", y, m, d, secs / 3600, secs / 60 % 60,
                  secs % 60);
    std::wstring out = text;
    if (withMillis) {
        std::swprintf(text, 40, L".%03d", static_cast<int>(inDay % 1000));
        out += text;
    }
    return out;
}

std::wstring FormatDuration(int64_t ms, const DurationUnits& units) {
    if (ms < 0) ms = 0;
    wchar_t text[64] = {};
    if (ms < 10000) {
        const int64_t hundredths = (ms + 5) / 10;
        std::swprintf(text, 64, L"%d.%02d %ls", static_cast<int>(hundredths / 100),
                      static_cast<int>(hundredths % 100), units.second);
        return text;
    }
    const int64_t s = ms / 1000;
    const struct {
        int64_t size;
        const wchar_t* name;
    } scale[] = {{86400, units.day}, {3600, units.hour}, {60, units.minute}, {1, units.second}};
    for (size_t i = 0; i + 1 < sizeof(scale) / sizeof(scale[0]); ++i) {
        if (s < scale[i].size) continue;
        const int64_t big = s / scale[i].size, small = s % scale[i].size / scale[i + 1].size;
        if (small == 0)
            std::swprintf(text, 64, L"%lld %ls", static_cast<long long>(big), scale[i].name);
        else
            std::swprintf(text, 64, L"%lld %ls %lld %ls", static_cast<long long>(big), scale[i].name,
                          static_cast<long long>(small), scale[i + 1].name);
        return text;
    }
    std::swprintf(text, 64, L"%lld %ls", static_cast<long long>(s), units.second);
    return text;
}

std::wstring DescribeRunCode(uint32_t code, std::wstring_view name) {
    wchar_t text[48] = {};
    std::swprintf(text, 48, L"%lu (0x%08lX", static_cast<unsigned long>(code),
                  static_cast<unsigned long>(code));
    std::wstring out = text;
    if (!name.empty()) out.append(L", ").append(name);
    return out + L")";
}

std::wstring DescribeRunEnd(const AgentRun& run, std::wstring_view text) {
    static const wchar_t* const kCauses[] = {L"", L"Stop", L"Restart", L"Exit", L"the session's end"};
    const std::wstring cause = kCauses[static_cast<size_t>(run.cause)];
    const std::wstring code = run.hasCode ? L": code " + DescribeRunCode(run.code, text) : std::wstring();
    switch (run.end) {
        case RunEnd::Running:
            return L"still running";
        case RunEnd::ExitedByItself:
            return L"exited by itself" + code;
        case RunEnd::AskedEndedByItself:
            return L"asked to end" + (cause.empty() ? std::wstring() : L" (" + cause + L")") +
                   L", ended by itself" + code;
        case RunEnd::Forced:
            return L"ended by force" + (cause.empty() ? std::wstring() : L" (" + cause + L")");
        case RunEnd::EndedWithSupervisor:
            return L"ended with the supervisor";
        case RunEnd::EndedWithSession:
            return L"ended with the session";
        case RunEnd::LaunchFailed:
            break;
    }
    return L"launch failed: " + std::wstring(text) + L" (error " + std::to_wstring(run.code) + L")";
}

bool ParseJournalLine(std::string_view line, JournalLine& out) {
    int y, mo, d, h, mi, s, ms;
    if (line.size() < 27 || line[4] != '-' || line[7] != '-' || line[10] != ' ' || line[13] != ':' ||
        line[16] != ':' || line[19] != '.' || line[23] != ' ' || line[24] != '[')
        return false;
    if (!Digits(line, 0, 4, y) || !Digits(line, 5, 2, mo) || !Digits(line, 8, 2, d) ||
        !Digits(line, 11, 2, h) || !Digits(line, 14, 2, mi) || !Digits(line, 17, 2, s) ||
        !Digits(line, 20, 3, ms))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
    // Lines come in order, so the day seldom changes: its number is kept.
    thread_local int lastY = 0, lastMo = 0, lastD = 0;
    thread_local int64_t lastDays = 0;
    if (y != lastY || mo != lastMo || d != lastD) {
        lastDays = DaysFromCivil(y, mo, d);
        lastY = y;
        lastMo = mo;
        lastD = d;
    }
    out.ms = lastDays * kDayMs + ((h * 60 + mi) * 60 + s) * int64_t{1000} + ms;
    // The two sources the supervisor writes, without a search.
    if (line.compare(25, 7, "agent] ") == 0) {
        out.source = JournalLine::Agent;
        out.text = line.substr(32);
        return true;
    }
    if (line.compare(25, 12, "supervisor] ") == 0) {
        out.source = JournalLine::Supervisor;
        out.text = line.substr(37);
        return true;
    }
    const size_t close = line.find("] ", 25);
    if (close == std::string_view::npos) return false;
    out.source = JournalLine::Other;
    out.text = line.substr(close + 2);
    return true;
}

std::wstring WideFromUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        const int n = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
        uint32_t c = n == 3 ? b & 0x07u : n == 2 ? b & 0x0Fu : b & 0x1Fu;
        int k = 0;
        while (n > 0 && k < n && i + 1 + k < bytes.size() &&
               (static_cast<unsigned char>(bytes[i + 1 + k]) & 0xC0) == 0x80) {
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + 1 + k]) & 0x3Fu);
            ++k;
        }
        const bool ok = n > 0 && k == n && !(n == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) &&
                        !(n == 3 && (c < 0x10000 || c > 0x10FFFF));
        if (!ok) {
            out += L'\xFFFD';
            i += 1 + static_cast<size_t>(k);
            continue;
        }
        if (c >= 0x10000 && sizeof(wchar_t) == 2) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
        i += 1 + static_cast<size_t>(n);
    }
    return out;
}

uint16_t CHistoryBuilder::Intern(std::wstring text) {
    std::vector<std::wstring>& texts = m_history.texts;
    if (texts.empty()) texts.emplace_back();
    if (text.empty()) return 0;
    for (size_t i = texts.size(); i-- > 1;)
        if (texts[i] == text) return static_cast<uint16_t>(i);
    // Names and reasons repeat; a journal with more than 65535 kinds of them
    // shows the rest without one.
    if (texts.size() >= 0xFFFF) return 0;
    texts.push_back(std::move(text));
    return static_cast<uint16_t>(texts.size() - 1);
}

void CHistoryBuilder::BeginFile(uint32_t file) {
    m_file = FileParse();
    m_nFile = file;
    ++m_history.counts.files;
}

void CHistoryBuilder::Feed(std::string_view bytes, uint64_t offset) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t end = FindLineEnd(bytes, pos);
        const size_t next = end + 1;
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ParseLine(m_file, line, JournalPlace(m_nFile, offset + pos));
        pos = next;
    }
    SettleLastOutput(m_file);
}

// An output line's time is read only when it is its run's last so far: at a
// supervisor line and at the end of a piece.
void CHistoryBuilder::SettleLastOutput(FileParse& parse) {
    if (m_lastOutput.empty()) return;
    JournalLine entry;
    if (parse.bOpen && ParseJournalLine(m_lastOutput, entry)) parse.open.endMs = entry.ms;
    m_lastOutput = std::string_view();
}

void CHistoryBuilder::OpenHeadIfNone(FileParse& parse) {
    if (parse.bOpen || parse.bSawStart || parse.bHeadKept) return;
    parse.open = AgentRun();
    parse.bOpen = true;
    parse.bHead = true;
}

void CHistoryBuilder::Close(FileParse& parse, AgentRun& run, int64_t ms, JournalPlace at, uint8_t closedBy) {
    if (ms != 0) {
        run.endMs = ms;
        run.endAt = at;
    }
    run.closedBy = closedBy;
    run.end = Classify(run);
    if (parse.bHead) {
        parse.head = run;
        parse.bHeadKept = true;
        parse.bHead = false;
    } else {
        parse.runs.push_back(run);
    }
    parse.bOpen = false;
}

void CHistoryBuilder::CloseOpen(FileParse& parse, int64_t ms, JournalPlace at, uint8_t closedBy) {
    if (parse.bOpen) Close(parse, parse.open, ms, at, closedBy);
}

void CHistoryBuilder::ParseLine(FileParse& parse, std::string_view line, JournalPlace at) {
    ++m_history.counts.lines;
    if (IsOutputLine(line)) {
        OpenHeadIfNone(parse);
        if (!parse.bOpen) return;  // output while no run of ours is known: a copy started by hand
        ++parse.open.lines;
        parse.open.endAt = at;
        m_lastOutput = line;
        return;
    }
    SettleLastOutput(parse);
    JournalLine entry;
    if (!ParseJournalLine(line, entry)) {
        if (!IsContinuationLine(line)) ++m_history.counts.unknownLines;
        return;
    }
    if (entry.source == JournalLine::Agent) {
        OpenHeadIfNone(parse);
        if (!parse.bOpen) return;  // output while no run of ours is known: a copy started by hand
        ++parse.open.lines;
        parse.open.endMs = entry.ms;
        parse.open.endAt = at;
        return;
    }
    if (entry.source == JournalLine::Supervisor) OnSupervisorLine(parse, entry, at);
}

void CHistoryBuilder::OnSupervisorLine(FileParse& parse, const JournalLine& line, JournalPlace at) {
    const std::string_view text = line.text;
    if (StartsWith(text, "agent started: pid ")) {
        // A run that never said it ended: its supervisor was lost with it.
        CloseOpen(parse, 0, at, 2);
        AgentRun run;
        LeadingNumber(text.substr(19), run.pid);
        run.startMs = run.endMs = line.ms;
        run.startAt = run.endAt = at;
        parse.open = run;
        parse.bOpen = true;
        parse.bHead = false;
        parse.bSawStart = true;
        return;
    }
    if (StartsWith(text, "launch failed: ")) {
        CloseOpen(parse, 0, at, 2);
        parse.bSawStart = true;
        AgentRun run;
        run.startMs = run.endMs = line.ms;
        run.startAt = run.endAt = at;
        run.closedBy = 1;
        run.end = RunEnd::LaunchFailed;
        std::string_view reason = text.substr(15);
        const size_t error = reason.rfind(" (error ");
        if (error != std::string_view::npos) {
            LeadingNumber(reason.substr(error + 8), run.code);
            reason = reason.substr(0, error);
        }
        run.text = Intern(WideFromUtf8(reason));
        parse.runs.push_back(run);
        return;
    }
    if (StartsWith(text, "supervisor started")) {
        OpenHeadIfNone(parse);
        CloseOpen(parse, 0, at, 2);
        parse.bSawStart = true;  // what follows belongs to this supervisor's runs
        return;
    }
    RunCause cause = RunCause::None;
    uint8_t outcome = 0;
    if (text == "Stop by the user") cause = RunCause::Stop;
    if (text == "Restart by the user") cause = RunCause::Restart;
    if (text == "Exit by the user") cause = RunCause::Exit;
    if (text == "session ending") cause = RunCause::Session;
    if (StartsWith(text, "asked to end") || StartsWith(text, "did not end within"))
        outcome = text.find("ended by force") != std::string_view::npos ? 2 : 1;
    const bool bExited = StartsWith(text, "agent exited: code ");
    const bool bExiting = StartsWith(text, "supervisor exiting");
    if (cause == RunCause::None && outcome == 0 && !bExited && !bExiting) return;  // not about a run's end

    OpenHeadIfNone(parse);
    if (!parse.bOpen) return;
    AgentRun& run = parse.open;
    if (cause != RunCause::None) run.cause = cause;
    if (outcome != 0) run.outcome = outcome;
    if (bExiting) {
        Close(parse, run, line.ms, at, 2);
        return;
    }
    if (!bExited) {
        run.endMs = line.ms;
        run.endAt = at;
        return;
    }
    // "agent exited: code 3221225477 (0xC0000005, access violation), ran 1.234 s"
    const std::string_view rest = text.substr(19);
    size_t used = 0;
    run.hasCode = LeadingNumber(rest, run.code, &used);
    const size_t open = rest.find(" (", used);
    const size_t close = rest.rfind("), ran ");
    if (open == used && close != std::string_view::npos && close > open) {
        const std::string_view inside = rest.substr(open + 2, close - open - 2);
        const size_t comma = inside.find(", ");
        if (comma != std::string_view::npos) run.text = Intern(WideFromUtf8(inside.substr(comma + 2)));
    }
    Close(parse, run, line.ms, at, 1);
}

size_t CHistoryBuilder::EndFile() {
    FileParse& f = m_file;
    std::vector<AgentRun>& runs = m_history.runs;
    const size_t before = runs.size();
    bool bHasHead = f.bHeadKept;
    AgentRun head = f.head;
    if (!bHasHead && f.bOpen && f.bHead) {
        head = f.open;
        bHasHead = true;
    }
    if (!f.bSawStart) {
        // The whole file is a piece of one run that began earlier.
        if (bHasHead) {
            if (m_bPending && head.closedBy == 0) Absorb(head, m_pending);
            m_pending = head;
            m_bPending = true;
        }
    } else {
        if (f.bOpen && !f.bHead) {
            AgentRun tail = f.open;
            if (m_bPending) Absorb(tail, m_pending);
            runs.push_back(tail);
        }
        // Without a run open at this file's end, what the newer file said
        // first belongs to no run we know.
        m_bPending = bHasHead;
        if (bHasHead) m_pending = head;
        runs.insert(runs.end(), f.runs.rbegin(), f.runs.rend());
    }
    m_file = FileParse();
    return before;
}

void CHistoryBuilder::Finish() {
    // A head that only says a supervisor started tells of no run.
    if (m_bPending && (m_pending.closedBy == 1 || m_pending.lines != 0 || m_pending.outcome != 0)) {
        m_pending.end = Classify(m_pending);
        m_history.runs.push_back(m_pending);
    }
    m_bPending = false;
}

size_t CHistoryBuilder::FeedNewest(uint32_t file, std::string_view bytes, uint64_t offset) {
    std::vector<AgentRun>& runs = m_history.runs;
    FileParse parse;
    parse.bSawStart = true;
    const bool bHadRunning = !runs.empty() && runs.front().end == RunEnd::Running;
    if (bHadRunning) {
        parse.open = runs.front();
        parse.bOpen = true;
        runs.erase(runs.begin());
    }
    m_file = std::move(parse);
    m_nFile = file;
    Feed(bytes, offset);
    std::vector<AgentRun> front;
    if (m_file.bOpen) front.push_back(m_file.open);
    front.insert(front.end(), m_file.runs.rbegin(), m_file.runs.rend());
    runs.insert(runs.begin(), front.begin(), front.end());
    m_file = FileParse();
    return front.size() - (bHadRunning ? 1 : 0);
}

wchar_t FoldCase(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
    if (c < 0xC0) return c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<wchar_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
    if (c == 0x178) return 0xFF;
    const bool evenUpper = (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) ||
                           (c >= 0x14A && c <= 0x177) || (c >= 0x460 && c <= 0x481) ||
                           (c >= 0x48A && c <= 0x4BF);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return static_cast<wchar_t>(c + 1);
    return c;
}

CTextFinder::CTextFinder(std::wstring_view needle) {
    for (wchar_t c : needle) {
        m_folded += FoldCase(c);
        AppendUtf8(m_needle, c < 0x80 ? FoldCase(c) : c);
        if (IsCasedBeyondAscii(c)) m_bSlow = true;
    }
    const size_t m = m_needle.size();
    for (size_t& skip : m_skip) skip = m;
    for (size_t i = 0; i + 1 < m; ++i) {
        const unsigned char c = static_cast<unsigned char>(m_needle[i]);
        m_skip[c] = m - 1 - i;
        if (c >= 'a' && c <= 'z') m_skip[c - 32] = m - 1 - i;
    }
}

bool CTextFinder::MatchesAt(std::string_view text, size_t pos) const {
    for (size_t i = 0; i < m_needle.size(); ++i)
        if (AsciiLower(static_cast<unsigned char>(text[pos + i])) != static_cast<unsigned char>(m_needle[i]))
            return false;
    return true;
}

size_t CTextFinder::Find(std::string_view text, size_t from) const {
    const size_t m = m_needle.size();
    if (m == 0) return std::string_view::npos;
    if (m_bSlow) return FindSlow(text, from);
    // Horspool over bytes, both cases of an ASCII letter in the skip table.
    const unsigned char last = static_cast<unsigned char>(m_needle[m - 1]);
    size_t pos = from;
    while (pos + m <= text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[pos + m - 1]);
        if (AsciiLower(c) == last && MatchesAt(text, pos)) return pos;
        pos += m_skip[c];
    }
    return std::string_view::npos;
}

// Line by line, decoded and folded: for a needle whose letters beyond ASCII
// have another case. Returns the start of the line that holds the match.
size_t CTextFinder::FindSlow(std::string_view text, size_t from) const {
    size_t pos = from;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::wstring line = WideFromUtf8(text.substr(pos, end - pos));
        for (wchar_t& c : line) c = FoldCase(c);
        if (line.find(m_folded) != std::wstring::npos) return pos;
        pos = end + 1;
    }
    return std::string_view::npos;
}

bool FindHitsNewestFirst(const CTextFinder& finder, std::string_view piece, uint32_t file,
                         uint64_t pieceOffset, std::vector<SearchHit>& hits, size_t max) {
    std::vector<size_t> lineStarts;
    size_t pos = 0;
    while ((pos = finder.Find(piece, pos)) != std::string_view::npos) {
        const size_t start = pos == 0 ? 0 : piece.rfind('\n', pos - 1) + 1;  // npos + 1 == 0
        lineStarts.push_back(start);
        const size_t end = piece.find('\n', pos);
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    for (size_t i = lineStarts.size(); i-- > 0;) {
        if (hits.size() >= max) return false;
        const size_t start = lineStarts[i];
        size_t end = piece.find('\n', start);
        if (end == std::string_view::npos) end = piece.size();
        std::string_view line = piece.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        SearchHit hit;
        hit.at = JournalPlace(file, pieceOffset + start);
        // A continuation line has the time of its entry's first line.
        size_t head = start;
        JournalLine entry;
        for (int up = 0; up < 64; ++up) {
            const size_t lineEnd = piece.find('\n', head);
            std::string_view headLine =
                piece.substr(head, lineEnd == std::string_view::npos ? piece.npos : lineEnd - head);
            if (ParseJournalLine(headLine, entry)) {
                hit.ms = entry.ms;
                break;
            }
            if (!IsContinuationLine(headLine) || head == 0) break;
            head = head == 1 ? 0 : piece.rfind('\n', head - 2) + 1;
        }
        hit.text = WideFromUtf8(line.substr(0, kHitTextChars * 3));
        if (hit.text.size() > kHitTextChars) hit.text.resize(kHitTextChars);
        hits.push_back(std::move(hit));
    }
    return hits.size() < max;
}

int RunAtTime(const std::vector<AgentRun>& runs, int64_t ms) {
    const auto it = std::partition_point(runs.begin(), runs.end(),
                                         [ms](const AgentRun& run) { return run.startMs > ms; });
    if (it == runs.end()) return -1;
    if (it->end != RunEnd::Running && it->endMs < ms) return -1;
    return static_cast<int>(it - runs.begin());
}

int FindRun(const std::vector<AgentRun>& runs, int64_t startMs, uint32_t pid, int64_t toleranceMs) {
    int best = -1;
    int64_t bestGap = toleranceMs + 1;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].pid != pid || runs[i].end == RunEnd::LaunchFailed) continue;
        const int64_t gap = runs[i].startMs > startMs ? runs[i].startMs - startMs : startMs - runs[i].startMs;
        if (gap < bestGap) {
            bestGap = gap;
            best = static_cast<int>(i);
        }
    }
    return best;
}

MarkKind MarkKindOf(const AgentRun& run) {
    switch (run.end) {
        case RunEnd::ExitedByItself:
            return run.code == 0 ? MarkKind::Clean : MarkKind::Crashed;
        case RunEnd::Forced:
            return MarkKind::Forced;
        case RunEnd::LaunchFailed:
            return MarkKind::LaunchFailed;
        default:
            return MarkKind::Clean;
    }
}

std::wstring MarkKindName(MarkKind kind) {
    static const wchar_t* const kNames[] = {L"clean", L"crashed", L"forced", L"launch failed"};
    return kNames[static_cast<size_t>(kind)];
}

Timeline LayOutTimeline(const std::vector<AgentRun>& runs, int64_t fromMs, int64_t toMs, int width) {
    Timeline timeline;
    if (width <= 0 || toMs <= fromMs) return timeline;
    const int64_t span = toMs - fromMs;
    const auto x = [&](int64_t ms) {
        const int64_t clamped = std::min(std::max(ms, fromMs), toMs);
        return static_cast<int>((clamped - fromMs) * width / span);
    };
    std::vector<TimelineSpan> spans;
    std::map<std::pair<int, int>, size_t> markAt;  // (x, kind) -> index in marks
    for (size_t i = 0; i < runs.size(); ++i) {
        const AgentRun& run = runs[i];
        if (run.end != RunEnd::LaunchFailed) {
            const int64_t start = run.startMs == 0 ? fromMs : run.startMs;
            const int64_t end = run.end == RunEnd::Running ? toMs : run.endMs;
            if (end >= fromMs && start <= toMs) {
                const int x0 = x(start);
                // A run shorter than a pixel still shows.
                spans.push_back({x0, std::max(x(end), x0 + 1)});
            }
        }
        if (run.end == RunEnd::Running || run.endMs < fromMs || run.endMs > toMs) continue;
        const MarkKind kind = MarkKindOf(run);
        const int mx = std::min(x(run.endMs), width - 1);
        const auto key = std::make_pair(mx, static_cast<int>(kind));
        const auto found = markAt.find(key);
        if (found != markAt.end()) {
            ++timeline.marks[found->second].count;  // runs come newest first: the first one stays
            continue;
        }
        markAt.emplace(key, timeline.marks.size());
        timeline.marks.push_back({mx, kind, static_cast<int>(i), 1});
    }
    std::sort(spans.begin(), spans.end(),
              [](const TimelineSpan& a, const TimelineSpan& b) { return a.x0 < b.x0; });
    for (const TimelineSpan& s : spans) {
        if (!timeline.running.empty() && s.x0 <= timeline.running.back().x1)
            timeline.running.back().x1 = std::max(timeline.running.back().x1, s.x1);
        else
            timeline.running.push_back(s);
    }
    std::sort(timeline.marks.begin(), timeline.marks.end(), [](const TimelineMark& a, const TimelineMark& b) {
        return a.x != b.x ? a.x < b.x : a.kind < b.kind;
    });
    return timeline;
}

int MarkAt(const Timeline& timeline, int x, int tolerance) {
    int best = -1;
    int bestGap = tolerance + 1;
    for (size_t i = 0; i < timeline.marks.size(); ++i) {
        const int gap = std::abs(timeline.marks[i].x - x);
        if (gap < bestGap) {
            bestGap = gap;
            best = static_cast<int>(i);
        }
    }
    return best;
}
