// Ending the agent's process tree, seen from outside: Stop reaches the
// agent's descendants wherever they live and whatever runs from the agent
// directory's prefix, and nothing else.
#include <gtest/gtest.h>

#include "resource.h"
#include "tests/support/agent_support.h"

using namespace e2e;

namespace {

std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

}  // namespace

TEST(AgentTree, StopEndsChildGrandchildAndTheBinariesSiblingButNotOtherDirectories) {
    TempInstall install;
    DebugCapture debug;
    ASSERT_TRUE(debug.Active()) << "no debug-output capture: the \"Killed\" lines could not be checked";
    const std::wstring child = CopyAgentTo(install, L"other");
    const std::wstring grandchild = CopyAgentTo(install, L"other2");
    const std::wstring sibling = CopyAgentTo(install, L"binaries");
    const std::wstring stranger = CopyAgentTo(install, L"elsewhere");
    install.WriteFile(L"hang.txt", "hang\n");
    install.WriteFile(L"other2\\grand.txt", "hang\n");
    install.WriteFile(L"other\\child.txt", "spawn " + Quoted(grandchild) + " child " +
                                               Quoted(install.Dir() + L"other2\\grand.txt") + "\nhang\n");
    install.WriteFile(L"bin\\agent-script.txt", "spawn " + Quoted(child) + " child " +
                                                    Quoted(install.Dir() + L"other\\child.txt") + "\nhang\n");

    const DWORD siblingPid = StartAgentCopy(sibling, install.Dir() + L"hang.txt");
    const DWORD strangerPid = StartAgentCopy(stranger, install.Dir() + L"hang.txt");
    ASSERT_NE(siblingPid, 0u);
    ASSERT_NE(strangerPid, 0u);
    // The first launch already ends the sibling; start it again once the
    // agent runs, so that Stop has it to end.
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    const auto grandStarts = WaitForStarts(install, 1, 20s, L"other2");
    ASSERT_EQ(grandStarts.size(), 1u);
    EXPECT_FALSE(IsProcessAlive(siblingPid));
    const DWORD siblingAgain = StartAgentCopy(sibling, install.Dir() + L"hang.txt");
    ASSERT_TRUE(WaitUntil([&] { return CountStarts(install, L"binaries") == 2; }, 10s));

    const DWORD agentPid = EventsOf(ReadRunLog(install), "start").at(0).pid;
    const DWORD childPid = EventsOf(ReadRunLog(install, L"other"), "start").at(0).pid;
    const DWORD grandPid = grandStarts[0].pid;
    EXPECT_EQ(grandStarts[0].fields.at("ppid"), std::to_string(childPid));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !IsProcessAlive(agentPid) && !IsProcessAlive(childPid) && !IsProcessAlive(grandPid) &&
                   !IsProcessAlive(siblingAgain);
        },
        5s));
    EXPECT_TRUE(WaitUntil(
        [&] { return sup.ControlText(ID_AGENT_START) == L"Start" && !sup.ControlEnabled(ID_AGENT_STOP); },
        5s));
    EXPECT_TRUE(IsProcessAlive(strangerPid));

    // The sibling is outside the agent's job: the sweep by path ends it. The
    // agent's tree shares its console and ends on the Ctrl+C it is sent.
    EXPECT_TRUE(debug.WaitForLine(
        sup.Pid(), [&](const std::wstring& line) { return line == L"Killed " + sibling; }, 3s));
    for (const std::wstring& line : debug.LinesFrom(sup.Pid())) {
        EXPECT_EQ(line.find(stranger), std::wstring::npos) << Narrow(line);
        for (const std::wstring& asked : {install.AgentPath(), child, grandchild})
            EXPECT_NE(line, L"Killed " + asked);
    }
    KillPid(strangerPid);
}

TEST(AgentTree, OneFolderSpelledTwoWaysIsOneAgentFolderForTheSweepAndForStop) {
    TempInstall install;
    const std::wstring alias = SpelledThroughAnotherDrive(install.ExePath());
    if (alias.empty()) GTEST_SKIP() << "no second drive letter can be made here";
    install.WriteFile(L"hang.txt", "hang\n");
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    // A copy left running under the folder's usual spelling ...
    const DWORD stalePid = StartAgentCopy(install.AgentPath(), install.Dir() + L"hang.txt");
    ASSERT_NE(stalePid, 0u);
    // ... is ended by the sweep of a supervisor started through the other.
    Supervisor sup(alias);
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    const auto starts = WaitForStarts(install, 1, 20s);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessAlive(stalePid); }, 5s));
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessAlive(starts[0].pid); }, 5s));
}
