// The history window of a running supervisor, opened from its tray menu's
// command and read from outside: the runs of a crashing agent, the strip's
// marks, a search's hits and Copy.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"
#include "ui/history_window.h"

using namespace e2e;

namespace {

HWND HistoryWindowOf(DWORD pid) {
    for (HWND h = ::FindWindowW(kHistoryWindowClass, nullptr); h != nullptr;
         h = ::FindWindowExW(nullptr, h, kHistoryWindowClass, nullptr)) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(h, &owner);
        if (owner == pid) return h;
    }
    return nullptr;
}

LRESULT Send(HWND hWnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(hWnd, msg, wParam, lParam, SMTO_NORMAL, 10000, &result);
    return static_cast<LRESULT>(result);
}

TEST(History, ListsTheCrashingAgentsRunsMarksThemFindsItsLinesAndCopiesWhy) {
    TempInstall install;
    JournalText journal(install);
    install.WriteFile(L"bin\\agent-script.txt", "send INFO,disk full on C:\nsleep 200\nexit 3\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_EQ(WaitForStarts(install, 3, 20s).size(), 3u);
    install.WriteFile(L"bin\\agent-script.txt", "hang\n");
    ASSERT_TRUE(sup.SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(journal.WaitFor("Stop by the user"));

    sup.PostCommand(ID_APP_HISTORY);
    HWND hWnd = nullptr;
    // The window is found before it has made its children: wait for them too.
    ASSERT_TRUE(WaitUntil(
        [&] {
            hWnd = HistoryWindowOf(sup.Pid());
            return hWnd && ::GetDlgItem(hWnd, IDC_HISTORY_STATUS) && ::GetDlgItem(hWnd, IDC_HISTORY_RUNS);
        },
        10s));
    const HWND hRuns = ::GetDlgItem(hWnd, IDC_HISTORY_RUNS), hStatus = ::GetDlgItem(hWnd, IDC_HISTORY_STATUS);
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadWindowText(hStatus).find(L" runs in 1 journal files") != std::wstring::npos; }, 10s))
        << ReadWindowText(hStatus);
    const int runs = static_cast<int>(Send(hRuns, LVM_GETITEMCOUNT));
    EXPECT_GE(runs, 3);
    EXPECT_EQ(ReadWindowText(hStatus).find(std::to_wstring(runs) + L" runs"), 0u) << ReadWindowText(hStatus);
    // Each unasked exit with code 3 is a crash on the strip.
    const std::wstring strip = ReadWindowText(::GetDlgItem(hWnd, IDC_HISTORY_STRIP));
    EXPECT_NE(strip.find(L"crashed: pid"), std::wstring::npos) << strip;

    Send(::GetDlgItem(hWnd, IDC_HISTORY_SEARCH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"DISK full"));
    Send(hWnd, WM_COMMAND, IDC_HISTORY_FIND);
    ASSERT_TRUE(
        WaitUntil([&] { return ReadWindowText(hStatus).find(L"lines found") != std::wstring::npos; }, 10s))
        << ReadWindowText(hStatus);
    EXPECT_GE(Send(::GetDlgItem(hWnd, IDC_HISTORY_HITS), LVM_GETITEMCOUNT), 3);

    // The oldest run: why it stopped, copied.
    ::PostMessageW(hRuns, WM_KEYDOWN, VK_END, 0);
    const HWND hDetail = ::GetDlgItem(hWnd, IDC_HISTORY_DETAIL);
    ASSERT_TRUE(WaitUntil([&] { return ReadWindowText(hDetail).find(L"Run of pid") == 0; }, 10s));
    Send(hWnd, WM_COMMAND, IDC_HISTORY_COPY);
    const std::wstring copied = ClipboardText();
    EXPECT_EQ(copied, ReadWindowText(hDetail));
    EXPECT_NE(copied.find(L"exited by itself: code 3 (0x00000003)"), std::wstring::npos) << copied;
    EXPECT_NE(copied.find(L"[agent] disk full on C:"), std::wstring::npos) << copied;

    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(15s), 1u);
}

}  // namespace
