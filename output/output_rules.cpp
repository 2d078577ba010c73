#include "output/output_rules.h"

#include <cwchar>
#include <deque>

namespace {

bool IsLowSurrogate(wchar_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

// The last nFit units of text, one fewer when that would start inside a
// surrogate pair.
std::wstring FittingTail(const std::wstring& text, size_t nFit) {
    if (text.size() <= nFit) return text;
    size_t start = text.size() - nFit;
    if (IsLowSurrogate(text[start])) ++start;
    return text.substr(start);
}

// Where each line end of the log stops, as the view shows the text, from a
// stop (or the start) onwards: a "\n" directly followed by the view's own
// "\r\n" is one line end.
void AddLineEndStops(std::wstring_view log, size_t from, std::deque<size_t>& stops) {
    for (size_t i = log.find(L'\n', from); i != std::wstring_view::npos; i = log.find(L'\n', i)) {
        i += log.compare(i + 1, kLogLineBreak.size(), kLogLineBreak) == 0 ? 1 + kLogLineBreak.size() : 1;
        stops.push_back(i);
    }
}

// The trim's decision, given where the log's line ends stop.
AppendPlan PlanAppendOver(std::wstring_view strLog, const std::deque<size_t>& stops, const OutputChunk& chunk,
                          size_t nLimit) {
    AppendPlan plan;
    plan.strAddition = chunk.strText;
    if (!chunk.bEndsWithMarker) plan.strAddition += kLogLineBreak;

    const size_t nAdd = plan.strAddition.size();
    if (strLog.size() + nAdd < nLimit) return plan;

    // Keep what follows the (g_nLogKeepLines + 1)-th line end from the back.
    const size_t nKeep = static_cast<size_t>(g_nLogKeepLines);
    size_t cut = 0, next = 0;  // next: the stop that a further cut would use
    if (stops.size() > nKeep) {
        next = stops.size() - nKeep;
        cut = stops[next - 1];
    }

    // Still too long for the view: drop further whole lines, or everything.
    while (strLog.size() - cut + nAdd > nLimit) {
        if (next >= stops.size()) {
            cut = strLog.size();
            break;
        }
        cut = stops[next++];
    }
    plan.nCut = cut;
    if (nAdd > nLimit) plan.strAddition = FittingTail(plan.strAddition, nLimit);
    return plan;
}

}  // namespace

OutputChunk CleanOutputChunk(std::wstring strChunk) {
    OutputChunk chunk;
    const size_t comma = strChunk.find(L',');
    const size_t from = comma == std::wstring::npos ? 0 : comma + 1;

    const size_t nMarker = kExtraMarker.size();
    chunk.bEndsWithMarker = strChunk.size() - from > nMarker &&
                            std::wstring_view(strChunk).substr(strChunk.size() - nMarker) == kExtraMarker;

    // One pass in place: the text after the comma moves down behind the text
    // kept so far, a run at a time (up to the marker's last unit, or to the
    // end), and a marker that the kept text then ends with is dropped at once,
    // so one that forms where the text around a removed one joins goes too.
    // The marker cannot overlap itself, so this ends exactly as removing its
    // first occurrence again and again would.
    size_t nKept = 0;
    for (size_t i = from; i < strChunk.size();) {
        const size_t last = strChunk.find(kExtraMarker.back(), i);
        const size_t end = last == std::wstring::npos ? strChunk.size() : last + 1;
        if (nKept != i) std::wmemmove(&strChunk[nKept], &strChunk[i], end - i);
        nKept += end - i;
        i = end;
        if (last != std::wstring::npos && nKept >= nMarker &&
            std::wstring_view(strChunk.data() + nKept - nMarker, nMarker) == kExtraMarker)
            nKept -= nMarker;
    }
    strChunk.resize(nKept);
    chunk.strText = std::move(strChunk);
    return chunk;
}

AppendPlan PlanAppend(std::wstring_view strLog, const OutputChunk& chunk, size_t nLimit) {
    std::deque<size_t> stops;
    AddLineEndStops(strLog, 0, stops);
    return PlanAppendOver(strLog, stops, chunk, nLimit);
}

void AppendChunk(LogState& state, const OutputChunk& chunk, size_t nLimit) {
    std::deque<size_t>& stops = state.lineEnds;
    if (state.nLineEndsOf != state.strLogText.size()) {
        stops.clear();
        AddLineEndStops(state.strLogText, 0, stops);
    }
    AppendPlan plan = PlanAppendOver(state.strLogText, stops, chunk, nLimit);
    if (plan.nCut > 0) {
        state.strLogText.erase(0, plan.nCut);
        // A cut ends at a stop or takes everything, so the stops after it stay.
        while (!stops.empty() && stops.front() <= plan.nCut) stops.pop_front();
        for (size_t& stop : stops) stop -= plan.nCut;
        // The view's text that the log still has stands at the log's front.
        const size_t kept = state.nViewLength - state.nViewDrop;
        state.nViewDrop = plan.nCut <= kept ? state.nViewDrop + plan.nCut : state.nViewLength;
    }
    const size_t oldSize = state.strLogText.size();
    state.strLogText += plan.strAddition;
    // A stop depends on the two units after its "\n" at most: those up to two
    // units before the old end stand, the rest is found again from there. So
    // a chunk costs its own length, not the log's.
    while (!stops.empty() && stops.back() + kLogLineBreak.size() > oldSize) stops.pop_back();
    AddLineEndStops(state.strLogText, stops.empty() ? 0 : stops.back(), stops);
    state.nLineEndsOf = state.strLogText.size();
}

ViewUpdate TakeViewUpdate(LogState& state) {
    ViewUpdate update;
    const size_t kept = state.nViewLength - state.nViewDrop;
    update.nDropFront = state.nViewDrop;
    if (kept < state.strLogText.size()) update.strInsert = state.strLogText.substr(kept);
    state.nViewLength = state.strLogText.size();
    state.nViewDrop = 0;
    return update;
}

double FloodSyncIntervalMs(double lastCostMs) {
    // Thirty-two times the cost: the view's updates (and the repaints after
    // them, which cost about as much again) take about a sixteenth of the UI
    // thread, and the rest, with the CPU the readers need, stays with them,
    // however costly the text. Under Wine a shown view laid out afresh costs
    // some 25 ms with its repaint, so a flood that fills it shows two updates
    // a second; one of a few lines at a time (updates of 1 to 3 ms) shows ten
    // or more.
    constexpr double kMinMs = 33, kMaxMs = 500, kCostFactor = 32;
    const double interval = lastCostMs * kCostFactor;
    return interval < kMinMs ? kMinMs : interval > kMaxMs ? kMaxMs : interval;
}

bool FloodSyncDue(FloodPace& pace, double nowMs, size_t nChunks) {
    if (nowMs >= pace.dueAtMs || nChunks == pace.nChunksSeen) return true;
    pace.nChunksSeen = nChunks;
    return false;
}
