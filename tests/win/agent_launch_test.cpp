// A launch that fails, with the real watch code and no window: no error box
// may block the watch thread, and the tray shows that no agent runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/wait.h"
#include "ui/main_dlg.h"

namespace {

bool WaitServing(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        if (done()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

BOOL CALLBACK FindVisibleOfOurs(HWND hWnd, LPARAM lParam) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleWindowOfThisProcess() {
    HWND found = nullptr;
    ::EnumWindows(FindVisibleOfOurs, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

TEST(AgentLaunch, AFailedLaunchShowsNoBoxKeepsRetryingAndShowsTheStoppedImage) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring dir =
        std::wstring(temp) + L"qt-launch-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    ::CreateDirectoryW((dir + L"bin").c_str(), nullptr);
    // Present, but no program: every launch fails.
    HANDLE file = ::CreateFileW((dir + L"bin\\Tollvane.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, "not a program\r\n", 15, &written, nullptr);
    ::CloseHandle(file);

    HWND host =
        ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ::CreateWindowExW(0, L"BUTTON", L"Start", WS_CHILD, 0, 0, 5, 5, host,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_AGENT_START)), nullptr, nullptr);
    ::CreateWindowExW(0, L"BUTTON", L"Stop", WS_CHILD, 0, 0, 5, 5, host,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_AGENT_STOP)), nullptr, nullptr);
    {
        CMainDlg dlg(false);
        dlg.m_strModuleDir = dir;
        dlg.m_hWnd = host;
        dlg.m_hIconRunning.reset(::CopyIcon(::LoadIconW(nullptr, IDI_APPLICATION)));
        dlg.m_hIconStopped.reset(::CopyIcon(::LoadIconW(nullptr, IDI_ERROR)));
        dlg.StartAgent();

        // Long enough for several launches and the back-off to begin.
        WaitServing([] { return false; }, 2000);
        EXPECT_EQ(VisibleWindowOfThisProcess(), nullptr) << "a launch error box is up";
        EXPECT_EQ(dlg.m_nid.hIcon, dlg.m_hIconStopped.get());

        dlg.StopAgent();
        CHandle watch = dlg.DuplicateWatchThread();
        EXPECT_TRUE(
            !watch ||
            WaitServing([&] { return ::WaitForSingleObject(watch.get(), 0) == WAIT_OBJECT_0; }, 5000));
        dlg.m_hWnd = nullptr;
    }
    ::DestroyWindow(host);
    ::DeleteFileW((dir + L"bin\\Tollvane.exe").c_str());
    ::RemoveDirectoryW((dir + L"bin").c_str());
    ::RemoveDirectoryW(dir.c_str());
}
