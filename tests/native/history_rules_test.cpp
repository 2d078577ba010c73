#include "history/history_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "2026-12-08 hh:mm:ss.mmm [source] text\r\n"
std::string Entry(const char* time, const char* source, const std::string& text) {
    return std::string("2026-12-08 ") + time + " [" + source + "] " + text + "\r\n";
}
std::string Sup(const char* time, const std::string& text) { return Entry(time, "supervisor", text); }
std::string Out(const char* time, const std::string& text) { return Entry(time, "agent", text); }

int64_t At(int h, int m, int s, int ms = 0) { return JournalMsFromFields(2026, 12, 8, h, m, s, ms); }

// Files newest first, each fed whole.
AgentHistory Build(const std::vector<std::string>& files) {
    CHistoryBuilder builder;
    for (size_t i = 0; i < files.size(); ++i) {
        builder.BeginFile(static_cast<uint32_t>(i));
        builder.Feed(files[i], 0);
        builder.EndFile();
    }
    builder.Finish();
    return builder.History();
}

TEST(HistoryRules, EveryWayARunEndsNewestFirstWithExactTimes) {
    const std::string journal =
        Sup("01:00:00.000", "supervisor started: version 1.6.0, 64-bit, agent C:\\A\\bin\\Tollvane.exe") +
        Sup("01:00:00.100", "agent started: pid 10") + Out("01:00:01.000", "hello") +
        Out("01:00:02.000", "bye") + Sup("01:00:03.500", "agent exited: code 0 (0x00000000), ran 3.400 s") +
        Sup("01:00:04.000", "agent started: pid 11") +
        Sup("01:10:04.000", "agent exited: code 3221225477 (0xC0000005, access violation), ran 600.000 s") +
        Sup("01:10:04.100", "launch failed: The system cannot find the file specified. (error 2)") +
        Sup("02:00:00.000", "agent started: pid 12") + Sup("02:30:00.000", "Stop by the user") +
        Sup("02:30:00.430", "asked to end (Ctrl+C, close); ended by itself after 0.43 s") +
        Sup("02:30:00.431", "agent exited: code 1 (0x00000001), ran 1800.431 s") +
        Sup("03:00:00.000", "agent started: pid 13") + Sup("03:05:00.000", "Restart by the user") +
        Sup("03:05:02.000", "did not end within 2 s; ended by force") +
        Sup("03:05:02.010", "agent exited: code 0 (0x00000000), ran 302.010 s") +
        Sup("03:05:02.100", "agent started: pid 14") + Sup("04:00:00.000", "session ending") +
        Sup("04:00:00.200", "supervisor exiting") + Sup("05:00:00.000", "supervisor started: version 1.6.0") +
        Sup("05:00:00.100", "agent started: pid 15") + Out("05:20:00.000", "last words before the loss") +
        Sup("06:00:00.000", "supervisor started: version 1.6.0") +
        Sup("06:00:00.100", "agent started: pid 16") + Out("06:00:05.000", "up");
    const AgentHistory h = Build({journal});
    ASSERT_EQ(h.runs.size(), 8u);
    const struct {
        uint32_t pid;
        RunEnd end;
        int64_t startMs, endMs;
        uint32_t lines;
    } want[] = {
        {16, RunEnd::Running, At(6, 0, 0, 100), At(6, 0, 5), 1},
        {15, RunEnd::EndedWithSupervisor, At(5, 0, 0, 100), At(5, 20, 0), 1},
        {14, RunEnd::EndedWithSession, At(3, 5, 2, 100), At(4, 0, 0, 200), 0},
        {13, RunEnd::Forced, At(3, 0, 0), At(3, 5, 2, 10), 0},
        {12, RunEnd::AskedEndedByItself, At(2, 0, 0), At(2, 30, 0, 431), 0},
        {0, RunEnd::LaunchFailed, At(1, 10, 4, 100), At(1, 10, 4, 100), 0},
        {11, RunEnd::ExitedByItself, At(1, 0, 4), At(1, 10, 4), 0},
        {10, RunEnd::ExitedByItself, At(1, 0, 0, 100), At(1, 0, 3, 500), 2},
    };
    for (size_t i = 0; i < h.runs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h.runs[i].pid, want[i].pid);
        EXPECT_EQ(h.runs[i].end, want[i].end);
        EXPECT_EQ(h.runs[i].startMs, want[i].startMs);
        EXPECT_EQ(h.runs[i].endMs, want[i].endMs);
        EXPECT_EQ(h.runs[i].lines, want[i].lines);
    }
    EXPECT_EQ(DescribeRunEnd(h.runs[6], h.TextOf(h.runs[6])),
              L"exited by itself: code 3221225477 (0xC0000005, access violation)");
    EXPECT_EQ(DescribeRunEnd(h.runs[5], h.TextOf(h.runs[5])),
              L"launch failed: The system cannot find the file specified. (error 2)");
    EXPECT_EQ(DescribeRunEnd(h.runs[4], h.TextOf(h.runs[4])),
              L"asked to end (Stop), ended by itself: code 1 (0x00000001)");
    EXPECT_EQ(DescribeRunEnd(h.runs[3], h.TextOf(h.runs[3])), L"ended by force (Restart)");
    EXPECT_EQ(h.runs[6].RunMs(), 600000);
    // The places lead back to the lines: the exit line of run 10 is the fifth line.
    EXPECT_EQ(h.runs[7].endAt.Offset(), journal.find("2026-12-08 01:00:03.500"));
    EXPECT_EQ(h.runs[7].startAt.Offset(), journal.find("2026-12-08 01:00:00.100"));
    EXPECT_EQ(h.counts.unknownLines, 0u);
}

