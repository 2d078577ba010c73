// Supervisor and shell fault drills: the supervisor killed from outside
// while its agent runs, two supervisors of one installation started at the
// same moment, and the taskbar announcing itself again while output flows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/drill_support.h"
#include "tests/support/tray_menu_support.h"

using namespace e2e;

namespace {

std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

std::vector<HWND> WindowsOfInstall(const TempInstall& install) {
    std::vector<HWND> found;
    for (HWND hWnd : FindSupervisorWindows()) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        for (const ProcessInfo& p : ProcessesUnder(install.Dir()))
            if (p.pid == pid && p.path == install.ExePath()) found.push_back(hWnd);
    }
    return found;
}

}  // namespace

TEST(DrillSupervisor, KilledFromOutsideThenStartedAgainEndsTheStaleTreeBeforeLaunching) {
    const int rounds = Scaled(2, 10);
    TempInstall install;
    const std::wstring child = CopyAgentTo(install, L"other");
    install.WriteFile(L"other\\hang.txt", "hang\n");
    install.WriteFile(L"bin\\agent-script.txt", "spawn " + Quoted(child) + " child " +
                                                    Quoted(install.Dir() + L"other\\hang.txt") + "\nhang\n");
    int64_t closest = INT64_MAX;  // smallest margin between the stale tree's end and the new launch
    for (int r = 0; r < rounds; ++r) {
        std::vector<HANDLE> stale;
        {
            // A killed supervisor's tree ends with it (its job); a stale tree
            // is one no supervisor held: a copy started by hand, with a child.
            ASSERT_NE(StartAgentCopy(install.AgentPath(), install.Dir() + L"bin\\agent-script.txt"), 0u);
            // Each round has two runs: the copy's and the supervisor's.
            const size_t want = static_cast<size_t>(2 * r + 1);
            ASSERT_EQ(WaitForStarts(install, want, 15s).size(), want);
            ASSERT_EQ(WaitForStarts(install, want, 15s, L"other").size(), want);
            for (DWORD pid : {EventsOf(ReadRunLog(install), "start").back().pid,
                              EventsOf(ReadRunLog(install, L"other"), "start").back().pid})
                stale.push_back(::OpenProcess(SYNCHRONIZE, FALSE, pid));
        }
        ASSERT_TRUE(stale[0] != nullptr && stale[1] != nullptr);
        const DWORD early = ::WaitForMultipleObjects(2, stale.data(), FALSE, 500);
        ASSERT_EQ(early, static_cast<DWORD>(WAIT_TIMEOUT));
        // Note when the stale tree ends.
        std::atomic<int64_t> endedAt{0};
        std::thread watcher([&] {
            if (::WaitForMultipleObjects(2, stale.data(), TRUE, 20000) == WAIT_OBJECT_0)
                endedAt = NowMicroseconds();
        });
        Supervisor again(install.ExePath());
        HWND hWnd = again.WaitForWindow();
        const auto starts = WaitForStarts(install, static_cast<size_t>(2 * r + 2), 15s);
        watcher.join();
        for (HANDLE h : stale) ::CloseHandle(h);
        ASSERT_NE(hWnd, nullptr);
        ASSERT_EQ(starts.size(), static_cast<size_t>(2 * r + 2));
        ASSERT_NE(endedAt.load(), 0) << "the stale tree survived";
        // The end is seen a little after it happens, and the new agent writes
        // its first line only after its process has been created (tens of
        // milliseconds under Wine): seen in that order, the tree ended first.
        EXPECT_LT(endedAt.load(), starts.back().t)
            << "the stale tree was seen gone " << (endedAt.load() - starts.back().t) / 1000
            << " ms after the new agent started";
        closest = std::min<int64_t>(closest, starts.back().t - endedAt.load());
        ::Sleep(1000);
        EXPECT_EQ(AgentPids(install), std::vector<DWORD>{starts.back().pid});
        again.Kill();
    }
    KillProcessesUnder(install.Dir());
    PrintFigure("killed supervisor",
                std::to_string(rounds) +
                    " rounds, stale agent and child ended each time; new launch at least " +
                    std::to_string(closest / 1000) + " ms after the stale tree was seen gone");
}

