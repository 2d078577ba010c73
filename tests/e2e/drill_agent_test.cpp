// Agent fault drills: an agent that crashes over and over, an agent file
// that goes away while the agent runs, a missing bin directory, and an agent
// that keeps starting children while it is being ended.
#include <gtest/gtest.h>

#include <algorithm>

#include "resource.h"
#include "supervision/stop_rules.h"
#include "tests/support/agent_support.h"
#include "tests/support/drill_support.h"

using namespace e2e;

namespace {

bool Answers(const Supervisor& sup) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(sup.m_hWnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}
std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

}  // namespace

TEST(DrillAgent, CrashLoopKeepsRelaunchingWithBoundedCpuAndStopEndsItAtOnce) {
    const DWORD window = Scaled<DWORD>(12000, 60000);
    RunningInstall run(Launch().Script("crash\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;

    const ProcessStats before = QueryProcessStats(sup.Pid());
    const size_t startsBefore = CountStarts(install);
    ::Sleep(window);
    const ProcessStats after = QueryProcessStats(sup.Pid());
    const auto runs = EventsOf(ReadRunLog(install), "start");
    const size_t starts = runs.size() - startsBefore;
    // Relaunches go on, paced: the pause between two never passes its cap
    // of 10 s (plus the time a launch takes here).
    const int64_t sinceLast = (NowMicroseconds() - runs.back().t) / 1000;
    int64_t longestGap = 0;
    for (size_t i = 1; i < runs.size(); ++i)
        longestGap = std::max(longestGap, (runs[i].t - runs[i - 1].t) / 1000);
    const double cpu = after.cpuMillis - before.cpuMillis;

    const DWORD stopAt = ::GetTickCount();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    const bool stopped = WaitUntil([&] { return ShowsStopped(sup) && AgentPids(install).empty(); }, 5s);
    const DWORD stopMs = ::GetTickCount() - stopAt;
    const size_t afterStop = CountStarts(install);
    ::Sleep(2000);

    PrintFigure("crash loop", std::to_string(starts) + " launches in " + std::to_string(window) +
                                  " ms (longest gap " + std::to_string(longestGap) + " ms, last " +
                                  std::to_string(sinceLast) + " ms ago), supervisor CPU " +
                                  std::to_string(static_cast<int>(cpu)) + " ms, threads " +
                                  std::to_string(before.threads) + " -> " + std::to_string(after.threads) +
                                  ", Stop took " + std::to_string(stopMs) + " ms");
    EXPECT_GE(starts, 3u);
    EXPECT_LT(std::max(longestGap, sinceLast), 12000) << "relaunches stopped";
    EXPECT_LT(cpu, window * 0.05);
    EXPECT_TRUE(stopped);
    EXPECT_LT(stopMs, 1500u);
    EXPECT_EQ(CountStarts(install), afterStop);
    EXPECT_LE(after.threads, before.threads + 1);
    EXPECT_TRUE(Answers(sup));
}

TEST(DrillAgent, AgentFileMovedAwayWhileRunningThenRestoredAndStarted) {
    RunningInstall run(Launch().Script("sleep 2500\nexit 0\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    ASSERT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));

    // A running executable cannot be deleted on Windows, but it can be moved.
    const std::wstring away = install.Dir() + L"Tollvane.away";
    ASSERT_TRUE(::MoveFileExW(install.AgentPath().c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup) && AgentPids(install).empty(); }, 10s));
    const size_t starts = CountStarts(install);
    // Start without the file: nothing happens, over and over.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ::Sleep(1000);
    EXPECT_TRUE(ShowsStopped(sup));
    EXPECT_EQ(CountStarts(install), starts);

    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    ASSERT_TRUE(::MoveFileExW(away.c_str(), install.AgentPath().c_str(), MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    EXPECT_EQ(WaitForStarts(install, starts + 1, 10s).size(), starts + 1);
    EXPECT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));
    ::Sleep(500);
    EXPECT_EQ(AgentPids(install).size(), 1u);
    PrintFigure("agent file moved", "runs before " + std::to_string(starts) + ", after Start " +
                                        std::to_string(CountStarts(install)));
}

TEST(DrillAgent, MissingBinDirectoryIsHarmlessUntilItComes) {
    TempInstall install(false);
    ASSERT_TRUE(::RemoveDirectoryW(install.AgentDir().c_str()));
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 10s));
    const ProcessStats before = QueryProcessStats(sup.Pid());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
        ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    }
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ::Sleep(2000);
    const ProcessStats after = QueryProcessStats(sup.Pid());
    EXPECT_TRUE(ShowsStopped(sup));
    EXPECT_TRUE(Answers(sup));
    EXPECT_LT(after.cpuMillis - before.cpuMillis, 500.0);
    EXPECT_LE(after.threads, before.threads + 1);

    CopyAgentTo(install, L"bin");
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    EXPECT_EQ(WaitForStarts(install, 1, 10s).size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));
    PrintFigure("bin missing", "supervisor CPU over 22 commands and 2 s: " +
                                   std::to_string(static_cast<int>(after.cpuMillis - before.cpuMillis)) +
                                   " ms");
}