TEST(HistoryRules, ARunAcrossThreeFilesIsOneRunAndARotationDropsNothing) {
    const std::string oldest = Sup("01:00:00.000", "agent started: pid 20") + Out("01:00:01.000", "a");
    const std::string middle = Out("02:00:00.000", "b") + Out("02:00:01.000", "c");
    const std::string live =
        Out("03:00:00.000", "d") + Sup("03:00:01.000", "Stop by the user") +
        Sup("03:00:01.500", "asked to end (Ctrl+C, close); ended by itself after 0.50 s") +
        Sup("03:00:01.600", "agent exited: code 0 (0x00000000), ran 7201.6 s") +
        Sup("03:10:00.000", "Start by the user") + Sup("03:10:00.100", "agent started: pid 21");
    const AgentHistory h = Build({live, middle, oldest});
    ASSERT_EQ(h.runs.size(), 2u);
    EXPECT_EQ(h.runs[0].pid, 21u);
    EXPECT_EQ(h.runs[0].end, RunEnd::Running);
    const AgentRun& r = h.runs[1];
    EXPECT_EQ(r.pid, 20u);
    EXPECT_EQ(r.end, RunEnd::AskedEndedByItself);
    EXPECT_EQ(r.startMs, At(1, 0, 0));
    EXPECT_EQ(r.endMs, At(3, 0, 1, 600));
    EXPECT_EQ(r.lines, 4u);
    EXPECT_EQ(r.startAt.File(), 2u);
    EXPECT_EQ(r.endAt.File(), 0u);
    EXPECT_EQ(h.counts.files, 3u);

    // Asked in the older file, its exit line in the newer one.
    const AgentHistory split =
        Build({Sup("01:00:02.000", "agent exited: code 5 (0x00000005), ran 2 s"),
               Sup("01:00:00.000", "agent started: pid 7") + Sup("01:00:01.000", "Exit by the user") +
                   Sup("01:00:01.900", "did not end within 2 s; ended by force")});
    ASSERT_EQ(split.runs.size(), 1u);
    EXPECT_EQ(split.runs[0].end, RunEnd::Forced);
    EXPECT_EQ(split.runs[0].cause, RunCause::Exit);
    EXPECT_EQ(split.runs[0].code, 5u);
}

