// The watchdogs' Windows side: the settings key and its watch, the silence
// found on the watchdog's thread, and a real job's memory read past a bound.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/handle.h"
#include "framework/sleep_free_clock.h"
#include "tests/support/win_test_support.h"
#include "watchdog/agent_watchdog.h"
#include "watchdog/settings_store.h"

namespace {

constexpr UINT kFindingMsg = WM_APP + 40;
constexpr UINT kChangedMsg = WM_APP + 41;

// A message-only window of its own class that keeps what the watchdog and
// the store post.
struct CFindingsWindow {
    CFindingsWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"WatchdogTestFindings";
        ::RegisterClassW(&wc);
        m_hWnd = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   wc.hInstance, nullptr);
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~CFindingsWindow() { ::DestroyWindow(m_hWnd); }
    static LRESULT CALLBACK Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CFindingsWindow*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (self != nullptr && uMsg == kFindingMsg) self->findings.push_back(*CAgentWatchdog::Take(lParam));
        if (self != nullptr && uMsg == kChangedMsg) ++self->changes;
        return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
    size_t Count(WatchdogFinding::Kind kind) const {
        size_t n = 0;
        for (const WatchdogFinding& f : findings) n += f.kind == kind ? 1 : 0;
        return n;
    }
    HWND m_hWnd = nullptr;
    std::vector<WatchdogFinding> findings;
    int changes = 0;
};

TEST(WatchdogSettingsStore, WritesReadsAndHearsAChangeMadeElsewhere) {
    const std::wstring path = SettingsKeyPath(L"test" + std::to_wstring(::GetCurrentProcessId()));
    CFindingsWindow window;
    {
        CWatchdogSettingsStore store(path);
        std::vector<std::wstring> complaints;
        EXPECT_EQ(store.Read(complaints), WatchdogSettings{});
        ASSERT_TRUE(store.Watch(window.m_hWnd, kChangedMsg));
        ASSERT_TRUE(store.WriteSilentMinutes(5));
        ASSERT_TRUE(store.WriteMemoryMb(512));
        EXPECT_EQ(store.Read(complaints), (WatchdogSettings{300, 512}));
        ASSERT_TRUE(WaitFor([&] { return window.changes > 0; }, 5000));

        // From elsewhere: a value of the wrong type, named once however often it is read.
        store.Rearm();
        const int before = window.changes;
        HKEY hKey = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &hKey), ERROR_SUCCESS);
        ::RegSetValueExW(hKey, kMemoryMbValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1 GB"), 10);
        ::RegCloseKey(hKey);
        EXPECT_TRUE(WaitFor([&] { return window.changes > before; }, 5000));
        EXPECT_EQ(store.Read(complaints), (WatchdogSettings{300, 0}));
        EXPECT_EQ(complaints,
                  std::vector<std::wstring>{L"setting RestartAboveMemoryMB ignored: not a DWORD"});
        complaints.clear();
        store.Read(complaints);
        EXPECT_TRUE(complaints.empty());
    }
    ::RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
}

TEST(AgentWatchdog, OffStartsNothingAndASilentAgentIsFoundOncePerRun) {
    CFindingsWindow window;
    std::atomic<uint64_t> lastMessage{0};
    CAgentWatchdog watchdog(window.m_hWnd, kFindingMsg, [&] { return lastMessage.load(); });
    watchdog.Apply(WatchdogSettings{});
    watchdog.OnAgentLaunched(nullptr);
    EXPECT_FALSE(watchdog.HasThread());

    watchdog.Apply(WatchdogSettings{1, 0});
    ASSERT_TRUE(watchdog.HasThread());
    // A run that keeps talking is left alone.
    for (int i = 0; i < 8; ++i) {
        lastMessage = SleepFreeMs();
        WaitFor([] { return false; }, 200);
    }
    EXPECT_TRUE(window.findings.empty());
    ASSERT_TRUE(WaitFor([&] { return !window.findings.empty(); }, 3000));
    WaitFor([] { return false; }, 1500);
    ASSERT_EQ(window.findings.size(), 1u);
    EXPECT_EQ(window.findings[0].kind, WatchdogFinding::Kind::Silent);
    EXPECT_GE(window.findings[0].silentForMs, 1000u);
    EXPECT_LT(window.findings[0].silentForMs, 2500u);
    // The next run counts afresh.
    watchdog.OnAgentEnded();
    watchdog.OnAgentLaunched(nullptr);
    EXPECT_TRUE(WaitFor([&] { return window.findings.size() == 2; }, 3000));
    // Switched on while an agent has long been running: a full period first.
    watchdog.Apply(WatchdogSettings{});
    watchdog.OnAgentEnded();
    watchdog.OnAgentLaunched(nullptr);
    WaitFor([] { return false; }, 1500);
    watchdog.Apply(WatchdogSettings{1, 0});
    WaitFor([] { return false; }, 600);
    EXPECT_EQ(window.findings.size(), 2u);
    EXPECT_TRUE(WaitFor([&] { return window.findings.size() == 3; }, 3000));
}

TEST(AgentWatchdog, FindsAJobPastItsMemoryBoundAndNamesTheTopProcess) {
    const std::wstring dir = MakeTestDir(L"wdmem");
    ASSERT_TRUE(WriteTextFile(dir + L"script.txt", "allocate 96\nhang\n"));
    CHandle hJob(::CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(hJob);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(hJob.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));

    CFindingsWindow window;
    CAgentWatchdog watchdog(window.m_hWnd, kFindingMsg, [] { return uint64_t{0}; });
    watchdog.Apply(WatchdogSettings{0, 64});
    watchdog.OnAgentLaunched(nullptr);
    ASSERT_TRUE(WaitFor([&] { return window.Count(WatchdogFinding::Kind::MemoryCannotWork) == 1; }, 3000));
    watchdog.OnAgentEnded();

    std::wstring commandLine = L"\"" + ExeDir() + L"test_agent.exe\" child \"" + dir + L"script.txt\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, dir.c_str(), &si, &pi));
    CHandle hProcess(pi.hProcess), hThread(pi.hThread);
    ASSERT_TRUE(::AssignProcessToJobObject(hJob.get(), pi.hProcess));
    ::ResumeThread(pi.hThread);
    watchdog.OnAgentLaunched(hJob.get());
    const bool found = WaitFor([&] { return window.Count(WatchdogFinding::Kind::OverMemory) == 1; }, 15000);
    ::TerminateJobObject(hJob.get(), 0);
    ASSERT_TRUE(found);
    EXPECT_EQ(window.Count(WatchdogFinding::Kind::MemoryMethod), 1u);
    for (const WatchdogFinding& f : window.findings) {
        if (f.kind != WatchdogFinding::Kind::OverMemory) continue;
        EXPECT_GT(f.totalBytes, 96ull << 20);
        EXPECT_EQ(f.top.pid, pi.dwProcessId);
        EXPECT_EQ(f.top.name, L"test_agent.exe");
        EXPECT_EQ(f.boundMb, 64u);
    }
}

}  // namespace
