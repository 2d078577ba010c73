// Keeping the agent running, seen from outside: launch, relaunch, Start,
// Stop, Restart, a missing agent file, a crashing agent.
#include <gtest/gtest.h>

#include <algorithm>

#include "resource.h"
#include "tests/support/agent_support.h"

using namespace e2e;

namespace {

bool SameTextIgnoringCase(const std::string& a, const std::wstring& b) {
    const std::wstring wa = Widen(a);
    return wa.size() == b.size() && ::CompareStringOrdinal(wa.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

struct WindowSearch {
    DWORD pid;
    HWND hMain;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectOtherWindow(HWND hWnd, LPARAM lp) {
    auto* search = reinterpret_cast<WindowSearch*>(lp);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hWnd, &owner);
    if (owner == search->pid && hWnd != search->hMain && ::IsWindowVisible(hWnd))
        search->found.push_back(hWnd);
    return TRUE;
}

// Visible top-level windows of a process other than its main dialog (an
// error box, say).
std::vector<HWND> OtherVisibleWindows(DWORD pid, HWND hMain) {
    WindowSearch search{pid, hMain, {}};
    ::EnumWindows(CollectOtherWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

TEST(AgentWatch, StartsTheAgentOnceHiddenInItsDirectoryWithoutArguments) {
    RunningInstall run(Launch().Script("hang\n"));
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    auto starts = WaitForStarts(install, 1, 15s);
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));
    ::Sleep(1500);
    starts = EventsOf(ReadRunLog(install), "start");
    ASSERT_EQ(starts.size(), 1u);
    const AgentEvent& agent = starts[0];
    EXPECT_EQ(agent.fields.at("ppid"), std::to_string(sup.Pid()));
    EXPECT_EQ(agent.fields.at("args"), "0") << agent.fields.at("cmd");
    EXPECT_EQ(agent.fields.at("show"), std::to_string(SW_HIDE));
    EXPECT_NE(agent.fields.at("console"), "visible");
    EXPECT_TRUE(SameTextIgnoringCase(agent.fields.at("cwd"), install.AgentDir())) << agent.fields.at("cwd");
    EXPECT_EQ(AgentPids(install), std::vector<DWORD>{agent.pid});
}

TEST(AgentWatch, RelaunchesPromptlyAfterExitZeroExitSevenAndAKillFromOutside) {
    RunningInstall run(Launch().Script("sleep 1200\nexit 0\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    install.WriteFile(L"bin\\agent-script.txt", "sleep 1200\nexit 7\n");
    auto starts = WaitForStarts(install, 2, 10s);
    ASSERT_EQ(starts.size(), 2u);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    starts = WaitForStarts(install, 3, 10s);
    ASSERT_EQ(starts.size(), 3u);
    const auto exits = EventsOf(ReadRunLog(install), "exit");
    ASSERT_EQ(exits.size(), 2u);
    EXPECT_EQ(exits[0].fields.at("code"), "0");
    EXPECT_EQ(exits[1].fields.at("code"), "7");

    ::Sleep(300);
    const int64_t killedAt = NowMicroseconds();
    KillPid(starts[2].pid);
    starts = WaitForStarts(install, 4, 10s);
    ASSERT_EQ(starts.size(), 4u);

    // Exit (or kill) to the next start, under Wine's slow process creation.
    const int64_t gaps[] = {starts[1].t - exits[0].t, starts[2].t - exits[1].t, starts[3].t - killedAt};
    for (int64_t gap : gaps) {
        EXPECT_GE(gap, 0);
        EXPECT_LT(gap, 1500 * 1000) << "relaunch took " << gap / 1000 << " ms";
    }
    std::printf("relaunch latency: exit 0 %lld ms, exit 7 %lld ms, killed %lld ms\n",
                static_cast<long long>(gaps[0] / 1000), static_cast<long long>(gaps[1] / 1000),
                static_cast<long long>(gaps[2] / 1000));
    EXPECT_TRUE(ShowsRunning(sup));
    ::Sleep(1000);
    EXPECT_EQ(AgentPids(install).size(), 1u);
}

TEST(AgentWatch, StartAfterStopAndRestartWhileRunningLeaveExactlyOneAgent) {
    RunningInstall run(Launch().Script("hang\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    ASSERT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup) && AgentPids(install).empty(); }, 5s));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ASSERT_EQ(WaitForStarts(install, 2, 10s).size(), 2u);
    EXPECT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));  // Restart
    auto starts = WaitForStarts(install, 3, 10s);
    ASSERT_EQ(starts.size(), 3u);
    ::Sleep(1000);
    EXPECT_EQ(AgentPids(install), std::vector<DWORD>{starts[2].pid});

    // Stop and Start in one go, before the watch thread can wake up.
    sup.PostCommand(ID_AGENT_STOP);
    sup.PostCommand(ID_AGENT_START);
    starts = WaitForStarts(install, 4, 10s);
    ASSERT_EQ(starts.size(), 4u);
    ::Sleep(1500);
    EXPECT_EQ(CountStarts(install), 4u);
    EXPECT_EQ(AgentPids(install), std::vector<DWORD>{starts[3].pid});
    EXPECT_TRUE(ShowsRunning(sup));
}

TEST(AgentWatch, AMissingAgentFileLeavesStartAndADisabledStop) {
    RunningInstall run(Launch().WithoutAgent());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 10s));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ::Sleep(500);
    EXPECT_TRUE(ShowsStopped(sup));
    EXPECT_TRUE(sup.IsRunning());

    // Once the file is there, Start launches it.
    CopyAgentTo(install, L"bin");
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    EXPECT_EQ(WaitForStarts(install, 1, 10s).size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));
}

TEST(AgentWatch, AStaleAgentIsEndedBeforeTheFirstLaunch) {
    TempInstall install;
    install.WriteFile(L"hang.txt", "hang\n");
    const DWORD stale = StartAgentCopy(install.AgentPath(), install.Dir() + L"hang.txt");
    ASSERT_NE(stale, 0u);
    ASSERT_TRUE(WaitUntil([&] { return CountStarts(install) == 1; }, 10s));
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    auto starts = WaitForStarts(install, 2, 15s);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessAlive(stale); }, 5s));
    EXPECT_EQ(AgentPids(install), std::vector<DWORD>{starts[1].pid});
}