TEST(HistoryRules, UnknownAndCutLinesAreCountedAndAnEmptyJournalHasNoRuns) {
    const std::string text = Sup("01:00:00.000", "agent started: pid 3") + "garbage without a time\r\n" +
                             Out("01:00:01.000", "first\r\n  second line of the same entry") +
                             Sup("01:00:01.500", "a line this reader does not know") + "2026-12-08 01:0";
    const AgentHistory h = Build({text});
    ASSERT_EQ(h.runs.size(), 1u);
    EXPECT_EQ(h.runs[0].lines, 1u);
    EXPECT_EQ(h.runs[0].endMs, At(1, 0, 1));
    EXPECT_EQ(h.counts.unknownLines, 2u);  // the garbage and the cut last line
    EXPECT_EQ(h.counts.lines, 6u);

    EXPECT_TRUE(Build({}).runs.empty());
    const AgentHistory empty = Build({"", ""});
    EXPECT_TRUE(empty.runs.empty());
    EXPECT_EQ(empty.counts.files, 2u);
    // A run whose start was rotated away keeps its end, with no start.
    const AgentHistory orphan =
        Build({Out("01:00:00.000", "x") + Sup("01:00:01.000", "agent exited: code 0 (0x00000000), ran 9 s")});
    ASSERT_EQ(orphan.runs.size(), 1u);
    EXPECT_EQ(orphan.runs[0].startMs, 0);
    EXPECT_EQ(orphan.runs[0].RunMs(), 0);
    EXPECT_EQ(orphan.runs[0].end, RunEnd::ExitedByItself);
}

TEST(HistoryRules, LinesWrittenLaterEndTheRunningRunAndAddNewOnesInFront) {
    CHistoryBuilder builder;
    const std::string first = Sup("01:00:00.000", "agent started: pid 1");
    builder.BeginFile(0);
    builder.Feed(first, 0);
    builder.EndFile();
    builder.Finish();
    const std::string more = Out("01:00:01.000", "x") +
                             Sup("01:00:02.000", "agent exited: code 2 (0x00000002), ran 2 s") +
                             Sup("01:00:03.000", "agent started: pid 2");
    EXPECT_EQ(builder.FeedNewest(0, more, first.size()), 1u);
    const AgentHistory& h = builder.History();
    ASSERT_EQ(h.runs.size(), 2u);
    EXPECT_EQ(h.runs[0].pid, 2u);
    EXPECT_EQ(h.runs[0].end, RunEnd::Running);
    EXPECT_EQ(h.runs[1].end, RunEnd::ExitedByItself);
    EXPECT_EQ(h.runs[1].lines, 1u);
    EXPECT_EQ(h.runs[1].endAt.Offset(), first.size() + more.find("2026-12-08 01:00:02"));
}

TEST(HistoryRules, SearchIsCaseBlindPlainTextNewestFirstAndStopsAtItsBound) {
    EXPECT_EQ(CTextFinder(L"ERROR").Find("an Error here"), 3u);
    EXPECT_EQ(CTextFinder(L"error").Find("an errorr"), 3u);
    EXPECT_EQ(CTextFinder(L"a.b").Find("axb a.b"), 4u);  // plain text, no patterns
    EXPECT_EQ(CTextFinder(L"x").Find("abc"), std::string_view::npos);
    EXPECT_EQ(CTextFinder(L"连接").Find("xx 连接失败"), 3u);
    EXPECT_EQ(CTextFinder(L"ОШИБКА").Find("line1\nошибка сети"), 6u);  // Cyrillic folds too
    EXPECT_TRUE(CTextFinder(L"").Empty());

    const std::string piece = Out("01:00:00.000", "disk Full") + Out("01:00:01.000", "ok") +
                              Out("01:00:02.000", "first\n  again full") + Out("01:00:03.000", "FULL full");
    std::vector<SearchHit> hits;
    EXPECT_TRUE(FindHitsNewestFirst(CTextFinder(L"full"), piece, 4, 100, hits));
    ASSERT_EQ(hits.size(), 3u);  // one per line
    EXPECT_EQ(hits[0].ms, At(1, 0, 3));
    EXPECT_EQ(hits[1].ms, At(1, 0, 2));  // a continuation line has its entry's time
    EXPECT_EQ(hits[1].text, L"  again full");
    EXPECT_EQ(hits[2].at.File(), 4u);
    EXPECT_EQ(hits[2].at.Offset(), 100u);
    std::vector<SearchHit> bounded;
    EXPECT_FALSE(FindHitsNewestFirst(CTextFinder(L"full"), piece, 0, 0, bounded, 2));
    ASSERT_EQ(bounded.size(), 2u);
    EXPECT_EQ(bounded[0].ms, At(1, 0, 3));

    std::vector<AgentRun> runs(2);
    runs[0].startMs = At(2, 0, 0);
    runs[0].end = RunEnd::Running;
    runs[1].startMs = At(1, 0, 0);
    runs[1].endMs = At(1, 30, 0);
    runs[1].end = RunEnd::ExitedByItself;
    runs[1].pid = 9;
    EXPECT_EQ(RunAtTime(runs, At(1, 10, 0)), 1);
    EXPECT_EQ(RunAtTime(runs, At(1, 40, 0)), -1);
    EXPECT_EQ(RunAtTime(runs, At(3, 0, 0)), 0);
    EXPECT_EQ(FindRun(runs, At(1, 0, 2), 9), 1);
    EXPECT_EQ(FindRun(runs, At(1, 5, 0), 9), -1);
}

