#include "output/output_rules.h"

#include <gtest/gtest.h>

#include <chrono>
#include <type_traits>
#include <random>
#include <string>
#include <vector>

namespace {

const std::wstring kMarker = L"%!(EXTRA []interface {}=[])";
constexpr size_t kBigLimit = 30000;

// What one message adds to an empty log, with room to spare.
std::wstring Shown(const std::wstring& received) {
    return PlanAppend(L"", CleanOutputChunk(received), kBigLimit).strAddition;
}

std::wstring Lines(int count, const std::wstring& stem, const std::wstring& end) {
    std::wstring text;
    for (int i = 0; i < count; ++i) text += stem + std::to_wstring(i) + end;
    return text;
}

size_t CountOf(const std::wstring& text, wchar_t ch) {
    size_t n = 0;
    for (wchar_t c : text) n += c == ch;
    return n;
}

TEST(OutputRulesTest, ChunksAreCutAfterTheFirstCommaAndClearedOfTheMarker) {
    const std::wstring M = kMarker;
    struct Row {
        std::wstring received, shown;
    } rows[] = {
        {L"abc", L"abc\r\n"},
        {L"INFO,hello", L"hello\r\n"},
        {L"a,b,c", L"b,c\r\n"},
        {L",x", L"x\r\n"},
        {L"x,", L"\r\n"},
        {L"done\n" + M, L"done\n"},
        {M, L"\r\n"},
        {L"ab" + M + L"cd", L"abcd\r\n"},
        {L"ab" + M + M, L"ab"},
        {L"x,abc" + M, L"abc"},
        {M.substr(0, 9) + M + M.substr(9), L"\r\n"},
        {L"", L"\r\n"},
        {L"a\nb\r\nc", L"a\nb\r\nc\r\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Shown(row.received), row.shown) << "received: " << row.received.size();
}

TEST(OutputRulesTest, TrimKeepsTheLastThirtyLines) {
    LogState state;
    state.strLogText = Lines(40, L"line ", L"\r\n");
    state.nViewLength = state.strLogText.size();
    const size_t limit = state.strLogText.size() + 5;

    AppendChunk(state, CleanOutputChunk(L"T,next"), limit);

    EXPECT_EQ(state.strLogText,
              Lines(40, L"line ", L"\r\n").substr(Lines(10, L"line ", L"\r\n").size()) + L"next\r\n");
    EXPECT_EQ(CountOf(state.strLogText, L'\n'), 31u);
    // The view drops the ten oldest lines and takes the new one.
    ViewUpdate update = TakeViewUpdate(state);
    EXPECT_EQ(update.nDropFront, Lines(10, L"line ", L"\r\n").size());
    EXPECT_EQ(update.strInsert, L"next\r\n");
    EXPECT_FALSE(HasViewUpdate(state));
}

TEST(OutputRulesTest, MessagesEndingInTheirOwnLineEndCountOnceInATrim) {
    // Forty messages "line i\n": the view shows each as "line i\n\r\n", one line.
    LogState state;
    state.strLogText = Lines(40, L"line ", L"\n\r\n");
    const size_t limit = state.strLogText.size() + 5;
    AppendChunk(state, CleanOutputChunk(L"T,next"), limit);
    EXPECT_EQ(state.strLogText,
              Lines(40, L"line ", L"\n\r\n").substr(Lines(10, L"line ", L"\n\r\n").size()) + L"next\r\n");

    // Mixed ends: an agent's "\r\n" before the view's, a lone "\n" inside a
    // message, an empty message after a "\n"; the trim never splits one.
    const std::wstring log =
        Lines(5, L"a", L"\r\n\r\n") + L"x\n\r\n\r\n" + Lines(27, L"b", L"\r\n") + L"in\nside\r\n";
    const AppendPlan plan = PlanAppend(log, CleanOutputChunk(L"z"), log.size() + 2);
    EXPECT_EQ(log.substr(plan.nCut), L"\r\n" + Lines(27, L"b", L"\r\n") + L"in\nside\r\n");
}

// What the cleaning has always done: cut after the first comma, remove the
// first marker, search again from the start.
std::wstring RemoveMarkersOneByOne(std::wstring text) {
    const size_t comma = text.find(L',');
    if (comma != std::wstring::npos) text.erase(0, comma + 1);
    for (size_t pos = text.find(kMarker); pos != std::wstring::npos; pos = text.find(kMarker))
        text.erase(pos, kMarker.size());
    return text;
}

TEST(OutputRulesTest, MarkerRemovalEndsAsRemovingTheFirstMarkerAgainAndAgain) {
    static_assert(std::is_trivially_destructible_v<decltype(kExtraMarker)>, "no destruction at exit");
    EXPECT_EQ(kExtraMarker, kMarker);
    std::mt19937 rng(7);
    const std::wstring pieces[] = {kMarker,
                                   kMarker.substr(0, 1),
                                   kMarker.substr(0, 9),
                                   kMarker.substr(9),
                                   kMarker.substr(26),
                                   L")",
                                   L"x",
                                   L"]",
                                   L",",
                                   L"%!("};
    for (int i = 0; i < 20000; ++i) {
        std::wstring text;
        const int count = std::uniform_int_distribution<int>(0, 12)(rng);
        for (int k = 0; k < count; ++k)
            text += pieces[std::uniform_int_distribution<size_t>(0, std::size(pieces) - 1)(rng)];
        ASSERT_EQ(CleanOutputChunk(text).strText, RemoveMarkersOneByOne(text)) << i;
    }
}

TEST(OutputRulesTest, AMessageOfMarkersIsCleanedInLinearTime) {
    // 4 MiB of nested markers: each removal completes the one around it.
    std::wstring text;
    for (size_t depth = 0; text.size() < (4u << 20); depth = (depth + 1) % 64) {
        std::wstring nested = kMarker;
        for (size_t k = 0; k < depth; ++k) nested.insert(9, kMarker);
        text += nested;
    }
    const auto start = std::chrono::steady_clock::now();
    const OutputChunk chunk = CleanOutputChunk(L"I," + text + L"tail");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(chunk.strText, L"tail");
    // Removing and searching again from the start took minutes here.
    EXPECT_LT(seconds, 5.0);
}

TEST(OutputRulesTest, TrimStartsWhenTheViewWouldReachTheLimitCountingItsLineBreaks) {
    const std::wstring log = Lines(40, L"l", L"\n");
    // "ab" plus the view's line break: one unit short of the limit, then exactly at it.
    EXPECT_EQ(PlanAppend(log, CleanOutputChunk(L"ab"), log.size() + 5).nCut, 0u);
    EXPECT_EQ(PlanAppend(log, CleanOutputChunk(L"ab"), log.size() + 4).nCut, Lines(10, L"l", L"\n").size());
    // A chunk ending with the marker adds no line break.
    EXPECT_EQ(PlanAppend(log, CleanOutputChunk(L"ab" + kMarker), log.size() + 3).nCut, 0u);
}

TEST(OutputRulesTest, LinesGoFromTheFrontUntilTheChunkFits) {
    // Thirty long lines cannot all stay: whole lines are dropped until it fits.
    const std::wstring line(100, L'w');
    LogState state;
    state.strLogText = Lines(30, line, L"\r\n");
    AppendChunk(state, CleanOutputChunk(std::wstring(250, L'c')), 1000);
    EXPECT_LE(state.strLogText.size(), 1000u);
    EXPECT_EQ(state.strLogText.substr(0, line.size() + 2), line + L"23");
    EXPECT_EQ(state.strLogText.substr(state.strLogText.size() - 252), std::wstring(250, L'c') + L"\r\n");

    // A log without any line end is dropped whole.
    state = LogState{};
    state.strLogText = std::wstring(900, L'n');
    AppendChunk(state, CleanOutputChunk(L"tail" + kMarker), 902);
    EXPECT_EQ(state.strLogText, L"tail");
}

TEST(OutputRulesTest, ChunkLongerThanTheLimitShowsItsEnd) {
    LogState state;
    state.strLogText = L"old\r\n";
    std::wstring longChunk(50, L'a');
    longChunk += L"z";
    AppendChunk(state, CleanOutputChunk(longChunk), 20);
    EXPECT_EQ(state.strLogText, std::wstring(17, L'a') + L"z\r\n");

    // Never start the text with the second half of a surrogate pair.
    std::wstring pairs;
    for (int i = 0; i < 20; ++i) pairs += std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)});
    state = LogState{};
    AppendChunk(state, CleanOutputChunk(pairs), 11);  // 9 units of chunk room: odd
    EXPECT_EQ(state.strLogText.size(), 10u);
    EXPECT_EQ(state.strLogText[0], wchar_t(0xD83D));
}

