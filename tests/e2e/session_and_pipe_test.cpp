// Conditions the supervisor meets instead of its agent: a pipe name that
// another program holds, an agent path that is a folder, the session ending.
#include <gtest/gtest.h>

#include <string>

#include "app/instance_guard.h"
#include "app/name_rules.h"
#include "journal/journal.h"
#include "journal/journal_rules.h"
#include "resource.h"
#include "tests/e2e/agent_support.h"

using namespace e2e;

namespace {

// The installation's journal as text; it is removed first and at the end.
class JournalText {
public:
    explicit JournalText(const TempInstall& install)
        : m_path(CJournal::DefaultFolder() + L"\\" +
                 JournalFileName(CanonicalPath(install.Dir().substr(0, install.Dir().size() - 1)))) {
        ::DeleteFileW(m_path.c_str());
    }
    ~JournalText() { ::DeleteFileW(m_path.c_str()); }
    JournalText(const JournalText&) = delete;
    JournalText& operator=(const JournalText&) = delete;

    std::string Read() const {
        std::string bytes;
        HANDLE file = ::CreateFileW(m_path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return bytes;
        char chunk[65536];
        DWORD got = 0;
        while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
        ::CloseHandle(file);
        return bytes;
    }
    bool WaitForText(const std::string& text, Millis timeout) const {
        return WaitUntil([&] { return Read().find(text) != std::string::npos; }, timeout);
    }

private:
    std::wstring m_path;
};

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
    EXPECT_TRUE(journal.WaitForText("another program holds the output pipe", 10s)) << journal.Read();
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
    EXPECT_TRUE(journal.WaitForText("agent file is a folder: ", 10s)) << journal.Read();
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

TEST(PipeOwner, AFolderTooDeepForThePipeNameSaysSoOnceAndStillRunsTheAgent) {
    // 198 characters of folder and the pipe name has 257.
    TempInstall install(true, 199);
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    EXPECT_EQ(WaitForStarts(install, 1, 15s).size(), 1u);
    EXPECT_TRUE(journal.WaitForText("no output: the pipe name has 257 characters", 10s)) << journal.Read();
    // One supervisor per folder at this depth too.
    Supervisor second(install.ExePath());
    EXPECT_EQ(second.WaitForExit(20s), 0u);
    EXPECT_EQ(Count(journal.Read(), "no output:"), 1u);
}
