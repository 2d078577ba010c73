#include "journal/journal_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

JournalTime At(int hour, int minute, int second, int millis) {
    JournalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 8;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millis = millis;
    return t;
}

std::vector<std::wstring> Texts(const CJournalBlock& block) {
    std::vector<std::wstring> texts;
    for (size_t i = 0; i < block.Size(); ++i) texts.emplace_back(block.TextOf(block[i]));
    return texts;
}

TEST(JournalRules, OneInstallationOneFileNamedByTheHashOfItsFolder) {
    // Reference values of 32-bit FNV-1a.
    EXPECT_EQ(Fnv1a32(L""), 0x811c9dc5u);
    EXPECT_EQ(Fnv1a32(L"a"), 0x2b24d044u);  // bytes 61 00
    EXPECT_EQ(JournalFileName(L"C:\\APPS\\SUP"), JournalFileName(L"C:\\APPS\\SUP"));
    EXPECT_NE(JournalFileName(L"C:\\APPS\\SUP"), JournalFileName(L"C:\\APPS\\SUP2"));
    const std::wstring name = JournalFileName(L"C:\\APPS\\SUP");
    ASSERT_EQ(name.size(), 18u);
    EXPECT_EQ(name.substr(0, 6), L"agent-");
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 6), 14u);
    EXPECT_EQ(RotatedJournalName(name, 0), name);
    EXPECT_EQ(RotatedJournalName(L"agent-0000abcd.log", 3), L"agent-0000abcd.3.log");
}

TEST(JournalRules, AnEntryIsOneLineOrIndentedFurtherLinesWithMillisecondTime) {
    const JournalTime t = At(14, 3, 7, 215);
    EXPECT_EQ(FormatJournalEntry(t, L"agent", L"hello\n"), L"2026-12-08 14:03:07.215 [agent] hello\r\n");
    EXPECT_EQ(FormatJournalEntry(At(9, 0, 0, 5), L"supervisor", L"x"),
              L"2026-12-08 09:00:00.005 [supervisor] x\r\n");
    EXPECT_EQ(FormatJournalEntry(t, L"agent", L"a\r\nb\nc\rd\r\n\r\n"),
              L"2026-12-08 14:03:07.215 [agent] a\r\n  b\r\n  c\r\n  d\r\n");
    EXPECT_EQ(FormatJournalEntry(t, L"agent", L""), L"2026-12-08 14:03:07.215 [agent] \r\n");
    // Breaks at the start and one after another each begin a line of their own.
    EXPECT_EQ(FormatJournalEntry(t, L"agent", L"\n\r\rx\n\ny"),
              L"2026-12-08 14:03:07.215 [agent] \r\n  \r\n  \r\n  x\r\n  \r\n  y\r\n");
    // An entry appended to others leaves them as they were.
    std::wstring out = L"kept";
    AppendJournalEntry(out, t, L"agent", L"z");
    EXPECT_EQ(out, L"kept2026-12-08 14:03:07.215 [agent] z\r\n");
}

TEST(JournalRules, RotationComesBetweenEntriesAndNeverLeavesAFileEmpty) {
    EXPECT_FALSE(JournalNeedsRotation(0, kJournalRotateBytes * 2));
    EXPECT_FALSE(JournalNeedsRotation(kJournalRotateBytes - 10, 10));
    EXPECT_TRUE(JournalNeedsRotation(kJournalRotateBytes - 10, 11));
}

TEST(JournalRules, AFullQueueCountsWhatItLosesAndKeepsTheOrder) {
    CJournalQueue queue;
    for (size_t i = 0; i < CJournalQueue::kMaxEntries; ++i)
        ASSERT_TRUE(queue.Push(1, L"agent", std::to_wstring(i)));
    EXPECT_FALSE(queue.Push(1, L"agent", L"lost"));
    EXPECT_FALSE(queue.Push(5, L"agent", L"late"));
    CJournalBlock taken;
    taken.Append(9, L"agent", L"spent");  // a block the writer is done with
    queue.TakeAll(taken);
    ASSERT_EQ(taken.Size(), CJournalQueue::kMaxEntries);
    EXPECT_EQ(taken.TextOf(taken[0]), L"0");
    EXPECT_EQ(taken.TextOf(taken[19999]), L"19999");
    EXPECT_TRUE(queue.Empty());
    uint64_t first = 0, last = 0;
    EXPECT_EQ(queue.TakeLost(first, last), 2u);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(last, 5u);
    EXPECT_EQ(queue.TakeLost(first, last), 0u);
    EXPECT_EQ(
        LostEntriesText(2, At(1, 2, 3, 4), At(5, 0, 0, 0))
            .find(L"journal: 2 entries lost between 2026-12-08 01:02:03.004 and 2026-12-08 05:00:00.000"),
        0u);

    // Characters bound the queue too, and its memory with them.
    EXPECT_TRUE(queue.Push(2, L"agent", std::wstring(CJournalQueue::kMaxChars - 1, L'x')));
    EXPECT_FALSE(queue.Push(3, L"agent", L"yz"));
    EXPECT_TRUE(queue.Push(4, L"supervisor", L"y"));
    CJournalBlock big;
    queue.TakeAll(big);
    EXPECT_LE(big.CapacityChars(), CJournalQueue::kMaxChars * 5 / 4);

    // What the file did not take goes back in front of what came meanwhile.
    EXPECT_TRUE(queue.Push(6, L"agent", L"newer"));
    CJournalBlock unwritten;
    for (const wchar_t* text : {L"written", L"older", L"\r\nmiddle"}) unwritten.Append(1, L"agent", text);
    queue.PutBack(unwritten, 1);
    queue.TakeAll(taken);
    EXPECT_EQ(Texts(taken), (std::vector<std::wstring>{L"older", L"\r\nmiddle", L"newer"}));
    EXPECT_EQ(taken[2].stamp, 6u);
    EXPECT_STREQ(big[1].source, L"supervisor");
}

}  // namespace