TEST(OutputRulesTest, AgentWithoutLineEndsKeepsTheLogBoundedToThirtyLines) {
    LogState state;
    const std::wstring chunk = L"I," + std::wstring(99, L'x');
    int trims = 0;
    for (int i = 0; i < 10000; ++i) {
        const size_t before = state.strLogText.size();
        AppendChunk(state, CleanOutputChunk(chunk), kBigLimit);
        ASSERT_LE(state.strLogText.size(), kBigLimit);
        // Every line is 101 units; a trim leaves the last thirty and the new one.
        if (state.strLogText.size() < before) {
            ++trims;
            ASSERT_EQ(CountOf(state.strLogText, L'\n'), 31u) << "after append " << i;
        }
    }
    EXPECT_GT(trims, 30);
    EXPECT_LE(CountOf(state.strLogText, L'\n'), kBigLimit / 101);
    EXPECT_EQ(state.strLogText.substr(state.strLogText.size() - 101), std::wstring(99, L'x') + L"\r\n");
    EXPECT_EQ(state.strLogText.substr(0, 99), std::wstring(99, L'x'));
}

// ---- Batching: chunks drained together end as one-by-one appends do ----

// The edit control as measured: an insert at the end keeps only what fits
// under the limit, a full reset takes any length.
struct SimulatedView {
    std::wstring strText;
    size_t nLimit;
    void Insert(const std::wstring& text) {
        const size_t room = strText.size() < nLimit ? nLimit - strText.size() : 0;
        strText += text.substr(0, room);
    }
    void Apply(const ViewUpdate& update) {
        ASSERT_LE(update.nDropFront, strText.size());
        strText.erase(0, update.nDropFront);
        Insert(update.strInsert);
    }
};

