// Conditions the supervisor meets instead of its agent: a pipe name that
// another program holds, an agent path that is a folder, the session ending.
#include <gtest/gtest.h>

#include <string>

#include "names/name_rules.h"
#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"

using namespace e2e;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(PipeOwner, NoAgentRunsWhileAnotherProgramHoldsThePipeNameAndOneStartsOnceItIsFree) {
    TempInstall install;
    JournalText journal(install);
    // Taken first, as a stranger would: the supervisor cannot be its first owner.
    HANDLE hStranger = ::CreateNamedPipeW(
        MakePipeName(install.AgentPath()).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(hStranger, INVALID_HANDLE_VALUE);
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_TRUE(journal.WaitFor("another program holds the output pipe", 10s)) << journal.Read();
    ::Sleep(1500);
    EXPECT_EQ(CountStarts(install), 0u);
    EXPECT_EQ(Count(journal.Read(), "another program holds the output pipe"), 1u);

    ::CloseHandle(hStranger);
    const std::vector<AgentEvent> starts = WaitForStarts(install, 1, 10s);
    ASSERT_EQ(starts.size(), 1u);
    // The agent can tell its supervisor's pipe by the id it is given.
    EXPECT_EQ(starts[0].fields.at("supervisor"), std::to_string(sup.Pid()));
    HWND log = ::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT);
    EXPECT_TRUE(WaitUntil([&] { return !ReadWindowText(log).empty(); }, 10s));
}

TEST(AgentFile, AFolderInTheAgentsPlaceIsNotStartedAndTheJournalSaysItIsAFolder) {
    TempInstall install(false);
    JournalText journal(install);
    ASSERT_TRUE(::CreateDirectoryW(install.AgentPath().c_str(), nullptr));
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_TRUE(journal.WaitFor("agent file is a folder: ", 10s)) << journal.Read();
    EXPECT_TRUE(WaitUntil([&] { return ShowsStopped(sup); }, 10s));
    // Start tries again, and again launches nothing.
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    ::Sleep(1000);
    EXPECT_TRUE(ShowsStopped(sup));
    EXPECT_EQ(Count(journal.Read(), "agent started"), 0u);
}

TEST(SessionEnd, FromTheQueryOnNothingIsLaunchedAndTheEndWritesTheJournalWithinTwoSeconds) {
    TempInstall install;
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(sup.m_hWnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000,
                                      &result));
    EXPECT_NE(result, 0u);
    // The agent ends by itself at sign-out; it must not come back.
    for (DWORD pid : AgentPids(install)) KillPid(pid);
    ::Sleep(1500);
    EXPECT_EQ(CountStarts(install), 1u);

    const DWORD begin = ::GetTickCount();
    ASSERT_TRUE(
        ::SendMessageTimeoutW(sup.m_hWnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &result));
    EXPECT_LT(::GetTickCount() - begin, 2000u);
    EXPECT_NE(journal.Read().find("session ending"), std::string::npos) << journal.Read();
    EXPECT_TRUE(AgentPids(install).empty());
}

namespace {

// The session's end as the system brings it: the query, then the end.
void EndSession(const Supervisor& sup) {
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(sup.m_hWnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000,
                                      &result));
    ASSERT_TRUE(
        ::SendMessageTimeoutW(sup.m_hWnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &result));
}

}  // namespace

// The system ends the agent before the supervisor; one still there then is
// asked once, and has its moment, before the force.
TEST(SessionEnd, AnAgentStillThereAtTheEndIsAskedOnceBeforeItIsForced) {
    RunningInstall run(Launch().Script("onctrlc 42\nhang\n").FirstStart());
    const DWORD pid = EventsOf(ReadRunLog(run.install), "start").back().pid;
    const DWORD begin = ::GetTickCount();
    EndSession(run.sup);
    EXPECT_LT(::GetTickCount() - begin, 4000u);
    EXPECT_EQ(EventsOf(ReadRunLog(run.install), "ctrlc").size(), 1u)
        << run.install.ReadFile(L"bin\\agent-runs.log");
    EXPECT_FALSE(IsProcessAlive(pid));
}

// While another program holds the pipe's name, what runs from the agent
// folder is that program's: the session's end leaves it alone, as Stop does.
TEST(SessionEnd, WhileAnotherProgramHoldsThePipeNameTheEndLeavesTheAgentFolderAlone) {
    TempInstall install;
    JournalText journal(install);
    install.WriteFile(L"hang.txt", "hang\n");
    HANDLE hStranger = ::CreateNamedPipeW(
        MakePipeName(install.AgentPath()).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(hStranger, INVALID_HANDLE_VALUE);
    const DWORD theirs = StartAgentCopy(install.AgentPath(), install.Dir() + L"hang.txt");
    ASSERT_NE(theirs, 0u);
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_TRUE(journal.WaitFor("another program holds the output pipe", 10s)) << journal.Read();
    EndSession(sup);
    EXPECT_TRUE(journal.WaitFor("session ending")) << journal.Read();
    EXPECT_TRUE(IsProcessAlive(theirs));
    KillPid(theirs);
    ::CloseHandle(hStranger);
}

TEST(PipeOwner, AFolderTooDeepForThePipeNameSaysSoOnceAndStillRunsTheAgent) {
    // 198 characters of folder and the pipe name has 257.
    TempInstall install(true, 199);
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
    EXPECT_TRUE(journal.WaitFor("no output: the pipe name has 257 characters", 10s)) << journal.Read();
    // One supervisor per folder at this depth too.
    Supervisor second(install.ExePath());
    EXPECT_EQ(second.WaitForExit(20s), 0u);
    EXPECT_EQ(Count(journal.Read(), "no output:"), 1u);
}

// Installers and servicing close programs through the Restart Manager: the
// supervisor then ends as Exit does. A session end that was called off lets
// launches through again, and a Start while they are held says why.
TEST(SessionEnd, ACloseRequestEndsTheSupervisorAndACalledOffEndLetsLaunchesThrough) {
    TempInstall install;
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
    const auto send = [&](UINT message, WPARAM wParam) {
        DWORD_PTR result = 0;
        return ::SendMessageTimeoutW(sup.m_hWnd, message, wParam, ENDSESSION_CLOSEAPP, SMTO_BLOCK, 10000,
                                     &result) != 0;
    };
    ASSERT_TRUE(send(WM_QUERYENDSESSION, 0));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    EXPECT_TRUE(journal.WaitFor("[supervisor] Start by the user: nothing is started while the session ends"))
        << journal.Read();
    ASSERT_TRUE(send(WM_ENDSESSION, FALSE));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    EXPECT_EQ(WaitForStarts(install, 2, 15s).size(), 2u);

    ASSERT_TRUE(send(WM_QUERYENDSESSION, 0));
    send(WM_ENDSESSION, TRUE);
    EXPECT_EQ(sup.WaitForExit(15s), 1u);
    EXPECT_TRUE(AgentPids(install).empty());
    const std::string text = journal.Read(), last = "[supervisor] supervisor exiting\r\n";
    EXPECT_EQ(text.rfind(last), text.size() - last.size()) << text;
}
