// Holds a menu of a running supervisor open while scripts/screenshots.sh
// photographs it: the tray icon's menu ("tray") or the log view's ("log");
// or gives its journal a day of runs and opens the history window on them
// ("history").
// Usage: screenshot_helper.exe tray|log|history <path of the supervisor's exe>
#include <windows.h>

#include <chrono>
#include <string>

#include "framework/file_identity.h"
#include "history/history_rules.h"
#include "journal/journal.h"
#include "journal/journal_rules.h"
#include "resource.h"
#include "tests/support/e2e_support.h"
#include "ui/history_window.h"

using namespace std::chrono_literals;

namespace {

// A day of an agent's life as an older journal file: quiet runs, a crash
// loop in the night, a forced stop and a failed launch.
std::string ADayOfRuns() {
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    const int64_t now =
        JournalMsFromFields(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    const int64_t minute = 60 * 1000, hour = 60 * minute;
    std::string text;
    const auto line = [&](int64_t at, const char* source, const std::string& what) {
        const std::wstring stamp = FormatHistoryTime(now - at, true);
        text += std::string(stamp.begin(), stamp.end()) + " [" + source + "] " + what + "\r\n";
    };
    uint32_t pid = 4100;
    line(23 * hour, "supervisor",
         "supervisor started: version V1.6(A1610127), 64-bit, agent C:\\Apps\\bin\\Tollvane.exe");
    int64_t t = 23 * hour - 200;
    const auto run = [&](int64_t length, const std::string& end, bool crashLines) {
        line(t, "supervisor", "agent started: pid " + std::to_string(pid += 4));
        for (int i = 0; i < 6; ++i)
            line(t - (i + 1) * length / 8, "agent", "heartbeat: queue 0, all workers healthy");
        if (crashLines) {
            line(t - length + 900, "agent", "connecting to the ledger at 10.0.4.12:5432");
            line(t - length + 500, "agent", "ledger answered: too many connections");
            line(t - length + 200, "agent", "retrying with the cached session");
        }
        line(t - length, "supervisor", end);
        t -= length + 2000;
    };
    const std::string crash = "agent exited: code 3221225477 (0xC0000005, access violation), ran 3.1 s";
    run(5 * hour, "agent exited: code 0 (0x00000000), ran 18000.000 s", false);
    for (int i = 0; i < 6; ++i) run(40 * 1000, crash, true);
    t -= 2 * hour;
    line(t, "supervisor",
         "launch failed: The process cannot access the file because it is being used by another "
         "process. (error 32)");
    t -= 10 * minute;
    run(4 * hour, "agent exited: code 0 (0x00000000), ran 14400.000 s", false);
    run(3 * hour, "did not end within 2 s; ended by force", false);
    line(t + 1000, "supervisor", "agent exited: code 1 (0x00000001), ran 10800.000 s");
    run(2 * hour, crash, true);
    line(t - 60000, "supervisor", "supervisor exiting");
    return text;
}

void OpenHistoryOnADay(HWND hWnd, const std::wstring& exePath) {
    const std::wstring folder = exePath.substr(0, exePath.rfind(L'\\'));
    const std::wstring name = JournalFileName(CanonicalPath(folder));
    const std::wstring older = CJournal::DefaultFolder() + L"\\" + RotatedJournalName(name, 1);
    const std::string text = ADayOfRuns();
    HANDLE h = ::CreateFileW(older.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(h);
    ::PostMessageW(hWnd, WM_COMMAND, ID_APP_HISTORY, 0);
    ::Sleep(3000);
    // The newest crash: selected, so the window shows why it stopped.
    HWND hHistory = ::FindWindowW(kHistoryWindowClass, nullptr);
    HWND hRuns = ::GetDlgItem(hHistory, IDC_HISTORY_RUNS);
    ::PostMessageW(hRuns, WM_KEYDOWN, VK_HOME, 0);
    ::PostMessageW(hRuns, WM_KEYDOWN, VK_DOWN, 0);
    ::Sleep(8000);
    ::DeleteFileW(older.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    const std::wstring menu = argv[1];
    HWND hWnd = e2e::WaitForSupervisorWindowOf(argv[2], 30s);
    if (hWnd == nullptr) return 1;
    if (menu == L"tray") {
        ::PostMessageW(hWnd, ::RegisterWindowMessageW(L"WM_TRAYICON"), IDR_TRAY_MENU, WM_RBUTTONUP);
    } else if (menu == L"log") {
        HWND hEdit = ::GetDlgItem(hWnd, IDC_LOG_EDIT);
        ::SendMessageW(hEdit, EM_SETSEL, 0, 12);
        ::PostMessageW(hEdit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hEdit), MAKELPARAM(300, 300));
    } else if (menu == L"history") {
        OpenHistoryOnADay(hWnd, argv[2]);
        return 0;
    } else {
        return 2;
    }
    ::Sleep(6000);
    ::PostMessageW(hWnd, WM_CANCELMODE, 0, 0);
    return 0;
}