std::wstring RandomChunk(std::mt19937& rng) {
    static const std::wstring pieces[] = {
        L"a",
        L"word ",
        L",",
        L"INFO,",
        L"\n",
        L"\r\n",
        L"\r",  // with "\n" and the marker, line ends that form across chunks
        kMarker,
        kMarker.substr(0, 9),
        kMarker.substr(9),
        std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)}),
        L"\x4F60",
        std::wstring(120, L'L'),
    };
    std::wstring chunk;
    const int count = std::uniform_int_distribution<int>(0, 8)(rng);
    for (int i = 0; i < count; ++i)
        chunk += pieces[std::uniform_int_distribution<size_t>(0, std::size(pieces) - 1)(rng)];
    if (std::uniform_int_distribution<int>(0, 60)(rng) == 0) chunk += std::wstring(700, L'B');
    return chunk;
}

TEST(OutputRulesTest, BatchedViewUpdatesMatchOneByOneAppends) {
    std::mt19937 rng(20261208);
    for (size_t limit : {1u, 2u, 7u, 64u, 300u, 2000u, 30000u}) {
        for (int round = 0; round < 40; ++round) {
            // One by one, as the classic sequence: reset the view to the
            // trimmed log, then insert the chunk and its line break.
            std::wstring log;
            SimulatedView single{L"", limit};
            // Batched: the sink's state, drained at random moments.
            LogState state;
            SimulatedView batched{L"", limit};
            for (int i = 0; i < 200; ++i) {
                const OutputChunk chunk = CleanOutputChunk(RandomChunk(rng));
                const AppendPlan plan = PlanAppend(log, chunk, limit);
                if (plan.nCut > 0) {
                    log.erase(0, plan.nCut);
                    single.strText = log;
                }
                log += plan.strAddition;
                single.Insert(plan.strAddition);

                AppendChunk(state, chunk, limit);
                ASSERT_EQ(state.strLogText, log);
                ASSERT_EQ(single.strText, log) << "an insert reached the limit " << limit;
                if (std::uniform_int_distribution<int>(0, 9)(rng) == 0) batched.Apply(TakeViewUpdate(state));
            }
            batched.Apply(TakeViewUpdate(state));
            ASSERT_EQ(batched.strText, single.strText);
            ASSERT_FALSE(HasViewUpdate(state));
        }
    }
}

