#include "watchdog/watchdog_rules.h"

#include <gtest/gtest.h>

#include "journal/journal_rules.h"

namespace {

RegistryValue Dword(const wchar_t* name, uint32_t data) { return RegistryValue{name, true, data}; }

TEST(WatchdogSettings, MissingValuesAreOffAndGoodOnesAreTaken) {
    std::vector<std::wstring> complaints;
    EXPECT_EQ(ReadWatchdogSettings({}, complaints), WatchdogSettings{});
    const WatchdogSettings read = ReadWatchdogSettings(
        {Dword(L"RestartWhenSilentMinutes", 5), Dword(L"restartabovememorymb", 1024)}, complaints);
    EXPECT_EQ(read.silentSeconds, 300u);
    EXPECT_EQ(read.memoryMb, 1024u);
    EXPECT_TRUE(complaints.empty());
    // The seconds, for administrators and tests, win over the minutes.
    EXPECT_EQ(ReadWatchdogSettings(
                  {Dword(L"RestartWhenSilentMinutes", 5), Dword(L"RestartWhenSilentSeconds", 3)}, complaints)
                  .silentSeconds,
              3u);
}

TEST(WatchdogSettings, EachValueLeftAsideIsNamedOnce) {
    std::vector<std::wstring> complaints;
    const WatchdogSettings read = ReadWatchdogSettings(
        {RegistryValue{L"RestartAboveMemoryMB", false, 0}, Dword(L"RestartWhenSilentMinutes", 1441),
         Dword(L"RestartWhenSilentSeconds", 0), Dword(L"RestartAboveMemoryMB", 8), Dword(L"Colour", 1)},
        complaints);
    EXPECT_EQ(read, WatchdogSettings{});  // an explicit 0 seconds leaves the minutes to decide
    ASSERT_EQ(complaints.size(), 4u);
    EXPECT_EQ(complaints[0], L"setting RestartAboveMemoryMB ignored: not a DWORD");
    EXPECT_EQ(complaints[1],
              L"setting RestartWhenSilentMinutes ignored: 1441 is out of range (0 or 1 to 1440)");
    EXPECT_NE(complaints[2].find(L"RestartAboveMemoryMB ignored: 8 is out of range"), std::wstring::npos);
    EXPECT_EQ(complaints[3], L"setting Colour ignored: unknown");
}

TEST(SilenceClock, CountsFromTheStartTheLastMessageOrTheResume) {
    CSilenceClock clock;
    EXPECT_EQ(clock.Deadline(60), 0u);  // no agent
    clock.OnAgentStarted(1000);
    EXPECT_EQ(clock.Deadline(0), 0u);  // off
    EXPECT_EQ(clock.Deadline(60), 61000u);
    clock.OnMessage(5000);
    clock.OnMessage(4000);  // a reader that stamped earlier but reported later
    EXPECT_EQ(clock.Deadline(60), 65000u);
    EXPECT_FALSE(clock.IsDue(64999, 60));
    EXPECT_TRUE(clock.IsDue(65000, 60));
    // The machine slept at 30000 and woke: the sleep-free clock reads 30010,
    // and the agent gets a full period from there.
    clock.OnResume(30010);
    EXPECT_EQ(clock.Deadline(60), 90010u);
    EXPECT_EQ(clock.SilentSince(), 30010u);
    clock.OnRestartAsked();
    EXPECT_FALSE(clock.IsDue(200000, 60));  // once per run
    clock.OnAgentStarted(95000);
    EXPECT_EQ(clock.Deadline(60), 155000u);
    clock.OnAgentEnded();
    EXPECT_EQ(clock.Deadline(60), 0u);
}

TEST(MemoryVerdict, SumsTheJobAgainstTheBoundAndNamesTheTop) {
    const uint64_t mb = 1024 * 1024;
    const std::vector<ProcessMemory> tree = {
        {10, L"Tollvane.exe", 200 * mb}, {11, L"worker.exe", 300 * mb}, {12, L"helper.exe", 12 * mb}};
    const MemoryVerdict over = JudgeMemory(tree, 500);
    EXPECT_TRUE(over.bOver);
    EXPECT_EQ(over.totalBytes, 512 * mb);
    EXPECT_EQ(over.top.name, L"worker.exe");
    EXPECT_FALSE(JudgeMemory(tree, 512).bOver);  // at the bound is not past it
    EXPECT_FALSE(JudgeMemory(tree, 0).bOver);    // off
    EXPECT_FALSE(JudgeMemory({}, 256).bOver);
    EXPECT_EQ(BytesAmount(over.totalBytes), L"512 MB");
    EXPECT_EQ(BytesAmount(1331 * mb), L"1.2 GB");
}

TEST(WatchingLine, NamesWhatIsOnInTheTablesWords) {
    const WatchingTexts texts{L"Watching: {what}", L"silence {amount}", L"memory {amount}"};
    EXPECT_EQ(WatchingLine(texts, {}), L"");
    EXPECT_EQ(WatchingLine(texts, {300, 1024}), L"Watching: silence 5 min, memory 1 GB");
    EXPECT_EQ(WatchingLine(texts, {90, 0}), L"Watching: silence 90 s");
    EXPECT_EQ(WatchingLine(texts, {0, 256}), L"Watching: memory 256 MB");
    EXPECT_EQ(MemoryAmount(4096), L"4 GB");
    EXPECT_EQ(MemoryChoiceCount(false), 5u);
    EXPECT_EQ(kMemoryMbChoices[MemoryChoiceCount(true) - 1], 4096u);
}

TEST(InstallationId, TheKeptIdOrTheHashTheJournalIsNamedBy) {
    const std::wstring hash = FolderHash(L"C:\\APPS\\SUP");
    EXPECT_EQ(L"agent-" + hash + L".log", JournalFileName(L"C:\\APPS\\SUP"));
    EXPECT_EQ(InstallationId("", hash), hash);
    EXPECT_EQ(InstallationId("0A1b2c3D\r\n", hash), L"0a1b2c3d");
    EXPECT_EQ(InstallationId("0a1b2c3", hash), hash);   // too short
    EXPECT_EQ(InstallationId("0a1b2c3g", hash), hash);  // not hex
    EXPECT_EQ(SettingsKeyPath(L"0a1b2c3d"), L"Software\\QuorvelTollvane\\0a1b2c3d");
}

}  // namespace
