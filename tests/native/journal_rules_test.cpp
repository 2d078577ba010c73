#include "journal/journal_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
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
    EXPECT_EQ(JournalFileName(L"C:\\APPS\\SUP"), L"agent-5446c7f8.log");
    // A hash below 0x10000000 keeps its leading zeros: the name is always 8 digits.
    EXPECT_EQ(JournalFileName(L"C:\\APPS\\SUP21"), L"agent-00c01b63.log");
    const std::wstring name = JournalFileName(L"C:\\APPS\\SUP");
    ASSERT_EQ(name.size(), 18u);
    EXPECT_EQ(name.substr(0, 6), L"agent-");
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 6), 14u);
    EXPECT_EQ(RotatedJournalName(name, 0), name);
    EXPECT_EQ(RotatedJournalName(L"agent-0000abcd.log", 1), L"agent-0000abcd.1.log");
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
    // 10 MiB, not 10 MB; five older files beside the live one.
    EXPECT_FALSE(JournalNeedsRotation(10485760 - 10, 10));
    EXPECT_TRUE(JournalNeedsRotation(10485760 - 10, 11));
    EXPECT_EQ(kJournalKeptFiles, 5);
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

    // What the file did not take goes back in front of what came meanwhile,
    // by a swap: the newer entries are appended to it first.
    EXPECT_TRUE(queue.Push(6, L"agent", L"newer"));
    CJournalBlock unwritten;
    for (const wchar_t* text : {L"written", L"older", L"\r\nmiddle"}) unwritten.Append(1, L"agent", text);
    unwritten.EraseFront(1);
    EXPECT_FALSE(queue.PutBack(unwritten));
    CJournalBlock newer;
    queue.TakeAll(newer);
    unwritten.AppendFrom(newer, 0);
    const wchar_t* buffer = unwritten.TextOf(unwritten[0]).data();
    ASSERT_TRUE(queue.PutBack(unwritten));
    queue.TakeAll(taken);
    EXPECT_EQ(Texts(taken), (std::vector<std::wstring>{L"older", L"\r\nmiddle", L"newer"}));
    EXPECT_EQ(taken.TextOf(taken[0]).data(), buffer);
    EXPECT_EQ(taken[2].stamp, 6u);
    EXPECT_STREQ(big[1].source, L"supervisor");
}

TEST(JournalRules, WhileTheFileFailsTheQueueKeepsOneMiOfTheOldestEntries) {
    CJournalQueue queue;
    const size_t half = CJournalQueue::kFailingMaxChars / 2;
    for (uint64_t stamp = 1; stamp <= 3; ++stamp)
        ASSERT_TRUE(queue.Push(stamp, L"agent", std::wstring(half, L'a')));
    queue.SetMaxChars(CJournalQueue::kFailingMaxChars);
    EXPECT_FALSE(queue.Push(4, L"agent", L"b"));
    CJournalBlock taken;
    queue.TakeAll(taken);
    EXPECT_EQ(taken.Size(), 2u);
    EXPECT_EQ(taken[1].stamp, 2u);
    uint64_t first = 0, last = 0;
    EXPECT_EQ(queue.TakeLost(first, last), 2u);
    EXPECT_EQ(first, 3u);
    EXPECT_EQ(last, 4u);
    // Given back, the block is held to the bound as well.
    taken.Append(5, L"agent", L"c");
    ASSERT_TRUE(queue.PutBack(taken));
    EXPECT_EQ(queue.TakeLost(first, last), 1u);
    queue.SetMaxChars(CJournalQueue::kMaxChars);
    EXPECT_TRUE(queue.Push(6, L"agent", std::wstring(half, L'd')));
}

// Journal files in memory: each generation's content, oldest first in
// Contents(); a held file refuses to be renamed or replaced.
class CFakeJournalFiles : public CJournalFiles {
public:
    std::map<int, std::string> files;
    std::set<int> held;
    bool Exists(int generation) override { return files.count(generation) != 0; }
    uint32_t Move(int from, int to, bool replace) override {
        if (files.count(from) == 0) return 2;
        if (held.count(from) != 0 || held.count(to) != 0) return 32;
        if (files.count(to) != 0 && !replace) return 183;
        files[to] = files[from];
        files.erase(from);
        return 0;
    }
    std::string Contents() const {
        std::string all;
        for (int n = kJournalKeptFiles; n >= kJournalRotating; --n) {
            const int g = n == 0 ? kJournalRotating : n == kJournalRotating ? 0 : n;
            if (files.count(g) != 0) all += files.at(g);
        }
        return all;
    }
};

TEST(JournalRotation, ItIsAllOrNothingAndOnlyASucceededOneDropsTheOldestFile) {
    CFakeJournalFiles fs;
    fs.files = {{0, "L"}, {1, "E"}, {2, "D"}, {3, "C"}, {4, "B"}, {5, "A"}};
    EXPECT_EQ(RotatingJournalName(L"agent-0000abcd.log"), L"agent-0000abcd.rotating.log");

    // The live file held: nothing changes.
    fs.held = {0};
    JournalRotation r = RotateJournal(fs);
    EXPECT_EQ(r.result, JournalRotation::PutOff);
    EXPECT_EQ(r.heldGeneration, 0);
    EXPECT_EQ(r.error, 32u);
    EXPECT_EQ(fs.Contents(), "ABCDEL");
    EXPECT_EQ(RotationTroubleText(r, L"agent-0000abcd.log")
                  .find(L"journal: rotation put off: agent-0000abcd.log could not be renamed (error 32, "),
              0u);

    // An older file held: the files above it move on, it and those below stay.
    fs.held = {2};
    r = RotateJournal(fs);
    EXPECT_EQ(r.result, JournalRotation::Pending);
    EXPECT_EQ(r.heldGeneration, 2);
    EXPECT_EQ(fs.Contents(), "BCDEL");
    EXPECT_EQ(fs.files.count(3), 0u);
    fs.files[0] = "M";
    // While it stays held the live file grows on, and the line names both.
    r = RotateJournal(fs);
    EXPECT_EQ(r.result, JournalRotation::PutOff);
    EXPECT_EQ(fs.Contents(), "BCDELM");
    EXPECT_EQ(RotationTroubleText(r, L"agent-0000abcd.log"),
              L"journal: rotation put off: agent-0000abcd.2.log could not be renamed (error 32, held open by "
              L"another program?); agent-0000abcd.log grows on and the rotation is tried again after each "
              L"further 1 MiB");

    // Let go: the unfinished rotation ends, then this one runs.
    fs.held.clear();
    EXPECT_EQ(RotateJournal(fs).result, JournalRotation::Done);
    EXPECT_EQ(fs.Contents(), "CDELM");
    EXPECT_EQ(fs.files.at(1), "M");
    EXPECT_EQ(fs.files.count(0), 0u);
}

TEST(JournalRotation, ARotationACrashLeftIsFinishedAtTheNextStart) {
    CFakeJournalFiles fs;
    // The crash came between moving generation 3 and generation 2 up.
    fs.files = {{kJournalRotating, "R"}, {1, "Q"}, {2, "P"}, {4, "O"}, {5, "N"}};
    EXPECT_TRUE(FinishJournalRotation(fs));
    EXPECT_EQ(fs.Contents(), "NOPQR");
    EXPECT_EQ(fs.files.at(1), "R");
    EXPECT_EQ(fs.files.at(3), "P");
    EXPECT_TRUE(FinishJournalRotation(fs));  // nothing left to do
    EXPECT_EQ(fs.Contents(), "NOPQR");
}

}  // namespace
