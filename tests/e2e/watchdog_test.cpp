// The watchdogs from outside: settings in the installation's key, written
// by the tray menu or by another program, a silent agent and one that grows
// past the memory bound restarted, and nothing at all while both are off.
// The installations carry an installation.id, so their key is known before
// the supervisor starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"
#include "tests/support/tray_menu_support.h"
#include "watchdog/watchdog_rules.h"

using namespace e2e;

namespace {

class Watchdog : public ::testing::Test {
protected:
    Watchdog() {
        static unsigned s_count = 0;
        char id[9] = {};
        std::snprintf(id, sizeof(id), "%05lx%03x", ::GetCurrentProcessId() & 0xfffff, ++s_count & 0xfff);
        m_id = id;
        m_key = SettingsKeyPath(std::wstring(m_id.begin(), m_id.end()));
        ::RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
    }
    ~Watchdog() override {
        if (m_sup) {
            m_sup->PostCommand(ID_APP_EXIT);
            m_sup->WaitForExit(15s);
        }
        ::RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
    }

    void SetValue(const wchar_t* name, DWORD value) const {
        HKEY hKey = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                    &hKey, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        ::RegCloseKey(hKey);
    }
    DWORD Value(const wchar_t* name) const {
        DWORD value = 0xffffffff, size = sizeof(value);
        ::RegGetValueW(HKEY_CURRENT_USER, m_key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }

    void Start(const std::string& script) {
        m_install.WriteFile(L"installation.id", m_id);
        m_install.WriteFile(L"bin\\agent-script.txt", script);
        m_journal = std::make_unique<JournalText>(m_install);
        m_sup = std::make_unique<Supervisor>(m_install.ExePath());
        ASSERT_NE(m_sup->WaitForWindow(), nullptr);
        ASSERT_FALSE(WaitForStarts(m_install, 1, 15s).empty());
    }

    std::string m_id;
    std::wstring m_key;
    TempInstall m_install;
    std::unique_ptr<JournalText> m_journal;
    std::unique_ptr<Supervisor> m_sup;
};

TEST_F(Watchdog, TheMenusChoicesAreWrittenAtOnceAndReadAtTheNextStart) {
    Start("send INFO,hello\nhang\n");
    // Restart when silent, third choice (5 min), by the keyboard: the entry
    // sits right after History, in the group after Show Window.
    ::PostMessageW(m_sup->m_hWnd, TrayMessage(), kTrayIconId, WM_RBUTTONUP);
    HWND hMenu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (hMenu = FindMenuWindow(m_sup->Pid())) != nullptr; }, 5s));
    for (int i = 0; i < 5; ++i) PressKey(hMenu, VK_DOWN);
    // The menu's loop takes the keys whichever of its windows they are sent
    // to; a submenu opened by the keyboard has its first choice selected.
    PressKey(hMenu, VK_RIGHT);
    ::Sleep(300);
    for (int i = 0; i < 2; ++i) PressKey(hMenu, VK_DOWN);
    PressKey(hMenu, VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return Value(kSilentMinutesValue) == 5; }, 5s));
    // The memory choices, by their commands: 1 GB.
    m_sup->PostCommand(ID_WATCH_MEMORY_FIRST + 3);
    EXPECT_TRUE(WaitUntil([&] { return Value(kMemoryMbValue) == 1024; }, 5s));
    EXPECT_TRUE(m_journal->WaitFor("watching: silence 5 min, memory 1 GB"));

    m_sup->PostCommand(ID_APP_EXIT);
    ASSERT_NE(m_sup->WaitForExit(15s), WAIT_TIMEOUT);
    Supervisor again(m_install.ExePath());
    ASSERT_NE(again.WaitForWindow(), nullptr);
    const std::string text = m_journal->Read();
    const size_t restarted = text.rfind("supervisor started");
    EXPECT_TRUE(m_journal->WaitFor("memory watchdog"));
    EXPECT_NE(m_journal->Read().find("watching: silence 5 min, memory 1 GB", restarted), std::string::npos);
    again.PostCommand(ID_WATCH_SILENT_FIRST);  // Off
    EXPECT_TRUE(WaitUntil([&] { return Value(kSilentMinutesValue) == 0; }, 5s));
    again.PostCommand(ID_APP_EXIT);
    again.WaitForExit(15s);
}

