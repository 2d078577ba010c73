// The notification-area icon seen from outside: its notifications, the Show
// Window command and the icon coming back when the taskbar is re-created.
#include <gtest/gtest.h>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/tray_menu_support.h"

using namespace e2e;

namespace {

bool Shown(HWND hWnd) { return ::IsWindowVisible(hWnd) && !::IsIconic(hWnd); }

TEST(TrayNotify, DoubleClickBringsAStartHiddenWindowOutAfterWhichHideAndShowWork) {
    RunningInstall run(Launch().WithoutAgent().Args(L"starthide"));
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ::Sleep(500);
    ASSERT_FALSE(sup.IsVisible());

    // A single click, a move, a right press and another icon's double-click do nothing.
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_MBUTTONUP})
        ASSERT_TRUE(SendTrayNotification(hDlg, m)) << m;
    ASSERT_TRUE(SendTrayNotification(hDlg, WM_LBUTTONDBLCLK, kTrayIconId + 1));
    ::Sleep(300);
    EXPECT_FALSE(sup.IsVisible());

    ASSERT_TRUE(SendTrayNotification(hDlg, WM_LBUTTONDBLCLK));
    EXPECT_TRUE(WaitUntil([&] { return Shown(hDlg); }, 5s));

    // Out of the suppression for good: Hide hides, a plain show request shows.
    ASSERT_TRUE(sup.SendCommand(ID_HIDE));
    EXPECT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 5s));
    ::ShowWindowAsync(hDlg, SW_SHOW);
    EXPECT_TRUE(WaitUntil([&] { return sup.IsVisible(); }, 5s));
}

TEST(TrayNotify, ShowWindowCommandHidesAShownWindowAndShowsAHiddenOrMinimisedOne) {
    RunningInstall run(Launch().WithoutAgent());
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ASSERT_TRUE(WaitUntil([&] { return Shown(hDlg); }, 10s));

    ASSERT_TRUE(sup.SendCommand(ID_SHOW_WINDOW));
    EXPECT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 5s));
    ASSERT_TRUE(sup.SendCommand(ID_SHOW_WINDOW));
    EXPECT_TRUE(WaitUntil([&] { return Shown(hDlg); }, 5s));

    ::ShowWindowAsync(hDlg, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(hDlg) != FALSE; }, 5s));
    ASSERT_TRUE(sup.SendCommand(ID_SHOW_WINDOW));
    EXPECT_TRUE(WaitUntil([&] { return Shown(hDlg); }, 5s));

    // A double-click on a window that is already shown never hides it.
    ASSERT_TRUE(SendTrayNotification(hDlg, WM_LBUTTONDBLCLK));
    ::Sleep(300);
    EXPECT_TRUE(Shown(hDlg));
}

TEST(TrayNotify, TheIconComesBackWhenTheTaskbarIsCreatedAgain) {
    RunningInstall run(Launch().WithoutAgent());
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(hDlg); }, 10s));

    DebugCapture capture;
    ASSERT_TRUE(capture.Active()) << "no debug-output capture";
    const auto addedAgain = [](const std::wstring& line) { return line == L"tray icon added again"; };

    // A restarted shell has forgotten the icon and announces its new taskbar.
    ASSERT_TRUE(ForgetTrayIcon(hDlg));
    ASSERT_FALSE(TrayIconPresent(hDlg));
    DWORD_PTR result = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(hDlg, TaskbarCreatedMessage(), 0, 0, SMTO_NORMAL, 10000, &result));
    EXPECT_TRUE(TrayIconPresent(hDlg));
    EXPECT_TRUE(capture.WaitForLine(sup.Pid(), addedAgain, 5s));

    // The announcement while the shell still holds the icon leaves it there.
    ASSERT_TRUE(::SendMessageTimeoutW(hDlg, TaskbarCreatedMessage(), 0, 0, SMTO_NORMAL, 10000, &result));
    EXPECT_TRUE(TrayIconPresent(hDlg));
}

}  // namespace