TEST(AgentWatch, ExitEndsTheAgentTreeAndReturnsOne) {
    TempInstall install;
    const std::wstring child = CopyAgentTo(install, L"other");
    install.WriteFile(L"other\\hang.txt", "hang\n");
    install.WriteFile(L"bin\\agent-script.txt", "spawn \"" + Narrow(child) + "\" child \"" +
                                                    Narrow(install.Dir()) + "other\\hang.txt\"\nhang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    const auto childStarts = WaitForStarts(install, 1, 15s, L"other");
    ASSERT_EQ(childStarts.size(), 1u);
    const DWORD agent = EventsOf(ReadRunLog(install), "start").at(0).pid;

    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(15s), 1u);
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessAlive(agent) && !IsProcessAlive(childStarts[0].pid); }, 5s));
}

TEST(AgentWatch, ACrashingAgentIsRelaunchedWithoutBusyingTheSupervisorAndStopsAtOnce) {
    RunningInstall run(Launch().Script("crash\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;

    const double cpuBefore = QueryProcessStats(sup.Pid()).cpuMillis;
    const size_t startsBefore = CountStarts(install);
    const DWORD window = 8000;
    ::Sleep(window);
    const double cpu = QueryProcessStats(sup.Pid()).cpuMillis - cpuBefore;
    const size_t starts = CountStarts(install) - startsBefore;
    std::printf("crash loop: %zu launches and %.0f ms supervisor CPU in %lu ms\n", starts, cpu,
                static_cast<unsigned long>(window));
    // Still relaunched, but paced: 0.1 s doubling gives a handful in 8 s.
    EXPECT_GE(starts, 2u);
    EXPECT_LE(starts, 12u);
    EXPECT_LT(cpu, window * 0.10);

    // Stop ends a pause of several seconds at once.
    const DWORD stopAt = ::GetTickCount();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 5s));
    EXPECT_LT(::GetTickCount() - stopAt, 1000u);
    const size_t afterStop = CountStarts(install);
    ::Sleep(1500);
    EXPECT_EQ(CountStarts(install), afterStop);
}

