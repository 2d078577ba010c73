// Start, Stop and the supervisor's end against the watch thread at awkward
// moments, with the real supervision code and the test agent, but no window:
// the commands are called from this thread as the UI thread would.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/win_test_support.h"

namespace {

// Marks a copy of the test agent as a window-subsystem program. Started by
// this console test, a console agent would get a console host of its own
// that outlives the test and holds the test runner's output open; the
// agent's behaviour does not depend on its console.
bool MakeWindowsProgram(const std::wstring& exe) {
    HANDLE file =
        ::CreateFileW(exe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS nt = {};  // the test agent is built for this test's own architecture
    DWORD done = 0;
    bool ok = ::ReadFile(file, &dos, sizeof(dos), &done, nullptr) && done == sizeof(dos) &&
              dos.e_magic == IMAGE_DOS_SIGNATURE &&
              ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              ::ReadFile(file, &nt, sizeof(nt), &done, nullptr) && done == sizeof(nt) &&
              nt.Signature == IMAGE_NT_SIGNATURE && nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR_MAGIC;
    if (ok) {
        nt.OptionalHeader.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
        ok = ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
             ::WriteFile(file, &nt, sizeof(nt), &done, nullptr) && done == sizeof(nt);
    }
    ::CloseHandle(file);
    return ok;
}

class AgentWatchRaces : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_dir = std::wstring(temp) + L"qt-race-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount()) + L"\\";
        ::CreateDirectoryW(m_dir.c_str(), nullptr);
        ::CreateDirectoryW((m_dir + L"bin").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW((ExeDir() + L"test_agent.exe").c_str(),
                                (m_dir + L"bin\\Tollvane.exe").c_str(), FALSE));
        ASSERT_TRUE(MakeWindowsProgram(m_dir + L"bin\\Tollvane.exe"));
        ASSERT_TRUE(WriteScript("hang\n"));
        m_spSupervisor = std::make_unique<CAgentSupervisor>(m_dir + L"bin\\Tollvane.exe",
                                                            std::vector<CAgentEventSink*>{&m_recorder});
    }

    void TearDown() override {
        if (m_spSupervisor) {
            m_spSupervisor->Stop();
            EXPECT_TRUE(WatchThreadEnds());
            m_spSupervisor.reset();
        }
        EndProcessesUnder(m_dir);
        for (const wchar_t* file : {L"bin\\Tollvane.exe", L"bin\\agent-script.txt", L"bin\\agent-runs.log"})
            ::DeleteFileW((m_dir + file).c_str());
        ::RemoveDirectoryW((m_dir + L"bin").c_str());
        ::RemoveDirectoryW(m_dir.c_str());
    }

    bool WriteScript(const std::string& script) {
        return WriteTextFile(m_dir + L"bin\\agent-script.txt", script);
    }
    bool WatchThreadEnds() { return CAgentSupervisorProbe::WaitForWatchEnd(*m_spSupervisor, 10000); }
    std::vector<DWORD> Agents() const { return ProcessesUnder(m_dir + L"bin\\"); }

    std::wstring m_dir;
    CAgentRecorder m_recorder;  // outlives the supervisor
    std::unique_ptr<CAgentSupervisor> m_spSupervisor;
    std::mt19937 m_random{12345};
};

TEST_F(AgentWatchRaces, AStopAtAnyMomentOfACycleLeavesNoAgentRunning) {
    std::uniform_int_distribution<DWORD> delay(0, 80);
    for (int round = 0; round < 25; ++round) {
        m_spSupervisor->Start();
        ::Sleep(delay(m_random));
        m_spSupervisor->Stop();
        // An agent launched after the Stop's kill would keep the thread
        // waiting on it.
        ASSERT_TRUE(WatchThreadEnds()) << "round " << round;
        ASSERT_TRUE(WaitFor([&] { return Agents().empty(); }, 3000)) << "round " << round;
        EXPECT_FALSE(m_recorder.m_bRunning);
    }
}

TEST_F(AgentWatchRaces, AStartRightAfterAStopAlwaysEndsWithOneAgentRunning) {
    m_spSupervisor->Start();
    ASSERT_TRUE(WaitFor([&] { return Agents().size() == 1; }, 10000));
    std::uniform_int_distribution<DWORD> delay(0, 40);
    for (int round = 0; round < 25; ++round) {
        // A slow last report holds a watch thread that has decided to end,
        // so the Start below finds it still there.
        m_recorder.m_nHoldEndMs = delay(m_random);
        m_spSupervisor->Stop();
        ::Sleep(delay(m_random));
        m_spSupervisor->Start();
        // A Start that found a watch thread about to end must not be lost.
        ASSERT_TRUE(WaitFor(
            [&] {
                return Agents().size() == 1 && !CAgentSupervisorProbe::WaitForWatchEnd(*m_spSupervisor, 0) &&
                       m_recorder.m_bRunning;
            },
            5000))
            << "round " << round << ": " << Agents().size() << " agents";
    }
    ::Sleep(500);
    EXPECT_EQ(Agents().size(), 1u);
}

TEST_F(AgentWatchRaces, ARestartInACrashLoopAnnouncesNoPauseItDoesNotTake) {
    ASSERT_TRUE(WriteScript("exit 7\n"));
    m_spSupervisor->Start();
    // Short runs in a row: the next one that ends is followed by a pause.
    ASSERT_TRUE(WaitFor([&] { return m_recorder.m_nCrashPauses >= 1; }, 10000));
    ASSERT_TRUE(WriteScript("hang\n"));
    const int started = m_recorder.m_nStarted;
    ASSERT_TRUE(WaitFor([&] { return m_recorder.m_nStarted > started; }, 10000));
    // Well within the short-run bound of the run that just began.
    const int pauses = m_recorder.m_nCrashPauses;
    m_spSupervisor->Restart();
    ASSERT_TRUE(WaitFor([&] { return m_recorder.m_nStarted > started + 1; }, 5000));
    EXPECT_EQ(m_recorder.m_nCrashPauses, pauses);
    EXPECT_TRUE(WaitFor([&] { return Agents().size() == 1; }, 3000));
}

TEST_F(AgentWatchRaces, TheSupervisorsEndEndsTheAgentWithinItsBound) {
    m_spSupervisor->Start();
    ASSERT_TRUE(WaitFor([&] { return Agents().size() == 1 && m_recorder.m_bRunning; }, 10000));
    const auto start = std::chrono::steady_clock::now();
    m_spSupervisor.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(CAgentSupervisor::kJoinBoundMs));
    // The agent was ended and the watch said so before the end returned.
    EXPECT_EQ(m_recorder.m_nExited, 1);
    EXPECT_EQ(m_recorder.m_nWatchEnded, 1);
    EXPECT_TRUE(WaitFor([&] { return Agents().empty(); }, 3000));
}

}  // namespace
