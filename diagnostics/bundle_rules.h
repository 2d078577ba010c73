// What a diagnostics bundle holds and how its summary reads: the journal
// files of this installation, and summary.txt with the facts a helper asks
// for first. No Win32 here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The files of one installation's journal, newest first: the live file, the
// rotating one, then generations 1 to kJournalKeptFiles. Built from the live
// file's own name, which carries the installation's hash, so another
// installation's files in the same folder are never taken.
std::vector<std::wstring> BundleJournalNames(std::wstring_view liveName);

// The last count lines of text, with their line ends; a line end at the very
// end does not open another line.
std::string_view LastLines(std::string_view text, size_t count);

// Columns padded to their widest cell, separated by two spaces; the header
// is underlined by dashes. Widths count UTF-16 units.
std::wstring FormatTextTable(const std::vector<std::wstring>& headers,
                             const std::vector<std::vector<std::wstring>>& rows);

// One run of the agent as the summary's table shows it; the texts are made
// where the runs are known.
struct BundleRun {
    std::wstring started, ended, runTime, howEnded, pid, lines;
};

// The agent's file as found on disk.
struct AgentFileFacts {
    bool bFound = false;
    uint32_t error = 0;        // when not found: the system's error
    std::wstring fileVersion;  // empty when the file has none
    uint64_t size = 0;
    std::wstring sha256;  // lower-case hex; empty when it could not be read
};

struct DiagnosticsFacts {
    std::wstring created;  // local time the bundle was made
    std::wstring productVersion;
    std::wstring build;
    std::wstring windowsVersion;
    unsigned dpi = 96;
    std::wstring language;
    std::wstring agentPath;
    AgentFileFacts agent;
    std::wstring held;  // how the agent is held, as the journal says it
    bool bRunsKnown = false;
    std::vector<BundleRun> runs;      // newest first
    std::vector<std::wstring> notes;  // files left out or read in part
    std::wstring lastLines;           // the journal's last lines, as they are
    size_t lastLineCount = 0;
};

constexpr size_t kBundleLastLines = 200;

// summary.txt: fixed English labels, one fact a line, then the runs' table,
// the notes and the journal's last lines.
std::wstring FormatDiagnosticsSummary(const DiagnosticsFacts& facts);
