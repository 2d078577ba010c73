// The tray icon's context menu seen from outside. The menu's items cannot be
// read from another process, so the tests open it with the icon's
// right-button notification and work it with the keyboard, as a user would.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/tray_menu_support.h"

using namespace e2e;

namespace {

struct CHandleGuard {
    HANDLE h;
    ~CHandleGuard() { ::CloseHandle(h); }
};

class TrayMenu : public ::testing::Test {
protected:
    void Start(bool withAgent) {
        Launch setup = Launch().Visible();
        if (!withAgent) setup.WithoutAgent();
        m_run = std::make_unique<RunningInstall>(setup);
        m_sup = &m_run->sup;
        m_install = &m_run->install;
        m_hDlg = m_sup->m_hWnd;
    }

    // The right-button release arrives by post: the menu runs a modal loop.
    HWND OpenMenu(UINT id = kTrayIconId) {
        ::PostMessageW(m_hDlg, TrayMessage(), id, WM_RBUTTONUP);
        HWND hMenu = nullptr;
        WaitUntil([&] { return (hMenu = FindMenuWindow(m_sup->Pid())) != nullptr; }, 5s);
        return hMenu;
    }

    bool MenuOpen() const { return FindMenuWindow(m_sup->Pid()) != nullptr; }

    // Moves the highlight down to the item at position `pos` and chooses it.
    void ChooseItem(HWND hMenu, int pos) {
        for (int i = 0; i <= pos; ++i) PressKey(hMenu, VK_DOWN);
        PressKey(hMenu, VK_RETURN);
    }

    void CloseMenu() {
        if (HWND hMenu = FindMenuWindow(m_sup->Pid())) PressKey(hMenu, VK_ESCAPE);
        WaitUntil([&] { return !MenuOpen(); }, 5s);
    }

    void TearDown() override {
        if (m_sup) CloseMenu();
    }

    std::unique_ptr<RunningInstall> m_run;
    Supervisor* m_sup = nullptr;  // m_run's, once started
    const TempInstall* m_install = nullptr;
    HWND m_hDlg = nullptr;
};

TEST_F(TrayMenu, RightClickOpensTheMenuAfreshEachTimeAndOtherIconsOpenNothing) {
    Start(/*withAgent=*/false);
    HWND hMenu = OpenMenu();
    ASSERT_NE(hMenu, nullptr);
    PressKey(hMenu, VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return !MenuOpen(); }, 5s));

    ASSERT_NE(OpenMenu(), nullptr);
    CloseMenu();
    ASSERT_FALSE(MenuOpen());

    ::PostMessageW(m_hDlg, TrayMessage(), kTrayIconId + 1, WM_RBUTTONUP);
    ::PostMessageW(m_hDlg, TrayMessage(), kTrayIconId, WM_RBUTTONDOWN);
    ::Sleep(500);
    EXPECT_FALSE(MenuOpen());
    // The dialog still answers: nothing is stuck in a menu loop.
    EXPECT_TRUE(m_sup->SendCommand(ID_HIDE, 5s));
}

TEST_F(TrayMenu, StopCannotBeChosenWhileTheAgentIsStopped) {
    Start(/*withAgent=*/true);
    ASSERT_TRUE(m_sup->SendCommand(ID_AGENT_STOP));
    ASSERT_TRUE(WaitUntil([&] { return !m_sup->ControlEnabled(ID_AGENT_STOP); }, 15s));

    // A process in the agent directory that a Stop command would end.
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + m_install->AgentPath() + L"\"";
    ASSERT_TRUE(::CreateProcessW(m_install->AgentPath().c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 m_install->AgentDir().c_str(), &si, &pi));
    ::CloseHandle(pi.hThread);
    CHandleGuard process{pi.hProcess};

    HWND hMenu = OpenMenu();
    ASSERT_NE(hMenu, nullptr);
    ChooseItem(hMenu, 1);  // Stop, disabled: nothing is sent
    // Had the keys gone elsewhere, nothing would have been tried. They reached
    // the menu if the Return on the disabled item closed it (as under Wine),
    // or else left Stop highlighted, one step above Hide Window.
    if (!WaitUntil([&] { return !MenuOpen(); }, 1500ms)) {
        ChooseItem(hMenu, 0);
        EXPECT_TRUE(WaitUntil([&] { return !m_sup->IsVisible(); }, 5s)) << "the keys did not reach the menu";
    }
    ::Sleep(1500);
    EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the disabled Stop item ended the agent directory's processes";
    CloseMenu();

    // The same command from the button does end it, so the check above can see one.
    ASSERT_TRUE(m_sup->SendCommand(ID_AGENT_STOP));
    EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    ::TerminateProcess(pi.hProcess, 1);
}

TEST_F(TrayMenu, ShowHideItemHidesAShownWindow) {
    Start(/*withAgent=*/false);
    HWND hMenu = OpenMenu();
    ASSERT_NE(hMenu, nullptr);
    ChooseItem(hMenu, 2);  // Hide Window
    EXPECT_TRUE(WaitUntil([&] { return !m_sup->IsVisible(); }, 5s));
    EXPECT_FALSE(MenuOpen());
}

TEST_F(TrayMenu, StopFromTheMenuStopsARunningAgent) {
    Start(/*withAgent=*/true);
    ASSERT_TRUE(WaitUntil([&] { return m_sup->ControlEnabled(ID_AGENT_STOP); }, 15s));

    HWND hMenu = OpenMenu();
    ASSERT_NE(hMenu, nullptr);
    ChooseItem(hMenu, 1);  // Stop
    EXPECT_TRUE(WaitUntil([&] { return !m_sup->ControlEnabled(ID_AGENT_STOP); }, 15s));
    EXPECT_FALSE(MenuOpen());
}

}  // namespace
