// Ending the agent, seen from outside: it is asked first (Ctrl+C, WM_CLOSE)
// and forced after the grace, a second command forces at once, and its tree
// never outlives the supervisor.
#include <gtest/gtest.h>

#include <string>

#include "resource.h"
#include "supervision/stop_rules.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"

using namespace e2e;

namespace {

std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

// Waits for the agent's line of kind from pid; true when it came.
bool WaitForEvent(const TempInstall& install, const std::string& kind, DWORD pid, Millis timeout = 5s) {
    return WaitUntil(
        [&] {
            for (const AgentEvent& e : EventsOf(ReadRunLog(install), kind))
                if (e.pid == pid) return true;
            return false;
        },
        timeout);
}

DWORD LastStartPid(const TempInstall& install) { return EventsOf(ReadRunLog(install), "start").back().pid; }

}  // namespace

TEST(AgentStop, TheSupervisorEndedFromOutsideLeavesNoProcessOfTheAgentsTree) {
    TempInstall install;
    const std::wstring child = CopyAgentTo(install, L"other");
    const std::wstring grandchild = CopyAgentTo(install, L"other2");
    install.WriteFile(L"other2\\grand.txt", "hang\n");
    install.WriteFile(L"other\\child.txt", "spawn " + Quoted(grandchild) + " child " +
                                               Quoted(install.Dir() + L"other2\\grand.txt") + "\nhang\n");
    install.WriteFile(L"bin\\agent-script.txt", "spawn " + Quoted(child) + " child " +
                                                    Quoted(install.Dir() + L"other\\child.txt") + "\nhang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    const auto grandStarts = WaitForStarts(install, 1, 20s, L"other2");
    ASSERT_EQ(grandStarts.size(), 1u);
    const DWORD pids[] = {LastStartPid(install), EventsOf(ReadRunLog(install, L"other"), "start").at(0).pid,
                          grandStarts[0].pid};

    sup.Kill();
    ::Sleep(1000);
    for (DWORD pid : pids) {
        EXPECT_FALSE(IsProcessAlive(pid)) << "pid " << pid << " outlived the supervisor";
    }
}

// An agent that takes Ctrl+C, one that takes WM_CLOSE: each ends by itself
// on Stop, with its own exit code, well within the grace.
TEST(AgentStop, AnAgentThatTakesTheAskEndsByItselfWithItsOwnExitCode) {
    const struct {
        const char* script;
        const char* answer;
        const char* exited;
    } agents[] = {
        {"onctrlc 42\nhang\n", "ctrlc", "agent exited: code 42 (0x0000002A)"},
        {"ignorectrlc\nwindow 43\nhang\n", "close", "agent exited: code 43 (0x0000002B)"},
    };
    for (const auto& agent : agents) {
        SCOPED_TRACE(agent.script);
        TempInstall install;
        JournalText journal(install);
        install.WriteFile(L"bin\\agent-script.txt", agent.script);
        const DWORD launchAt = ::GetTickCount();
        Supervisor sup(install.ExePath());
        ASSERT_NE(sup.WaitForWindow(), nullptr);
        ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
        // What this machine takes now for a start with its tree walk: the
        // Stop's own walks and messages around the agent's answer take no
        // longer. Under load they take seconds, not the grace's fraction.
        const DWORD busyMs = ::GetTickCount() - launchAt;
        const DWORD pid = LastStartPid(install);
        if (std::string(agent.answer) == "close") {
            ASSERT_TRUE(WaitForEvent(install, "window", pid));
        }

        const DWORD stopAt = ::GetTickCount();
        ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
        EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, Millis(kStopGraceMs + 5000 + 2 * busyMs)));
        // Ended by itself, not forced at the grace's end: the journal says so below.
        EXPECT_LT(::GetTickCount() - stopAt, kStopGraceMs + busyMs) << "a start took " << busyMs << " ms";
        EXPECT_TRUE(WaitForEvent(install, agent.answer, pid)) << install.ReadFile(L"bin\\agent-runs.log");
        EXPECT_TRUE(journal.WaitFor("[supervisor] asked to end (Ctrl+C, close); ended by itself after 0."));
        EXPECT_TRUE(journal.WaitFor(std::string("[supervisor] ") + agent.exited)) << journal.Read();
    }
}

TEST(AgentStop, AnAgentIgnoringTheAskIsForcedAfterTheGraceOrAtOnceOnASecondStop) {
    RunningInstall run(Launch().Script("ignorectrlc\nignoreclose\nhang\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    JournalText journal(install);
    DWORD pid = LastStartPid(install);
    ASSERT_TRUE(WaitForEvent(install, "window", pid));

    DWORD stopAt = ::GetTickCount();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    // The command returned at once; Stop stays enabled while the agent has its grace.
    EXPECT_TRUE(WaitUntil([&] { return sup.ControlText(ID_AGENT_STOP) == L"Stopping\u2026"; }, 1s));
    EXPECT_TRUE(sup.ControlEnabled(ID_AGENT_STOP));
    ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 6s));
    const DWORD forcedAfter = ::GetTickCount() - stopAt;
    EXPECT_GE(forcedAfter, kStopGraceMs - 100);
    EXPECT_LT(forcedAfter, kStopGraceMs + 1500);
    EXPECT_TRUE(WaitForEvent(install, "ctrlc", pid));
    EXPECT_TRUE(WaitForEvent(install, "close", pid));
    EXPECT_FALSE(IsProcessAlive(pid));
    EXPECT_TRUE(journal.WaitFor("[supervisor] did not end within 2 s; ended by force"));
    EXPECT_TRUE(journal.WaitFor("[supervisor] agent exited: code 0 (0x00000000)"));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ASSERT_EQ(WaitForStarts(install, 2, 15s).size(), 2u);
    pid = LastStartPid(install);
    ASSERT_TRUE(WaitForEvent(install, "window", pid));
    stopAt = ::GetTickCount();
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(WaitForEvent(install, "ctrlc", pid));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 5s));
    EXPECT_LT(::GetTickCount() - stopAt, kStopGraceMs - 500);
    EXPECT_TRUE(journal.WaitFor("on a new command"));
}

