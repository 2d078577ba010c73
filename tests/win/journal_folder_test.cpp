// The journal where the shell names no folder for it: it keeps nothing, not
// even in memory, and says so.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>

#include "journal/journal.h"

namespace {
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;  // the private bytes; Wine leaves PrivateUsage at 0
}
}  // namespace

TEST(JournalWithoutFolder, KeepsNothingAndSaysSo) {
    CJournal journal(L"", L"agent-00000000.log");
    EXPECT_EQ(journal.Trouble(), JournalTrouble::NoFolder);
    EXPECT_FALSE(journal.Start());
    // 16 Mi characters: a queue that took them would pin 32 MiB.
    const std::wstring text(8192, L'x');
    const SIZE_T before = PrivateBytes();
    for (int i = 0; i < 2048; ++i) journal.Add(L"agent", text);
    EXPECT_LT(PrivateBytes() - before, SIZE_T{4} << 20) << before;
}
