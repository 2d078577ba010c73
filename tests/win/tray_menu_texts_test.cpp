// The tray menu as the dialog prepares it, on the real menu and string
// resources of the built supervisor. (The open menu cannot be read from
// another process, so its texts and states are checked here, in-process.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/app_module.h"
#include "framework/handle.h"
#include "resource.h"
#include "tests/support/win_test_support.h"
#include "ui/main_dlg.h"
#include "ui/tray_rules.h"

namespace {

// The string table follows the user-interface language, which Wine takes
// from the Unix locale.
bool InChineseSession() {
    wchar_t lc[64] = {};
    ::GetEnvironmentVariableW(L"LC_ALL", lc, 63);
    return std::wstring(lc).rfind(L"zh_CN", 0) == 0;
}

struct MenuItem {
    UINT id;
    std::wstring text;
    UINT state;
};

std::vector<MenuItem> ReadMenu(HMENU hMenu) {
    std::vector<MenuItem> items;
    for (int i = 0; i < ::GetMenuItemCount(hMenu); ++i) {
        wchar_t text[256] = {};
        ::GetMenuStringW(hMenu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
        items.push_back(
            {::GetMenuItemID(hMenu, i), text, ::GetMenuState(hMenu, static_cast<UINT>(i), MF_BYPOSITION)});
    }
    return items;
}

class TrayMenuTexts : public ::testing::Test {
protected:
    void SetUp() override {
        m_hRes = ::LoadLibraryExW(SupervisorPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hRes, nullptr) << "the supervisor is built beside this test";
        m_hOldRes = g_Module.GetResourceInstance();
        g_Module.Init(m_hRes);
    }
    void TearDown() override {
        g_Module.Init(m_hOldRes);
        if (m_hRes) ::FreeLibrary(m_hRes);
    }

    // A fresh copy of the popup, prepared as a right-click does: by the
    // dialog (with no agent wanted yet), or for a given agent state and the
    // dialog's window state.
    std::vector<MenuItem> Prepare(CMainDlg& dlg) {
        return PrepareWith([&](HMENU hPopup) { dlg.UpdateTrayMenu(hPopup); });
    }
    std::vector<MenuItem> Prepare(CMainDlg& dlg, bool bStopRequested) {
        return PrepareWith(
            [&](HMENU hPopup) { PrepareTrayMenu(hPopup, bStopRequested, dlg.IsMainWindowShown()); });
    }
    template <typename Fill>
    std::vector<MenuItem> PrepareWith(Fill fill) {
        CMenuHandle menu(::LoadMenuW(m_hRes, MAKEINTRESOURCEW(IDR_TRAY_MENU)));
        EXPECT_TRUE(menu);
        if (!menu) return {};
        HMENU hPopup = ::GetSubMenu(menu.get(), 0);
        fill(hPopup);
        return ReadMenu(hPopup);
    }

    // The text of id in the session's table, read apart from the code that
    // prepares the menu: a wrong id there shows as a wrong text here.
    std::wstring Text(UINT id) const {
        const std::wstring text = LoadStringIn(m_hRes, id, InChineseSession() ? kChinese : kEnglish);
        EXPECT_FALSE(text.empty()) << id;
        return text;
    }

    HMODULE m_hRes = nullptr;
    HINSTANCE m_hOldRes = nullptr;
};

TEST_F(TrayMenuTexts, AgentStoppedWindowHiddenReadsStartDisabledStopShowWindow) {
    if (InChineseSession()) GTEST_SKIP() << "the English table is not in effect";
    CMainDlg dlg(false);
    const auto items = Prepare(dlg);
    ASSERT_EQ(items.size(), kTrayMenuLayout.size());
    EXPECT_EQ(items[0].text, Text(IDS_START));
    EXPECT_EQ(items[1].text, Text(IDS_STOP));
    EXPECT_EQ(items[2].text, Text(IDS_SHOW_WINDOW));
    EXPECT_EQ(items[3].state & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(items[4].text, Text(IDS_HISTORY_MENU));
    EXPECT_EQ(items[5].state & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(items[6].text, Text(IDS_ABOUT));
    EXPECT_EQ(items[7].text, Text(IDS_EXIT));
    // Stop is disabled, not greyed; every other item is enabled.
    EXPECT_EQ(items[1].state & (MF_DISABLED | MF_GRAYED), static_cast<UINT>(MF_DISABLED));
    for (size_t i : {0u, 2u, 4u, 6u, 7u}) EXPECT_EQ(items[i].state & (MF_DISABLED | MF_GRAYED), 0u) << i;
    // The items sit where the layout rule puts them, the first ones with their ids of old.
    for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].id, kTrayMenuLayout[i]) << i;

    // The tooltip's agent line comes from the same table.
    AgentStateLine line;
    line.state = AgentState::Running;
    line.pid = 1234;
    line.at = ClockTime{10, 2, 15};
    dlg.ShowAgentState(line);
    EXPECT_STREQ(dlg.m_nid.szTip, L"Quorvel Tollvane\nRunning since 10:02 (pid 1234)");
    line.state = AgentState::CannotLaunch;
    line.reason = L"Access is denied.";
    dlg.ShowAgentState(line);
    EXPECT_STREQ(dlg.m_nid.szTip, L"Quorvel Tollvane\nCannot start the agent: Access is denied.");
}

TEST_F(TrayMenuTexts, AgentRunningWindowShownReadsRestartEnabledStopHideWindow) {
    if (InChineseSession()) GTEST_SKIP() << "the English table is not in effect";
    CPlainWindow window;
    ASSERT_NE(window.m_hWnd, nullptr);
    ::ShowWindow(window.m_hWnd, SW_SHOWNOACTIVATE);

    CMainDlg dlg(false);
    dlg.m_hWnd = window.m_hWnd;
    auto items = Prepare(dlg, /*bStopRequested=*/false);
    ASSERT_EQ(items.size(), kTrayMenuLayout.size());
    EXPECT_EQ(items[0].text, Text(IDS_RESTART));
    EXPECT_EQ(items[1].state & (MF_DISABLED | MF_GRAYED), 0u);
    EXPECT_EQ(items[2].text, Text(IDS_HIDE_WINDOW));

    // Minimised, the item offers to show the window again.
    ::ShowWindow(window.m_hWnd, SW_MINIMIZE);
    items = Prepare(dlg, false);
    ASSERT_EQ(items.size(), kTrayMenuLayout.size());
    EXPECT_EQ(items[2].text, Text(IDS_SHOW_WINDOW));
    dlg.m_hWnd = nullptr;  // not the dialog's to destroy
}

TEST_F(TrayMenuTexts, AStartHiddenWindowReadsShowWindowEvenWhenVisible) {
    if (InChineseSession()) GTEST_SKIP() << "the English table is not in effect";
    CPlainWindow window;
    ASSERT_NE(window.m_hWnd, nullptr);
    ::ShowWindow(window.m_hWnd, SW_SHOWNOACTIVATE);

    CMainDlg dlg(/*bStartHidden=*/true);
    dlg.m_hWnd = window.m_hWnd;
    const auto items = Prepare(dlg);
    ASSERT_EQ(items.size(), kTrayMenuLayout.size());
    EXPECT_EQ(items[2].text, Text(IDS_SHOW_WINDOW));
    dlg.m_hWnd = nullptr;
}

// Runs with LC_ALL=zh_CN.UTF-8 on the Unix side (set by the build for this
// test only); elsewhere it has nothing to check.
TEST_F(TrayMenuTexts, ChineseTableGivesEveryItemItsChineseText) {
    if (!InChineseSession()) GTEST_SKIP() << "not in a Chinese session";
    CMainDlg dlg(false);
    auto items = Prepare(dlg);
    ASSERT_EQ(items.size(), kTrayMenuLayout.size());
    const UINT texts[] = {IDS_START, IDS_STOP, IDS_SHOW_WINDOW, 0, IDS_HISTORY_MENU, 0, IDS_ABOUT, IDS_EXIT};
    for (size_t i : {0u, 1u, 2u, 4u, 6u, 7u}) {
        EXPECT_EQ(items[i].text, Text(texts[i])) << i;
        EXPECT_NE(items[i].text, LoadStringIn(m_hRes, texts[i], kEnglish)) << i;
    }
    items = Prepare(dlg, false);
    ASSERT_EQ(items.size(), kTrayMenuLayout.size());
    EXPECT_EQ(items[0].text, Text(IDS_RESTART));

    AgentStateLine line;
    line.state = AgentState::Paused;
    line.at = ClockTime{10, 2, 15};
    line.quickExits = 5;
    dlg.ShowAgentState(line);
    EXPECT_STREQ(dlg.m_nid.szTip, L"Quorvel Tollvane\n连续 5 次快速退出，将于 10:02:15 重启");
    dlg.ShowAgentState(AgentStateLine{});
    EXPECT_STREQ(dlg.m_nid.szTip, L"Quorvel Tollvane\n已停止");
}

}  // namespace
