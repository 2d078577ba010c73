// Text rules of the log view: cleaning a decoded pipe message and keeping the
// log text within the view's limit. No window system here; the sink decodes
// with the platform, applies these under its lock, and the UI thread copies
// the result into the edit control.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

// Line ends kept when the log is trimmed, counted as the view shows them.
constexpr int g_nLogKeepLines = 30;

// The line break the view puts after a chunk.
inline constexpr std::wstring_view kLogLineBreak = L"\r\n";

// The marker the agent's formatter leaves in its text. A constant that needs
// no destruction: readers may still clean a message while the process exits.
inline constexpr std::wstring_view kExtraMarker = L"%!(EXTRA []interface {}=[])";

// One message after cleaning: the text to show, and whether the message ended
// with the marker (such a chunk gets no line break after it).
struct OutputChunk {
    std::wstring strText;
    bool bEndsWithMarker = false;
};

// Drops everything up to and including the first ",", notes whether the
// chunk ends with the marker, then removes the marker until none is left
// (one that forms where the text around a removed one joins goes too), in
// time linear in the chunk.
OutputChunk CleanOutputChunk(std::wstring strChunk);

// What appending one chunk does to the log text: drop its first nCut units,
// then append strAddition (the chunk, its line break, and possibly only the
// part of them that fits).
struct AppendPlan {
    size_t nCut = 0;
    std::wstring strAddition;
};

// Decides the trim for one chunk. The log text is exactly what the view holds,
// line breaks included, so the result never exceeds nLimit: when the log plus
// the addition would reach the limit, the log keeps its last g_nLogKeepLines
// line ends; if that still would not fit, whole lines go from the front, and a
// chunk longer than the limit keeps only its end. A line end is one as the
// view shows it: a "\n" the agent sent and the view's "\r\n" right after it
// end one line, not two.
AppendPlan PlanAppend(std::wstring_view strLog, const OutputChunk& chunk, size_t nLimit);

// The log text and how far the view lags behind it. Trims only drop text
// from the front and chunks only add at the end, so the view catches up by
// dropping its first nViewDrop units and taking the log's tail past what it
// kept.
struct LogState {
    std::wstring strLogText;  // what the view holds once it is brought up to date
    size_t nViewLength = 0;   // length of the view's text
    size_t nViewDrop = 0;     // units at the view's front that the log no longer has
    // Where each line end of strLogText stops, kept by AppendChunk so that a
    // trim costs the chunk's length, not the log's; nLineEndsOf is the length
    // of the text they describe (found afresh when the text was set directly).
    std::deque<size_t> lineEnds;
    size_t nLineEndsOf = 0;
};

// Applies one chunk to the log text and records what the view misses.
void AppendChunk(LogState& state, const OutputChunk& chunk, size_t nLimit);

// The work that brings the view up to date: delete its first nDropFront
// units, then insert strInsert at its end. nDropFront equal to the view's
// whole length means the view starts afresh with strInsert.
struct ViewUpdate {
    size_t nDropFront = 0;
    std::wstring strInsert;
};

// Takes the pending view work; afterwards the state counts the view as current.
ViewUpdate TakeViewUpdate(LogState& state);

inline bool HasViewUpdate(const LogState& state) {
    return state.nViewDrop != 0 || state.nViewLength != state.strLogText.size();
}

// The pace of view syncs while output keeps coming. After a sync that more
// text arrived during, the next one waits for the interval below (about 30
// updates a second, fewer when an update costs more, so the view takes a
// bounded share of the UI thread and of the CPU the readers need), but no
// longer than output keeps coming: a short poll notices a burst's end, so its
// last message never waits out the whole interval.
struct FloodPace {
    double dueAtMs = 0;      // the interval's end; 0: due at once
    size_t nChunksSeen = 0;  // the message count at the previous poll
};

// The interval after a view update that cost lastCostMs.
double FloodSyncIntervalMs(double lastCostMs);

// At a poll: true when the next sync is due (the interval is over, or no
// message came since the previous poll); otherwise notes the count.
bool FloodSyncDue(FloodPace& pace, double nowMs, size_t nChunks);
