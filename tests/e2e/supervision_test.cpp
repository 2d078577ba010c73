// Supervision faults seen from outside: an agent nobody may open, two
// spellings of one installation, a name held by a supervisor we may not
// open, and the demo agent as it ships.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "names/name_rules.h"
#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"

using namespace e2e;

namespace {

// Whether pid is in the system's process list; unlike opening it, this works
// for a process that denies us every right.
bool Listed(DWORD pid) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return true;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
         more = ::Process32NextW(snapshot, &entry))
        found = entry.th32ProcessID == pid;
    ::CloseHandle(snapshot);
    return found;
}

// The pid of the newest agent start that has also shut everyone else out.
DWORD WaitForProtectedAgent(const TempInstall& install, size_t nStarts) {
    DWORD pid = 0;
    WaitUntil(
        [&] {
            const auto events = ReadRunLog(install);
            const auto starts = EventsOf(events, "start");
            const auto shut = EventsOf(events, "protect");
            if (starts.size() < nStarts || shut.size() < nStarts) return false;
            pid = shut.back().pid;
            return true;
        },
        15s);
    return pid;
}

}  // namespace

// The tree walk cannot open such an agent; the launch handle still ends it,
// and Exit no longer waits for it for ever.
TEST(Supervision, StopAndExitEndAnAgentThatNoOneMayOpen) {
    TempInstall install;
    // Bounded, so that a supervisor that fails to end it does not leave it behind.
    install.WriteFile(L"bin\\agent-script.txt", "protect\nsleep 60000\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    DWORD agent = WaitForProtectedAgent(install, 1);
    ASSERT_NE(agent, 0u);
    HANDLE probe = ::OpenProcess(PROCESS_TERMINATE, FALSE, agent);
    if (probe != nullptr) ::CloseHandle(probe);
    ASSERT_EQ(probe, nullptr) << "the agent could not shut us out";

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(WaitUntil([&] { return !Listed(agent) && ShowsStopped(sup); }, 5s));

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_START));
    agent = WaitForProtectedAgent(install, 2);
    ASSERT_NE(agent, 0u);
    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(10s), 1u);
    EXPECT_TRUE(WaitUntil([&] { return !Listed(agent); }, 5s));
}

TEST(Supervision, EverySpellingOfOneInstallationFindsTheRunningSupervisor) {
    TempInstall install;
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    Supervisor first(install.ExePath());
    ASSERT_NE(first.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);

    std::wstring upper = install.ExePath();
    ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    std::vector<std::wstring> spellings = {upper};
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD n = ::GetShortPathNameW(install.ExePath().c_str(), shortPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH && install.ExePath() != shortPath) spellings.push_back(shortPath);
    for (const std::wstring& spelling : spellings) {
        Supervisor second(spelling);
        EXPECT_EQ(second.WaitForExit(20s), 0u) << Narrow(spelling);
    }
    EXPECT_TRUE(first.IsRunning());
    EXPECT_EQ(CountStarts(install), 1u);
    EXPECT_EQ(FindSupervisorWindows().size(), 1u);
}

// ERROR_ACCESS_DENIED on the instance name: a supervisor runs that we may not
// open (an elevated one). Starting beside it would fight it over the agent.
TEST(Supervision, AnInstanceNameWeMayNotOpenMeansAnotherSupervisorRuns) {
    TempInstall install;
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    ACL empty = {};
    ::InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
    SECURITY_DESCRIPTOR sd = {};
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, &empty, FALSE);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), &sd, FALSE};
    HANDLE held = ::CreateMutexW(&sa, TRUE, MakeInstanceName(install.ExePath()).c_str());
    ASSERT_NE(held, nullptr);
    HANDLE again = ::CreateMutexW(nullptr, FALSE, MakeInstanceName(install.ExePath()).c_str());
    const DWORD error = ::GetLastError();
    if (again != nullptr) ::CloseHandle(again);
    ASSERT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    Supervisor sup(install.ExePath());
    EXPECT_EQ(sup.WaitForExit(20s), 0u);
    EXPECT_EQ(CountStarts(install), 0u);
    ::CloseHandle(held);
}

// As shipped the demo agent greets and beats: no script, no record; asked to
// end, it says goodbye and ends by itself.
TEST(Supervision, TheShippedDemoAgentFollowsNoScriptAndKeepsNoRecord) {
    TempInstall install;
    JournalText journal(install);
    ASSERT_TRUE(::CopyFileW((OwnDir() + L"bin\\Tollvane.exe").c_str(), install.AgentPath().c_str(), FALSE));
    install.WriteFile(L"bin\\agent-script.txt", "exit 5\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_TRUE(WaitUntil(
        [&] { return sup.ControlText(IDC_LOG_EDIT).find(L"agent started") != std::wstring::npos; }, 15s));
    const std::vector<DWORD> agents = AgentPids(install);
    ::Sleep(2000);
    EXPECT_EQ(AgentPids(install), agents);
    EXPECT_EQ(agents.size(), 1u);
    EXPECT_EQ(::GetFileAttributesW((install.AgentDir() + L"\\agent-runs.log").c_str()),
              INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    EXPECT_TRUE(journal.WaitFor("[agent] Tollvane agent stopping"));
    EXPECT_TRUE(journal.WaitFor("[supervisor] asked to end (Ctrl+C, close); ended by itself after 0."));
    EXPECT_TRUE(journal.WaitFor("[supervisor] agent exited: code 0 (0x00000000)")) << journal.Read();
}

TEST(Supervision, TheTestAgentsRunRecordStaysBounded) {
    TempInstall install;
    install.WriteFile(L"bin\\agent-runs.log", std::string(4 * 1024 * 1024, 'x') + "\r\n");
    install.WriteFile(L"bin\\once.txt", "exit 0\n");
    const DWORD pid = StartAgentCopy(install.AgentPath(), install.AgentDir() + L"\\once.txt");
    ASSERT_NE(pid, 0u);
    ASSERT_TRUE(WaitUntil([&] { return EventsOf(ReadRunLog(install), "exit").size() == 1; }, 15s));
    EXPECT_LT(install.ReadFile(L"bin\\agent-runs.log").size(), 4096u);
    EXPECT_EQ(EventsOf(ReadRunLog(install), "start").size(), 1u);
}
