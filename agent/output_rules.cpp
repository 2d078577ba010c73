#include "agent/output_rules.h"

#include <cstdint>

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& out, uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<wchar_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    }
}

bool IsLowSurrogate(wchar_t ch) { return ch >= 0xDC00 && ch <= 0xDFFF; }

// The last nFit units of text, one fewer when that would start inside a
// surrogate pair.
std::wstring FittingTail(const std::wstring& text, size_t nFit) {
    if (text.size() <= nFit) return text;
    size_t start = text.size() - nFit;
    if (IsLowSurrogate(text[start])) ++start;
    return text.substr(start);
}

}  // namespace

std::wstring Utf8ToWide(const char* pBytes, size_t nLength) {
    std::wstring out;
    if (pBytes == nullptr) return out;
    const auto* s = reinterpret_cast<const unsigned char*>(pBytes);
    size_t end = 0;
    while (end < nLength && s[end] != 0) ++end;
    out.reserve(end);
    size_t i = 0;
    while (i < end) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        // Number of continuation bytes, the lead's payload, and the range the
        // first continuation byte must fall in (excludes overlong forms,
        // surrogates and code points past U+10FFFF).
        int need = 0;
        uint32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            cp = lead & 0x07;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        // The platform counts the terminating zero as available input: a lead
        // that needs more bytes than that replaces the rest of the text.
        if (static_cast<size_t>(need) > end - i) {
            out.push_back(kReplacement);
            break;
        }
        size_t j = i + 1;
        int got = 0;
        // A continuation byte outside the narrow first range (an overlong
        // form, a surrogate, past U+10FFFF) is replaced together with the lead.
        if (j < end && s[j] >= 0x80 && s[j] <= 0xBF && (s[j] < lo || s[j] > hi)) {
            out.push_back(kReplacement);
            i = j + 1;
            continue;
        }
        while (got < need && j < end && s[j] >= lo && s[j] <= hi) {
            cp = (cp << 6) | (s[j] & 0x3F);
            ++j;
            ++got;
            lo = 0x80;
            hi = 0xBF;
        }
        // A cut-off or broken sequence is replaced as a whole; the byte that
        // broke it starts the next one.
        if (got < need)
            out.push_back(kReplacement);
        else
            AppendCodePoint(out, cp);
        i = j;
    }
    return out;
}

OutputChunk CleanOutputChunk(std::wstring strChunk) {
    // A function-local static: its first-use construction is thread-safe.
    static const std::wstring s_strExtraMarker = L"%!(EXTRA []interface {}=[])";

    OutputChunk chunk;
    const size_t comma = strChunk.find(L',');
    if (comma != std::wstring::npos) strChunk.erase(0, comma + 1);

    const size_t nMarker = s_strExtraMarker.size();
    chunk.bEndsWithMarker = strChunk.size() > nMarker &&
                            strChunk.compare(strChunk.size() - nMarker, nMarker, s_strExtraMarker) == 0;

    // Searching again from the start after every removal also removes a
    // marker that forms where the text around a removed one joins.
    for (size_t pos = strChunk.find(s_strExtraMarker); pos != std::wstring::npos;
         pos = strChunk.find(s_strExtraMarker)) {
        strChunk.erase(pos, nMarker);
    }
    chunk.strText = std::move(strChunk);
    return chunk;
}

AppendPlan PlanAppend(std::wstring_view strLog, const OutputChunk& chunk, size_t nLimit) {
    AppendPlan plan;
    plan.strAddition = chunk.strText;
    if (!chunk.bEndsWithMarker) plan.strAddition += kLogLineBreak;

    const size_t nAdd = plan.strAddition.size();
    if (strLog.size() + nAdd < nLimit) return plan;

    // Keep what follows the (g_nLogKeepLines + 1)-th line end from the back.
    size_t h = strLog.rfind(L'\n');
    for (int i = 0; i < g_nLogKeepLines && h != std::wstring_view::npos; ++i)
        h = h == 0 ? std::wstring_view::npos : strLog.rfind(L'\n', h - 1);
    size_t cut = h == std::wstring_view::npos ? 0 : h + 1;

    // Still too long for the view: drop further whole lines, or everything.
    while (strLog.size() - cut + nAdd > nLimit) {
        const size_t next = strLog.find(L'\n', cut);
        if (next == std::wstring_view::npos) {
            cut = strLog.size();
            break;
        }
        cut = next + 1;
    }
    plan.nCut = cut;
    if (nAdd > nLimit) plan.strAddition = FittingTail(plan.strAddition, nLimit);
    return plan;
}

void AppendChunk(LogState& state, const OutputChunk& chunk, size_t nLimit) {
    AppendPlan plan = PlanAppend(state.strLogText, chunk, nLimit);
    if (plan.nCut > 0) {
        state.strLogText.erase(0, plan.nCut);
        // The view's text that the log still has stands at the log's front.
        const size_t kept = state.nViewLength - state.nViewDrop;
        state.nViewDrop = plan.nCut <= kept ? state.nViewDrop + plan.nCut : state.nViewLength;
    }
    state.strLogText += plan.strAddition;
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
