// The tray mix-in against the real shell: a refused first add is retried when
// the taskbar appears, and an icon that was never wanted is never added.
#include <gtest/gtest.h>

#include "tests/support/win_test_support.h"
#include "ui/tray_icon.h"

namespace {

class CHost : public CTrayIconImpl<CHost> {
public:
    HWND m_hWnd = nullptr;
};

NOTIFYICONDATAW Record(HWND hWnd, UINT flags) {
    NOTIFYICONDATAW nid = {};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hWnd;
    nid.uID = IDR_TRAY_MENU;
    nid.uFlags = flags;
    return nid;
}

bool Present(HWND hWnd) {
    NOTIFYICONDATAW nid = Record(hWnd, 0);
    return ::Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

void AnnounceTaskbar(CHost& host) {
    LRESULT result = -1;
    EXPECT_TRUE(
        host.ProcessTrayMessage(host.m_hWnd, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, result));
    EXPECT_EQ(result, 0);
}

TEST(TrayIcon, AFirstAddTheShellRefusedIsRetriedWhenTheTaskbarAppears) {
    CPlainWindow window(WS_OVERLAPPED, 100, 100);
    ASSERT_NE(window.m_hWnd, nullptr);
    HICON hRunning = ::LoadIconW(nullptr, IDI_APPLICATION);
    HICON hStopped = ::LoadIconW(nullptr, IDI_WARNING);

    // An icon of the same identity makes the shell refuse the add.
    NOTIFYICONDATAW blocker = Record(window.m_hWnd, NIF_ICON);
    blocker.hIcon = hRunning;
    ASSERT_TRUE(::Shell_NotifyIconW(NIM_ADD, &blocker));

    CHost host;
    host.m_hWnd = window.m_hWnd;
    // The classic record, up to guidItem: 952 bytes in a 32-bit process, 968
    // in a 64-bit one (its handles are 8 bytes and aligned to 8).
    EXPECT_EQ(host.m_nid.cbSize, sizeof(void*) == 8 ? 968u : 952u);
    host.AddTrayIcon(window.m_hWnd, L"Quorvel Tollvane", hRunning, hStopped);
    EXPECT_FALSE(host.m_bInstalled);
    ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &blocker));
    ASSERT_FALSE(Present(window.m_hWnd));

    AnnounceTaskbar(host);
    EXPECT_TRUE(Present(window.m_hWnd));
    EXPECT_TRUE(host.m_bInstalled);

    host.RemoveTrayIcon();
    EXPECT_FALSE(Present(window.m_hWnd));
    // Once removed, a new taskbar does not bring it back.
    AnnounceTaskbar(host);
    EXPECT_FALSE(Present(window.m_hWnd));
}

TEST(TrayIcon, NoIconIsAddedForATaskbarThatAppearsBeforeTheFirstAdd) {
    CPlainWindow window(WS_OVERLAPPED, 100, 100);
    ASSERT_NE(window.m_hWnd, nullptr);
    CHost host;
    host.m_hWnd = window.m_hWnd;
    AnnounceTaskbar(host);
    EXPECT_FALSE(Present(window.m_hWnd));
    EXPECT_FALSE(host.m_bInstalled);
}

TEST(TrayIcon, ANewTaskbarGetsTheImageOfTheAgentsStateAtThatMoment) {
    CPlainWindow window(WS_OVERLAPPED, 100, 100);
    ASSERT_NE(window.m_hWnd, nullptr);
    HICON hRunning = ::LoadIconW(nullptr, IDI_APPLICATION);
    HICON hStopped = ::LoadIconW(nullptr, IDI_WARNING);
    CHost host;
    host.m_hWnd = window.m_hWnd;
    host.AddTrayIcon(window.m_hWnd, L"Quorvel Tollvane", hRunning, hStopped);
    ASSERT_TRUE(host.m_bInstalled);
    for (HICON hNow : {hRunning, hStopped, hRunning}) {
        host.SetTrayIcon(hNow);
        NOTIFYICONDATAW forget = Record(window.m_hWnd, 0);
        ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &forget));
        AnnounceTaskbar(host);
        EXPECT_TRUE(Present(window.m_hWnd));
        EXPECT_EQ(host.m_nid.hIcon, hNow) << (hNow == hRunning ? "running" : "stopped");
        EXPECT_TRUE(host.m_nid.uFlags & NIF_ICON);
    }
    // The taskbar's DPI changed: a new size of the image shown takes its
    // place, also for the next taskbar; one of the other image waits its turn.
    HICON hRunningResized = ::LoadIconW(nullptr, IDI_INFORMATION);
    host.ReplaceTrayIcon(hStopped, hRunningResized);
    EXPECT_EQ(host.m_nid.hIcon, hRunning);
    host.ReplaceTrayIcon(hRunning, hRunningResized);
    EXPECT_EQ(host.m_nid.hIcon, hRunningResized);
    AnnounceTaskbar(host);
    EXPECT_EQ(host.m_nid.hIcon, hRunningResized);
    host.RemoveTrayIcon();
}

}  // namespace
