// The diagnostics bundle: one .zip with this installation's journal files
// and summary.txt. Any thread; it reads files and writes one, and touches no
// window, so the window runs it on a worker and hears of the end by message.
#pragma once

#include <windows.h>

#include <string>

#include "diagnostics/bundle_rules.h"

struct DiagnosticsRequest {
    std::wstring zipPath;
    std::wstring journalFolder;    // empty: no journal on this system
    std::wstring journalFileName;  // the live file's name, from JournalFileName
    // What the window knows: versions, DPI, the agent's path, how it is
    // held, the runs. The agent file's facts, the system's and the journal's
    // last lines are filled in here.
    DiagnosticsFacts facts;
};

// Writes the bundle; 0, or the system's error when no bundle was written
// (nothing is then left under zipPath that was not there before).
DWORD WriteDiagnosticsBundle(DiagnosticsRequest request);

// The summary's text as it goes into the archive: UTF-8 with a byte-order
// mark, so every editor opens it in the right encoding.
std::string SummaryFileBytes(const std::wstring& summary);
