// A launch that fails, with the real watch code and no window: no error box
// may block the watch thread, and the launch is retried after a pause.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/win_test_support.h"

namespace {

BOOL CALLBACK FindVisibleOfOurs(HWND hWnd, LPARAM lParam) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid != ::GetCurrentProcessId() || !::IsWindowVisible(hWnd)) return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

HWND VisibleWindowOfThisProcess() {
    HWND found = nullptr;
    ::EnumWindows(FindVisibleOfOurs, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

TEST(AgentLaunch, AFailedLaunchShowsNoBoxKeepsRetryingAndEndsOnStop) {
    const std::wstring dir = MakeTestDir(L"qt-launch-");
    ::CreateDirectoryW((dir + L"bin").c_str(), nullptr);
    // Present, but no program: every launch fails.
    ASSERT_TRUE(WriteTextFile(dir + L"bin\\Tollvane.exe", "not a program\r\n"));
    {
        CAgentRecorder recorder;
        CAgentSupervisor supervisor(dir + L"bin\\Tollvane.exe", {&recorder});
        EXPECT_EQ(CAgentSupervisorProbe::AgentDir(supervisor), dir + L"bin");
        supervisor.Start();

        // Long enough for several launches and the back-off to begin.
        EXPECT_TRUE(
            WaitFor([&] { return recorder.m_nLaunchFailed >= 3 && recorder.m_nLaunchPauses >= 1; }, 5000));
        EXPECT_EQ(VisibleWindowOfThisProcess(), nullptr) << "a launch error box is up";
        EXPECT_EQ(recorder.m_nStarted, 0);
        EXPECT_EQ(recorder.m_nCrashPauses, 0);
        EXPECT_FALSE(supervisor.IsStopRequested());

        supervisor.Stop();
        EXPECT_TRUE(supervisor.IsStopRequested());
        EXPECT_TRUE(CAgentSupervisorProbe::WaitForWatchEnd(supervisor, 5000));
        EXPECT_EQ(recorder.m_nWatchEnded, 1);
    }
    ::DeleteFileW((dir + L"bin\\Tollvane.exe").c_str());
    ::RemoveDirectoryW((dir + L"bin").c_str());
    ::RemoveDirectoryW(dir.c_str());
}