// The agent starts a child every few tens of milliseconds and pays no heed
// to them being ended: Stop and Restart must still leave nothing of the old
// tree behind, even children born while the tree was being ended.
TEST(DrillAgent, StopAndRestartEndAnAgentThatKeepsStartingChildren) {
    const int rounds = Scaled(4, 25);
    TempInstall install;
    const std::wstring child = CopyAgentTo(install, L"kids");
    install.WriteFile(L"kids\\hang.txt", "hang\n");
    std::string script;
    for (int i = 0; i < 200; ++i)
        script +=
            "spawn " + Quoted(child) + " child " + Quoted(install.Dir() + L"kids\\hang.txt") + "\nsleep 20\n";
    script += "hang\n";
    install.WriteFile(L"bin\\agent-script.txt", script);
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);

    int survivors = 0, maxTree = 0;
    for (int r = 0; r < rounds; ++r) {
        // Let the tree grow a while, then end it in the middle of its growth.
        ASSERT_TRUE(WaitUntil([&] { return ProcessesUnder(install.Dir() + L"kids\\").size() >= 3; }, 20s));
        ::Sleep(100 + 50 * static_cast<DWORD>(r % 5));
        maxTree = std::max<int>(maxTree, static_cast<int>(ProcessesUnder(install.Dir() + L"kids\\").size()));
        const bool restart = r % 2 == 1;
        const size_t runsBefore = CountStarts(install);
        ASSERT_TRUE(sup.SendCommand(restart ? ID_AGENT_START : ID_AGENT_STOP));
        if (restart) {
            ASSERT_EQ(WaitForStarts(install, runsBefore + 1, 10s).size(), runsBefore + 1);
        }
        // The agent ends on the ask and its children with it; a child caught
        // half-started hears nothing and waits out the grace to be forced.
        if (restart)
            ::Sleep(kStopGraceMs + 1500);
        else
            WaitUntil([&] { return ShowsStopped(sup); }, std::chrono::milliseconds(kStopGraceMs + 1500));
        // After a Restart the newest run has children of its own; any child of
        // an earlier run is a leftover. After a Stop every child is.
        const auto runs = EventsOf(ReadRunLog(install), "start");
        const DWORD newest = restart ? runs.back().pid : 0;
        int left = 0;
        for (const ProcessInfo& p : ProcessesUnder(install.Dir() + L"kids\\")) left += p.ppid != newest;
        survivors += left;
        if (left > 0) {
            std::string detail;
            for (const ProcessInfo& p : ProcessesUnder(install.Dir() + L"kids\\"))
                detail += " " + std::to_string(p.pid) + "(parent " + std::to_string(p.ppid) + ")";
            PrintFigure("spawning agent", std::string(restart ? "Restart" : "Stop") + " round " +
                                              std::to_string(r) + " left" + detail);
            std::string list;
            for (const AgentEvent& e : runs) list += " " + std::to_string(e.pid);
            PrintFigure("spawning agent", "agent runs:" + list);
        }
        if (left > 0) KillProcessesUnder(install.Dir() + L"kids\\");
        if (!restart) {
            EXPECT_TRUE(ShowsStopped(sup));
            ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
        }
    }
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil(
        [&] { return AgentPids(install).empty() && ProcessesUnder(install.Dir() + L"kids\\").empty(); }, 5s));
    PrintFigure("spawning agent", std::to_string(rounds) + " Stop/Restart rounds, up to " +
                                      std::to_string(maxTree) + " children at a time, " +
                                      std::to_string(survivors) + " left behind");
    EXPECT_EQ(survivors, 0);
    EXPECT_TRUE(Answers(sup));
}