TEST(AgentWatch, HandleCountDoesNotGrowOverManyRestarts) {
    RunningInstall run(Launch().Script("hang\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    auto restart = [&](size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const size_t before = CountStarts(install);
            ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
            ASSERT_EQ(WaitForStarts(install, before + 1, 10s).size(), before + 1);
        }
    };
    restart(10);
    ::Sleep(500);
    const long handlesBefore = CountHandles(sup.Pid());
    restart(60);
    ::Sleep(500);
    const long handlesAfter = CountHandles(sup.Pid());
    std::printf("supervisor handles: %ld after 10 restarts, %ld after 70\n", handlesBefore, handlesAfter);
    ASSERT_GT(handlesBefore, 0) << "the system's handle list could not be read";
    // A few handles come and go with the agent of the moment; one leaked per
    // restart would be 60.
    EXPECT_LE(handlesAfter, handlesBefore + 5);
    EXPECT_EQ(AgentPids(install).size(), 1u);
}

TEST(AgentWatch, StartDuringABackOffPauseLaunchesAtOnce) {
    RunningInstall run(Launch().Script("crash\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    // Pauses of 0, 0.1, 0.2, ... 1.6 s: after the seventh run comes one of 3.2 s.
    ASSERT_EQ(WaitForStarts(install, 7, 20s).size(), 7u);
    ::Sleep(500);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    const int64_t askedAt = NowMicroseconds();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    const auto starts = WaitForStarts(install, 8, 10s);
    ASSERT_EQ(starts.size(), 8u);
    EXPECT_LT(starts[7].t - askedAt, 1000 * 1000)
        << "launched " << (starts[7].t - askedAt) / 1000 << " ms after Start";
    EXPECT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));
}

// A file that is there but is no program: every launch fails. The supervisor
// stays responsive and paced, shows no error, Stop ends the attempts at once,
// and a real agent put in its place starts on Start.
TEST(AgentWatch, AnAgentFileThatCannotBeLaunchedIsRetriedQuietlyUntilReplaced) {
    RunningInstall run(Launch().WithoutAgent().File(L"bin\\Tollvane.exe", "not a program\r\n"));
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    ::Sleep(1000);
    const double cpuBefore = QueryProcessStats(sup.Pid()).cpuMillis;
    ::Sleep(4000);
    const double cpu = QueryProcessStats(sup.Pid()).cpuMillis - cpuBefore;
    EXPECT_LT(cpu, 4000 * 0.10) << "failed launches in a tight loop";
    EXPECT_TRUE(AgentPids(install).empty());
    DWORD_PTR result = 0;
    EXPECT_NE(::SendMessageTimeoutW(sup.m_hWnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result), 0);
    const std::vector<HWND> others = OtherVisibleWindows(sup.Pid(), sup.m_hWnd);
    EXPECT_TRUE(others.empty()) << "a window titled \"" << Narrow(ReadWindowText(others.front()))
                                << "\" appeared";

    const DWORD stopAt = ::GetTickCount();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 5s));
    EXPECT_LT(::GetTickCount() - stopAt, 1000u);

    install.RemoveAgent();
    CopyAgentTo(install, L"bin");
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    EXPECT_EQ(WaitForStarts(install, 1, 10s).size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return ShowsRunning(sup); }, 5s));
}
