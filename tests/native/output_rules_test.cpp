#include "agent/output_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

const std::wstring kMarker = L"%!(EXTRA []interface {}=[])";
constexpr size_t kBigLimit = 30000;

std::wstring Decode(const std::string& bytes) { return Utf8ToWide(bytes.data(), bytes.size()); }

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

TEST(OutputRulesTest, Utf8IsDecodedUpToTheFirstZeroByte) {
    EXPECT_EQ(Decode("plain"), L"plain");
    EXPECT_EQ(Decode("\xE4\xBD\xA0\xE5\xA5\xBD"), L"\x4F60\x597D");
    EXPECT_EQ(Decode("\xF0\x9F\x98\x80"), std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)}));
    EXPECT_EQ(Decode("\xC3\xA9"), L"\xE9");
    EXPECT_EQ(Decode(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(Decode(std::string("\0cd", 3)), L"");
    EXPECT_EQ(Utf8ToWide("abcdef", 3), L"abc");
    EXPECT_EQ(Utf8ToWide(nullptr, 5), L"");
}

TEST(OutputRulesTest, IllFormedUtf8BecomesOneReplacementPerBrokenPart) {
    const wchar_t R = 0xFFFD;
    EXPECT_EQ(Decode("a\x80z"), std::wstring({L'a', R, L'z'}));
    EXPECT_EQ(Decode("\xC0\x80"), std::wstring({R, R}));  // overlong zero
    // A lead whose first continuation is out of its range is replaced with it.
    EXPECT_EQ(Decode("\xE0\x80\x80"), std::wstring({R, R}));         // overlong
    EXPECT_EQ(Decode("\xED\xA0\x80"), std::wstring({R, R}));         // encoded surrogate
    EXPECT_EQ(Decode("\xF4\x90\x80\x80"), std::wstring({R, R, R}));  // past U+10FFFF
    EXPECT_EQ(Decode("\xF0\x80z"), std::wstring({R, L'z'}));
    EXPECT_EQ(Decode("\xF5\xFF"), std::wstring({R, R}));
    EXPECT_EQ(Decode("\xE4\xB8z"), std::wstring({R, L'z'}));  // cut-off sequence
    EXPECT_EQ(Decode("\xF0\x9F\x98"), std::wstring({R}));
    // As the platform: a lead too close to the end takes the rest of the text.
    EXPECT_EQ(Decode("a\xF4\x7F"), std::wstring({L'a', R}));
    EXPECT_EQ(Decode("\xE4\xB8\xADz\xF0\x9F"), std::wstring({L'\x4E2D', L'z', R}));
    // A character split over two messages is not joined.
    EXPECT_EQ(Decode("x\xE4"), std::wstring({L'x', R}));
    EXPECT_EQ(Decode("\xB8\xADy"), std::wstring({R, R, L'y'}));
    // A zero byte inside a sequence ends both.
    EXPECT_EQ(Decode(std::string("\xE4\0\xAD", 3)), std::wstring({R}));
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
            std::string bytes(std::uniform_int_distribution<size_t>(0, 300)(rng), '\0');
            for (char& b : bytes) {
                const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
                b = pick < 3
                        ? "ab,\n%!(EXTRA []interface {}=[])"[std::uniform_int_distribution<int>(0, 31)(rng)]
                        : static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
            }
            if (i % 97 == 0) bytes += std::string(5000, 'q');
            const std::wstring text = Decode(bytes);
            for (size_t k = 0; k < text.size(); ++k) {
                ASSERT_NE(text[k], L'\0');
                if (text[k] >= 0xD800 && text[k] <= 0xDBFF) {
                    ASSERT_TRUE(k + 1 < text.size() && text[k + 1] >= 0xDC00 && text[k + 1] <= 0xDFFF);
                }
            }
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