TEST(OutputRulesTest, RandomInputKeepsTheLogWithinTheLimitAndEndingWithTheLastChunk) {
    std::mt19937 rng(4242);
    for (size_t limit : {3u, 50u, 500u, 30000u}) {
        LogState state;
        SimulatedView view{L"", limit};
        for (int i = 0; i < 3000; ++i) {
            std::wstring text;
            for (size_t n = std::uniform_int_distribution<size_t>(0, 300)(rng); text.size() < n;) {
                const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
                if (pick < 3)
                    text +=
                        L"ab,\n%!(EXTRA []interface {}=[])"[std::uniform_int_distribution<int>(0, 31)(rng)];
                else if (pick == 3)
                    text += std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)});
                else
                    text += static_cast<wchar_t>(std::uniform_int_distribution<int>(1, 0xD7FF)(rng));
            }
            if (i % 97 == 0) text += std::wstring(5000, L'q');
            const OutputChunk chunk = CleanOutputChunk(text);
            std::wstring expectedEnd = chunk.strText + (chunk.bEndsWithMarker ? L"" : L"\r\n");
            AppendChunk(state, chunk, limit);
            ASSERT_LE(state.strLogText.size(), limit);
            if (expectedEnd.size() > limit) expectedEnd = expectedEnd.substr(expectedEnd.size() - limit + 1);
            ASSERT_GE(state.strLogText.size(), expectedEnd.size());
            ASSERT_EQ(state.strLogText.compare(state.strLogText.size() - expectedEnd.size(),
                                               expectedEnd.size(), expectedEnd),
                      0);
            if (i % 5 == 0) {
                view.Apply(TakeViewUpdate(state));
                ASSERT_EQ(view.strText, state.strLogText);
            }
        }
    }
}

}  // namespace

TEST(OutputRulesTest, AFloodSyncComesWhenItsIntervalIsOverOrOutputGoesQuiet) {
    EXPECT_EQ(FloodSyncIntervalMs(1), 33);      // about 30 updates a second at most
    EXPECT_EQ(FloodSyncIntervalMs(10), 320);    // a costly update waits longer
    EXPECT_EQ(FloodSyncIntervalMs(1000), 500);  // but never for ever

    FloodPace pace{100, 5};
    EXPECT_FALSE(FloodSyncDue(pace, 20, 9));  // output keeps coming
    EXPECT_FALSE(FloodSyncDue(pace, 30, 12));
    EXPECT_TRUE(FloodSyncDue(pace, 40, 12));  // nothing new since the last poll: the burst ended

    FloodPace steady{100, 5};
    for (double now = 10; now < 100; now += 10) EXPECT_FALSE(FloodSyncDue(steady, now, 5 + size_t(now)));
    EXPECT_TRUE(FloodSyncDue(steady, 100, 500));  // a steady flood still gets its update

    FloodPace atOnce{0, 5};  // held back for input only
    EXPECT_TRUE(FloodSyncDue(atOnce, 1, 6));
}
