// Figures, not checks: relaunch latency, Stop latency for a 20-process tree
// and the supervisor's CPU over 30 s of a crash-looping agent, measured on
// real installations as the end-to-end tests lay them out. `make bench` runs
// it with the other benchmarks; a step that does not happen fails it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "resource.h"
#include "tests/support/agent_support.h"

using namespace e2e;

namespace {

std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

void PrintSpread(const char* what, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::printf("%-36s n=%2zu  min %7.1f  median %7.1f  max %7.1f ms\n", what, ms.size(), ms.front(),
                ms[ms.size() / 2], ms.back());
}

}  // namespace

TEST(AgentLatencyBench, RelaunchAndStopLatencyAndCrashLoopCpu) {
    // Relaunch: agent exit (its own record) to the next agent's start record.
    {
        TempInstall install;
        install.WriteFile(L"bin\\agent-script.txt", "sleep 1100\nexit 0\n");
        Supervisor sup(install.ExePath());
        ASSERT_NE(sup.WaitForWindow(), nullptr);
        const size_t runs = 11;
        ASSERT_EQ(WaitForStarts(install, runs, 60s).size(), runs);
        const auto events = ReadRunLog(install);
        const auto starts = EventsOf(events, "start");
        const auto exits = EventsOf(events, "exit");
        std::vector<double> gaps;
        for (size_t i = 0; i + 1 < starts.size() && i < exits.size(); ++i)
            gaps.push_back(static_cast<double>(starts[i + 1].t - exits[i].t) / 1000.0);
        PrintSpread("relaunch (exit -> next start)", gaps);
    }

    // Stop: the agent with 3 children of 5 grandchildren each and one more
    // child, 20 processes, all outside the agent directory but the agent.
    {
        TempInstall install;
        const std::wstring child = CopyAgentTo(install, L"other");
        const std::wstring grandchild = CopyAgentTo(install, L"other2");
        install.WriteFile(L"hang.txt", "hang\n");
        const std::string hang = Quoted(install.Dir() + L"hang.txt");
        std::string childScript, agentScript;
        for (int i = 0; i < 5; ++i) childScript += "spawn " + Quoted(grandchild) + " child " + hang + "\n";
        childScript += "hang\n";
        install.WriteFile(L"child.txt", childScript);
        for (int i = 0; i < 3; ++i)
            agentScript += "spawn " + Quoted(child) + " child " + Quoted(install.Dir() + L"child.txt") + "\n";
        agentScript += "spawn " + Quoted(child) + " child " + hang + "\nhang\n";
        install.WriteFile(L"bin\\agent-script.txt", agentScript);

        Supervisor sup(install.ExePath());
        ASSERT_NE(sup.WaitForWindow(), nullptr);
        std::vector<double> ended, buttons;
        for (int round = 0; round < 5; ++round) {
            if (round > 0) {
                ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
            }
            const size_t want = static_cast<size_t>(round + 1);
            ASSERT_EQ(WaitForStarts(install, want, 20s).size(), want);
            ASSERT_EQ(WaitForStarts(install, want * 4, 20s, L"other").size(), want * 4);
            ASSERT_EQ(WaitForStarts(install, want * 15, 30s, L"other2").size(), want * 15);
            std::vector<HANDLE> tree;
            for (const wchar_t* dir : {L"bin", L"other", L"other2"}) {
                const auto starts = EventsOf(ReadRunLog(install, dir), "start");
                const size_t perRound = starts.size() / want;
                for (size_t i = starts.size() - perRound; i < starts.size(); ++i)
                    tree.push_back(::OpenProcess(SYNCHRONIZE, FALSE, starts[i].pid));
            }
            ASSERT_EQ(tree.size(), 20u);
            const int64_t t0 = NowMicroseconds();
            sup.PostCommand(ID_AGENT_STOP);
            const DWORD waited =
                ::WaitForMultipleObjects(static_cast<DWORD>(tree.size()), tree.data(), TRUE, 10000);
            const int64_t t1 = NowMicroseconds();
            // A wait that times out is a miss, counted at the timeout's value.
            const bool shown = WaitUntil([&] { return !sup.ControlEnabled(ID_AGENT_STOP); }, 5s, 1ms);
            const int64_t t2 = NowMicroseconds();
            for (HANDLE h : tree) ::CloseHandle(h);
            ASSERT_EQ(waited, WAIT_OBJECT_0);
            EXPECT_TRUE(shown) << "round " << round << ": the buttons did not show stopped within 5 s";
            ended.push_back(static_cast<double>(t1 - t0) / 1000.0);
            buttons.push_back(shown ? static_cast<double>(t2 - t0) / 1000.0 : 5000.0);
        }
        PrintSpread("Stop -> 20-process tree ended", ended);
        PrintSpread("Stop -> buttons show stopped", buttons);
    }

    // Crash loop: supervisor CPU over 30 s.
    {
        TempInstall install;
        install.WriteFile(L"bin\\agent-script.txt", "crash\n");
        Supervisor sup(install.ExePath());
        ASSERT_NE(sup.WaitForWindow(), nullptr);
        ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
        const double cpu0 = QueryProcessStats(sup.Pid()).cpuMillis;
        const size_t starts0 = CountStarts(install);
        ::Sleep(30000);
        const double cpu = QueryProcessStats(sup.Pid()).cpuMillis - cpu0;
        std::printf("crash loop, 30 s: %zu launches, supervisor CPU %.0f ms (%.2f%%)\n",
                    CountStarts(install) - starts0, cpu, cpu / 300.0);
    }
}
