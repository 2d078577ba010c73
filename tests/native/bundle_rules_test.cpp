#include "diagnostics/bundle_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(BundleRules, OnlyThisInstallationsJournalFilesNewestFirst) {
    const std::vector<std::wstring> names = BundleJournalNames(L"agent-0a1b2c3d.log");
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], L"agent-0a1b2c3d.log");
    EXPECT_EQ(names[1], L"agent-0a1b2c3d.rotating.log");
    EXPECT_EQ(names[2], L"agent-0a1b2c3d.1.log");
    EXPECT_EQ(names[6], L"agent-0a1b2c3d.5.log");
    for (const std::wstring& name : names) EXPECT_EQ(name.rfind(L"agent-0a1b2c3d.", 0), 0u) << name;
}

TEST(BundleRules, LastLinesKeepTheirLineEnds) {
    EXPECT_EQ(LastLines("a\r\nb\r\nc\r\n", 2), "b\r\nc\r\n");
    EXPECT_EQ(LastLines("a\nb\nc", 2), "b\nc");
    EXPECT_EQ(LastLines("a\nb\n", 5), "a\nb\n");
    EXPECT_EQ(LastLines("a\nb\n", 0), "");
    EXPECT_EQ(LastLines("", 3), "");
    EXPECT_EQ(LastLines("\n\n\n", 2), "\n\n");
}

TEST(BundleRules, SummaryTableAndLastLines) {
    DiagnosticsFacts facts;
    facts.productVersion = L"1.6.1610.127";
    facts.agentPath = L"C:\\Apps\\bin\\Tollvane.exe";
    facts.agent = AgentFileFacts{true, 0, L"2.0.0.1", 1234, L"ab12"};
    facts.bRunsKnown = true;
    facts.runs = {BundleRun{L"2026-12-09 03:10:00", L"2026-12-09 03:10:01", L"1 s",
                            L"crashed: access violation", L"4242", L"17"},
                  BundleRun{L"2026-12-09 01:00:00", L"", L"", L"still running", L"7", L"3"}};
    facts.lastLines = L"x\r\n";
    facts.lastLineCount = 1;
    const std::wstring summary = FormatDiagnosticsSummary(facts);
    EXPECT_NE(summary.find(L"Product version: 1.6.1610.127\r\n"), std::wstring::npos);
    EXPECT_NE(summary.find(L"Windows: (unknown)\r\n"), std::wstring::npos);
    EXPECT_NE(summary.find(L"Agent file: version 2.0.0.1, 1234 bytes, SHA-256 ab12\r\n"), std::wstring::npos);
    EXPECT_NE(summary.find(L"Started              Ended                Run time  How it ended               "
                           L"PID   Lines\r\n-------------------  -------------------  --------  ---------"),
              std::wstring::npos)
        << summary;
    EXPECT_NE(summary.find(L"2026-12-09 01:00:00                                 still running              "
                           L"7     3\r\n"),
              std::wstring::npos);
    const std::wstring tail = L"\r\nThe journal's last 1 lines\r\n--------------------------\r\nx\r\n";
    EXPECT_EQ(summary.substr(summary.size() - tail.size()), tail);
    facts.agent = AgentFileFacts{false, 2, L"", 0, L""};
    facts.bRunsKnown = false;
    const std::wstring unknown = FormatDiagnosticsSummary(facts);
    EXPECT_NE(unknown.find(L"Agent file: not found (error 2)\r\n"), std::wstring::npos);
    EXPECT_NE(unknown.find(L"------------------\r\n(not known)\r\n"), std::wstring::npos);
}

}  // namespace