// Exit hides the window at once and serves messages while the agent ends: an
// agent that tells every window before it ends (a broadcast that waits for
// ours too) ends by itself, not by force.
TEST(AgentStop, ExitHidesAtOnceAndServesAnAgentThatTellsEveryWindowBeforeItEnds) {
    TempInstall install;
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "ignorectrlc\nbroadcastwindow 44\nhang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
    ASSERT_TRUE(WaitForEvent(install, "window", LastStartPid(install)));
    ASSERT_TRUE(sup.IsVisible());
    sup.PostCommand(ID_APP_EXIT);
    EXPECT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 1500ms));
    EXPECT_EQ(sup.WaitForExit(15s), 1u);
    const std::string text = journal.Read();
    EXPECT_NE(text.find("[supervisor] asked to end (Ctrl+C, close); ended by itself"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[supervisor] agent exited: code 44"), std::string::npos) << text;
}

// Restart and Exit ask as Stop does, and an agent started after an ask still
// takes the next one: the supervisor's own protection is not inherited.
TEST(AgentStop, RestartAndExitAskTooAndEveryNewAgentTakesTheNextAsk) {
    RunningInstall run(Launch().Script("onctrlc 42\nhang\n").FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    for (size_t n = 1; n <= 2; ++n) {
        const DWORD pid = LastStartPid(install);
        ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
        ASSERT_EQ(WaitForStarts(install, n + 1, 15s).size(), n + 1);
        EXPECT_TRUE(WaitForEvent(install, "ctrlc", pid)) << "restart " << n;
    }
    const DWORD pid = LastStartPid(install);
    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(15s), 1u);
    EXPECT_TRUE(WaitForEvent(install, "ctrlc", pid));
}

TEST(AgentStop, TheJournalNamesTheCodeAnAgentDiedWith) {
    TempInstall install;
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "crash\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_TRUE(journal.WaitFor(
        "[supervisor] agent exited: code 3221225477 (0xC0000005, access violation), ran ", 15s))
        << journal.Read();
}

// Ctrl+C reaches everyone on a console: never one the agent shares with a
// program that is not its own. Such an agent is asked with WM_CLOSE alone.
TEST(AgentStop, NoCtrlCGoesToAConsoleTheAgentSharesWithAnotherProgram) {
    RunningInstall run(Launch().Script("onctrlc 42\nhang\n").FirstStart());
    const TempInstall& install = run.install;
    JournalText journal(install);
    const std::wstring stranger = CopyAgentTo(install, L"elsewhere");
    install.WriteFile(L"elsewhere\\s.txt",
                      "ignorectrlc\nattach " + std::to_string(LastStartPid(install)) + "\nhang\n");
    const DWORD strangerPid = StartAgentCopy(stranger, install.Dir() + L"elsewhere\\s.txt");
    const auto attached = [&] {
        const auto events = EventsOf(ReadRunLog(install, L"elsewhere"), "attach");
        return !events.empty() && events[0].fields.at("ok") == "1";
    };
    ASSERT_TRUE(WaitUntil(attached, 10s)) << install.ReadFile(L"elsewhere\\agent-runs.log");

    ASSERT_TRUE(run.sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(run.sup); }, 8s));
    EXPECT_TRUE(journal.WaitFor("[supervisor] did not end within 2 s; ended by force")) << journal.Read();
    // (The stranger may go with the console once the agent is forced.)
    EXPECT_TRUE(EventsOf(ReadRunLog(install, L"elsewhere"), "ctrlc").empty())
        << install.ReadFile(L"elsewhere\\agent-runs.log");
    KillPid(strangerPid);
}

// A program the agent opens for the user (a browser) leaves the agent's job
// and outlives both a Stop and the supervisor.
TEST(AgentStop, AProgramTheAgentStartsOutOfItsJobOutlivesTheAgent) {
    TempInstall install;
    const std::wstring browser = CopyAgentTo(install, L"browser");
    install.WriteFile(L"browser\\b.txt", "hang\n");
    install.WriteFile(L"bin\\agent-script.txt", "onctrlc 0\nspawnaway " + Quoted(browser) + " child " +
                                                    Quoted(install.Dir() + L"browser\\b.txt") + "\nhang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    const auto starts = WaitForStarts(install, 1, 20s, L"browser");
    ASSERT_EQ(starts.size(), 1u) << install.ReadFile(L"bin\\agent-runs.log");
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 8s));
    EXPECT_TRUE(IsProcessAlive(starts[0].pid));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ASSERT_EQ(WaitForStarts(install, 2, 20s).size(), 2u);
    sup.Kill();
    ::Sleep(1000);
    EXPECT_TRUE(IsProcessAlive(starts[0].pid));
    KillPid(starts[0].pid);
}