TEST(DrillSupervisor, TwoStartsAtTheSameMomentLeaveOneVisibleInstance) {
    const int rounds = Scaled(4, 20);
    TempInstall install;
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    int exitedZero = 0;
    std::vector<size_t> bothRan;        // agent launches of each round in which both stayed
    std::vector<size_t> agentsRunning;  // and agents running at its end
    for (int r = 0; r < rounds; ++r) {
        // Both processes are made suspended, then let go together.
        std::vector<PROCESS_INFORMATION> procs(2);
        for (PROCESS_INFORMATION& pi : procs) {
            std::wstring cmd = L"\"" + install.ExePath() + L"\"";
            STARTUPINFOW si = {};
            si.cb = sizeof(si);
            ASSERT_TRUE(::CreateProcessW(install.ExePath().c_str(), &cmd[0], nullptr, nullptr, FALSE,
                                         CREATE_SUSPENDED, nullptr, install.Dir().c_str(), &si, &pi));
        }
        const size_t startsBefore = CountStarts(install);
        for (PROCESS_INFORMATION& pi : procs) ::ResumeThread(pi.hThread);
        // One of them ends with 0, the other stays with its window.
        HANDLE handles[2] = {procs[0].hProcess, procs[1].hProcess};
        const DWORD first = ::WaitForMultipleObjects(2, handles, FALSE, 6000);
        EXPECT_TRUE(first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1) << "neither start gave way";
        if (first == WAIT_TIMEOUT) {
            // Two supervisors of one installation: each launch of one ends
            // the other's agent. Count the launches of the round.
            bothRan.push_back(CountStarts(install) - startsBefore);
            agentsRunning.push_back(AgentPids(install).size());
        }
        if (first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1) {
            DWORD code = 99;
            ::GetExitCodeProcess(handles[first - WAIT_OBJECT_0], &code);
            EXPECT_EQ(code, 0u);
            exitedZero += code == 0;
            HANDLE other = handles[1 - (first - WAIT_OBJECT_0)];
            EXPECT_EQ(::WaitForSingleObject(other, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
            std::vector<HWND> windows;
            EXPECT_TRUE(WaitUntil([&] { return (windows = WindowsOfInstall(install)).size() == 1; }, 10s));
            if (windows.size() == 1) {
                EXPECT_TRUE(::IsWindowVisible(windows[0]));
            }
            EXPECT_TRUE(WaitUntil([&] { return AgentPids(install).size() == 1; }, 10s));
        }
        for (PROCESS_INFORMATION& pi : procs) {
            ::TerminateProcess(pi.hProcess, 0);
            ::WaitForSingleObject(pi.hProcess, 5000);
            ::CloseHandle(pi.hThread);
            ::CloseHandle(pi.hProcess);
        }
        KillProcessesUnder(install.Dir());
    }
    PrintFigure("two at once", std::to_string(rounds) + " rounds, " + std::to_string(exitedZero) +
                                   " times one start gave way with 0 and one window stayed");
    if (!bothRan.empty()) {
        std::string counts;
        for (size_t i = 0; i < bothRan.size(); ++i)
            counts +=
                " " + std::to_string(bothRan[i]) + " (" + std::to_string(agentsRunning[i]) + " running)";
        PrintFigure("two at once", "both stayed in " + std::to_string(bothRan.size()) +
                                       " rounds; agent launches in each such round's first 6 s:" + counts);
    }
}

TEST(DrillShell, TaskbarCreatedBroadcastsWhileOutputFlowsBringTheIconBack) {
    const int rounds = Scaled(5, 40);
    RunningInstall run(Launch().Script("hang\n"));
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(hDlg); }, 10s));
    DebugCapture capture;
    ASSERT_TRUE(capture.Active()) << "no debug-output capture";

    // The writer connects before the first broadcast, so that every one of
    // them comes while output flows.
    std::atomic<bool> stop{false};
    std::atomic<size_t> written{0};
    PipeClient client(SupervisorPipeName(install));
    ASSERT_TRUE(client.Connect()) << "the writer could not connect to the supervisor's pipe";
    std::thread writer([&] {
        for (size_t i = 0; !stop; ++i) {
            if (client.Write("INFO,flow " + std::to_string(i))) ++written;
        }
    });
    int back = 0;
    const UINT taskbarCreated = TaskbarCreatedMessage();
    for (int r = 0; r < rounds; ++r) {
        ASSERT_TRUE(ForgetTrayIcon(hDlg));
        // The shell's broadcast goes to every top-level window.
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, 5000,
                              &result);
        back += WaitUntil([&] { return TrayIconPresent(hDlg); }, 5s) ? 1 : 0;
    }
    stop = true;
    writer.join();
    size_t lines = 0;
    for (const std::wstring& line : capture.LinesFrom(sup.Pid())) lines += line == L"tray icon added again";
    PrintFigure("taskbar created", std::to_string(back) + " of " + std::to_string(rounds) +
                                       " broadcasts brought the icon back, " + std::to_string(lines) +
                                       " debug lines, " + std::to_string(written) + " messages meanwhile");
    EXPECT_EQ(back, rounds);
    EXPECT_GE(lines, static_cast<size_t>(rounds));
    EXPECT_TRUE(client.Connected()) << "a write failed: the connection dropped while the icon came back";
    EXPECT_GT(written.load(), static_cast<size_t>(rounds));
    EXPECT_TRUE(sup.IsRunning());
}