TEST_F(Watchdog, ASilentAgentIsRestartedOncePerRunAndATalkingOneNever) {
    SetValue(kSilentSecondsValue, 3);
    Start("send INFO,hello\nhang\n");
    ASSERT_TRUE(m_journal->WaitFor("silent for 3 s: restarting", 10s));
    ASSERT_FALSE(WaitForStarts(m_install, 2, 10s).empty());
    // Each run is restarted once, no sooner than its silence allows.
    const std::vector<AgentEvent> starts = WaitForStarts(m_install, 3, 15s);
    ASSERT_GE(starts.size(), 3u);
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i].t - starts[i - 1].t, 2900000);
    const std::string text = m_journal->Read();
    size_t lines = 0;
    for (size_t at = text.find("silent for 3 s"); at != std::string::npos;
         at = text.find("silent for 3 s", at + 1))
        ++lines;
    EXPECT_LE(lines, CountStarts(m_install));
}

TEST_F(Watchdog, AnAgentThatTalksEveryFewSecondsIsLeftAlone) {
    SetValue(kSilentSecondsValue, 3);
    Start(
        "send INFO,a\nsleep 1500\nsend INFO,b\nsleep 1500\nsend INFO,c\nsleep 1500\nsend INFO,d\nsleep 1500\n"
        "send INFO,e\nhang\n");
    ::Sleep(6500);
    EXPECT_EQ(CountStarts(m_install), 1u);
    EXPECT_TRUE(m_journal->WaitFor("silent for 3 s: restarting", 10s));  // after "e", it is silent
}

TEST_F(Watchdog, ATreePastTheMemoryBoundIsRestartedWithTheFigureAndTheTopProcess) {
    SetValue(kMemoryMbValue, 64);
    Start("allocate 128\nhang\n");
    ASSERT_TRUE(m_journal->WaitFor("memory watchdog", 10s));
    ASSERT_TRUE(m_journal->WaitFor("above 64 MB", 15s));
    const std::string text = m_journal->Read();
    const size_t line = text.find("above 64 MB");
    EXPECT_NE(text.find("Tollvane.exe", line), std::string::npos);
    EXPECT_FALSE(WaitForStarts(m_install, 2, 15s).empty());
}

TEST_F(Watchdog, AValueSetElsewhereIsPickedUpAndDefaultsDoNothing) {
    Start("send INFO,hello\nhang\n");
    ::Sleep(4000);
    EXPECT_EQ(CountStarts(m_install), 1u);
    EXPECT_EQ(m_journal->Read().find("watching"), std::string::npos);
    SetValue(kSilentSecondsValue, 2);
    EXPECT_TRUE(m_journal->WaitFor("watching: silence 2 s", 5s));
    EXPECT_TRUE(m_journal->WaitFor("silent for 2 s: restarting", 10s));
    SetValue(L"RestartWhenSilentMinutes", 99999);
    EXPECT_TRUE(m_journal->WaitFor("setting RestartWhenSilentMinutes ignored", 5s));
}

TEST_F(Watchdog, SleepAndResumeAreMarked) {
    Start("send INFO,hello\nhang\n");
    ::PostMessageW(m_sup->m_hWnd, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    ::PostMessageW(m_sup->m_hWnd, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    EXPECT_TRUE(m_journal->WaitFor("machine resumed", 5s));
    const std::string text = m_journal->Read();
    EXPECT_LT(text.find("machine going to sleep"), text.find("machine resumed"));
}

}  // namespace
