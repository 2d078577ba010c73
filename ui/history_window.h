// The history window: the agent's runs read from the journal, newest first,
// a timeline strip above them, why the selected run stopped below, and a
// search over every journal file. One per supervisor, on the UI thread; made
// on first use, gone when closed. Reading and searching run on workers
// (history/history_index.h) that post to it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "history/history_reader.h"

// A run to select once the window has read it: its start (journal time, as
// JournalMsFromFields counts it; the nearest start within 5 s) and its pid.
struct HistorySelection {
    int64_t startMs = 0;
    uint32_t pid = 0;
};

// Shows the window, made when there is none, and brings it forward; with
// select, that run is selected as soon as the window has read it. Its "Save
// diagnostics…" button sends the command to hCommands (the main dialog).
void ShowHistoryWindow(const JournalSource& source, HWND hCommands, const HistorySelection* select = nullptr);
// Ends the window and its workers (at the supervisor's exit).
void CloseHistoryWindow();
// The window, or null.
HWND HistoryWindowHandle();

// The window class, by which tests find the window.
inline constexpr const wchar_t* kHistoryWindowClass = L"QuorvelTollvaneHistory";

// Control ids of the window.
enum HistoryControl : int {
    IDC_HISTORY_SEARCH_LABEL = 1101,
    IDC_HISTORY_SEARCH,
    IDC_HISTORY_FIND,
    IDC_HISTORY_DAY,
    IDC_HISTORY_WEEK,
    IDC_HISTORY_STRIP,
    IDC_HISTORY_RUNS_LABEL,
    IDC_HISTORY_RUNS,
    IDC_HISTORY_HITS_LABEL,
    IDC_HISTORY_HITS,
    IDC_HISTORY_DETAIL_LABEL,
    IDC_HISTORY_DETAIL,
    IDC_HISTORY_STATUS,
    IDC_HISTORY_COPY,
    IDC_HISTORY_SAVE_DIAGNOSTICS,
};
