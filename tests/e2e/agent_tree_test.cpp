// Ending the agent's process tree, seen from outside: Stop reaches the
// agent's descendants wherever they live and whatever runs from the agent
// directory, and nothing else: not a folder beside it that only begins with
// its name.
#include <gtest/gtest.h>

#include "resource.h"
#include "tests/support/agent_support.h"

using namespace e2e;

namespace {

std::string Quoted(const std::wstring& path) { return "\"" + Narrow(path) + "\""; }

}  // namespace

TEST(AgentTree, StopEndsChildAndGrandchildButNeitherSiblingFoldersNorOtherDirectories) {
    TempInstall install;
    DebugCapture debug;
    ASSERT_TRUE(debug.Active()) << "no debug-output capture: the \"Killed\" lines could not be checked";
    const std::wstring child = CopyAgentTo(install, L"other");
    const std::wstring grandchild = CopyAgentTo(install, L"other2");
    const std::vector<std::wstring> siblings = {CopyAgentTo(install, L"binaries"),
                                                CopyAgentTo(install, L"bin - Copy")};
    const std::wstring stranger = CopyAgentTo(install, L"elsewhere");
    install.WriteFile(L"hang.txt", "hang\n");
    install.WriteFile(L"other2\\grand.txt", "hang\n");
    install.WriteFile(L"other\\child.txt", "spawn " + Quoted(grandchild) + " child " +
                                               Quoted(install.Dir() + L"other2\\grand.txt") + "\nhang\n");
    install.WriteFile(L"bin\\agent-script.txt", "spawn " + Quoted(child) + " child " +
                                                    Quoted(install.Dir() + L"other\\child.txt") + "\nhang\n");

    std::vector<DWORD> keptPids;
    for (const std::wstring& exe : siblings)
        keptPids.push_back(StartAgentCopy(exe, install.Dir() + L"hang.txt"));
    keptPids.push_back(StartAgentCopy(stranger, install.Dir() + L"hang.txt"));
    for (DWORD pid : keptPids) ASSERT_NE(pid, 0u);
    // The sweep before the launch leaves them alone, and so does Stop's.
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    const auto grandStarts = WaitForStarts(install, 1, 20s, L"other2");
    ASSERT_EQ(grandStarts.size(), 1u);

    const DWORD agentPid = EventsOf(ReadRunLog(install), "start").at(0).pid;
    const DWORD childPid = EventsOf(ReadRunLog(install, L"other"), "start").at(0).pid;
    const DWORD grandPid = grandStarts[0].pid;
    EXPECT_EQ(grandStarts[0].fields.at("ppid"), std::to_string(childPid));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil(
        [&] { return !IsProcessAlive(agentPid) && !IsProcessAlive(childPid) && !IsProcessAlive(grandPid); },
        5s));
    EXPECT_TRUE(WaitUntil(
        [&] { return sup.ControlText(ID_AGENT_START) == L"Start" && !sup.ControlEnabled(ID_AGENT_STOP); },
        5s));
    for (DWORD pid : keptPids) EXPECT_TRUE(IsProcessAlive(pid)) << pid;

    // The agent's tree shares its console and ends on the Ctrl+C it is sent:
    // nothing was left for the sweep.
    for (const std::wstring& line : debug.LinesFrom(sup.Pid())) {
        for (const std::wstring& kept :
             {siblings[0], siblings[1], stranger, install.AgentPath(), child, grandchild})
            EXPECT_NE(line, L"Killed " + kept);
    }
    for (DWORD pid : keptPids) KillPid(pid);
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
