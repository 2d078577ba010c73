// The diagnostics bundle: one .zip with this installation's journal files
// and summary.txt. Any thread; it reads files and writes one, and touches no
// window, so the window runs it on a worker and hears of the end by message.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "diagnostics/bundle_rules.h"

struct DiagnosticsRequest {
    std::wstring zipPath;
    std::wstring journalFolder;    // empty: no journal on this system
    std::wstring journalFileName;  // the live file's name, from JournalFileName
    // What the window knows: versions, DPI, the agent's path, how it is
    // held, the runs. The agent file's facts, the system's and the journal's
    // last lines are filled in here.
    DiagnosticsFacts facts;
    // The runs, newest first, read from the journal's files on the writing
    // thread; false when they cannot be told. Empty: not known.
    std::function<bool(const std::wstring& folder, const std::wstring& fileName,
                       std::vector<BundleRun>& runs)>
        readRuns;
};

// Writes the bundle; 0, or the system's error when no bundle was written
// (nothing is then left under zipPath that was not there before).
DWORD WriteDiagnosticsBundle(DiagnosticsRequest request);

// Writes the bundle on a thread of its own, which posts message to hWnd with
// the result as wParam when it is done. False when the thread did not start
// (nothing is posted then).
bool StartDiagnosticsBundle(DiagnosticsRequest request, HWND hWnd, UINT message);

// The summary's text as it goes into the archive: UTF-8 with a byte-order
// mark, so every editor opens it in the right encoding.
std::string SummaryFileBytes(const std::wstring& summary);