TEST(HistoryRules, TimelinePlacesRunsAndMarksByKindAndMergesEndsOnOnePixel) {
    const int64_t from = At(0, 0, 0), to = At(24, 0, 0);  // 240 px: 6 min a pixel
    const auto run = [](int64_t start, int64_t end, uint32_t code, RunEnd how) {
        AgentRun r;
        r.startMs = start;
        r.endMs = end;
        r.code = code;
        r.end = how;
        return r;
    };
    const std::vector<AgentRun> runs = {
        run(At(12, 0, 0), 0, 0, RunEnd::Running),
        run(At(6, 0, 0), At(6, 3, 0), 1, RunEnd::ExitedByItself),  // crashed at x 60
        run(At(6, 0, 0), At(6, 1, 0), 1, RunEnd::ExitedByItself),  // crashed, same pixel
        run(At(3, 0, 0), At(3, 0, 0), 2, RunEnd::LaunchFailed),
        run(0, At(1, 0, 0), 0, RunEnd::Forced),  // started before the strip
    };
    const Timeline t = LayOutTimeline(runs, from, to, 240);
    ASSERT_EQ(t.running.size(), 3u);
    EXPECT_EQ(t.running[0].x0, 0);
    EXPECT_EQ(t.running[0].x1, 10);
    EXPECT_EQ(t.running[1].x0, 60);
    EXPECT_EQ(t.running[1].x1, 61);
    EXPECT_EQ(t.running[2].x0, 120);
    EXPECT_EQ(t.running[2].x1, 240);
    ASSERT_EQ(t.marks.size(), 3u);
    EXPECT_EQ(t.marks[0].x, 10);
    EXPECT_EQ(t.marks[0].kind, MarkKind::Forced);
    EXPECT_EQ(t.marks[1].x, 30);
    EXPECT_EQ(t.marks[1].kind, MarkKind::LaunchFailed);
    EXPECT_EQ(t.marks[2].x, 60);
    EXPECT_EQ(t.marks[2].kind, MarkKind::Crashed);
    EXPECT_EQ(t.marks[2].count, 2);
    EXPECT_EQ(t.marks[2].run, 1);  // the newest of the two
    EXPECT_EQ(MarkAt(t, 63, 3), 2);
    EXPECT_EQ(MarkAt(t, 45, 3), -1);
    EXPECT_TRUE(LayOutTimeline(runs, to, from, 240).marks.empty());
}

TEST(HistoryRules, TimesAndDurationsAsTheWindowWritesThem) {
    EXPECT_EQ(FormatHistoryTime(At(14, 3, 7, 215), true), L"2026-12-08 14:03:07.215");
    EXPECT_EQ(FormatHistoryTime(JournalMsFromFields(2024, 2, 29, 0, 0, 0, 0)), L"2024-02-29 00:00:00");
    EXPECT_EQ(FormatDuration(434), L"0.43 s");
    EXPECT_EQ(FormatDuration(42000), L"42 s");
    EXPECT_EQ(FormatDuration(185000), L"3 min 5 s");
    EXPECT_EQ(FormatDuration((2 * 60 + 13) * 60000 + 999), L"2 h 13 min");
    EXPECT_EQ(FormatDuration(86400000 + 3600000), L"1 d 1 h");
    EXPECT_EQ(FormatDuration(7200000), L"2 h");
    EXPECT_EQ(WideFromUtf8("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xFF"), L"a\u00E9\u4E2D\U0001F600\uFFFD");
}

}  // namespace
