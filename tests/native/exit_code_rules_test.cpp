#include "supervision/exit_code_rules.h"

#include <gtest/gtest.h>

#include "journal/journal_event_rules.h"

namespace {

TEST(ExitCodeNames, TheCommonDeathsHaveTheirOwnNames) {
    EXPECT_EQ(DescribeExitCode(0xC0000005u, KnownExitCodeName(0xC0000005u)),
              L"3221225477 (0xC0000005, access violation)");
    EXPECT_EQ(KnownExitCodeName(0xC00000FDu), L"stack overflow");
    EXPECT_EQ(KnownExitCodeName(0xC0000409u), L"fail-fast");
    EXPECT_EQ(KnownExitCodeName(0xC0000374u), L"heap corruption");
    EXPECT_EQ(KnownExitCodeName(0xC0000135u), L"DLL not found");
    EXPECT_EQ(KnownExitCodeName(0xC0000142u), L"DLL failed to initialise");
    EXPECT_EQ(KnownExitCodeName(0xC000013Au), L"ended by Ctrl+C");
    EXPECT_EQ(KnownExitCodeName(0x40010004u), L"ended at sign-out");
    EXPECT_EQ(KnownExitCodeName(1), L"");
    EXPECT_EQ(DescribeExitCode(1, L""), L"1 (0x00000001)");
}

TEST(ExitCodeNames, OnlyStatusCodesAreLookedUpAndOnlyPlainFirstLinesServeAsNames) {
    EXPECT_FALSE(IsStatusCode(0));
    EXPECT_FALSE(IsStatusCode(0x3FFFFFFFu));
    EXPECT_TRUE(IsStatusCode(0x40010004u));
    EXPECT_TRUE(IsStatusCode(0x80000003u));
    EXPECT_TRUE(IsStatusCode(0xC0000017u));

    EXPECT_EQ(StatusNameFromMessage(L"  {Not Enough Quota}\r\nNot enough virtual memory.\r\n"), L"");
    EXPECT_EQ(StatusNameFromMessage(L"The instruction at 0x%p referenced memory at 0x%p."), L"");
    EXPECT_EQ(StatusNameFromMessage(L"The process cannot access the file. \r\nMore.\r\n"),
              L"The process cannot access the file");
    EXPECT_EQ(StatusNameFromMessage(L""), L"");
}

TEST(LaunchErrorText, InsertsAreFilledOrDroppedAndOnlyTheFirstLineStays) {
    EXPECT_EQ(FillErrorInserts(L"%1 is not a valid Win32 application.\r\n", L"C:\\a\\bin\\Tollvane.exe"),
              L"C:\\a\\bin\\Tollvane.exe is not a valid Win32 application.");
    EXPECT_EQ(FillErrorInserts(L"The file %1 needs %2 to run.\r\nSecond line.", L"x.exe"),
              L"The file x.exe needs to run.");
    EXPECT_EQ(FillErrorInserts(L"Value %2!d! and %10 and 100%", L"f"), L"Value and and 100%");
    EXPECT_EQ(FillErrorInserts(L"Access is denied. \t\r\n", L"f"), L"Access is denied.");
}

TEST(StopOutcome, TheJournalSaysHowTheAskedAgentEnded) {
    EXPECT_EQ(StopOutcomeText(StopOutcome::EndedByItself, 434),
              L"asked to end (Ctrl+C, close); ended by itself after 0.43 s");
    EXPECT_EQ(StopOutcomeText(StopOutcome::EndedByItself, 1996),
              L"asked to end (Ctrl+C, close); ended by itself after 2.00 s");
    EXPECT_EQ(StopOutcomeText(StopOutcome::GraceOver, 2000), L"did not end within 2 s; ended by force");
    EXPECT_EQ(StopOutcomeText(StopOutcome::ForcedEarly, 500),
              L"asked to end (Ctrl+C, close); ended by force after 0.50 s on a new command");
}

}  // namespace
