// The history window over journal files made here, with the supervisor's
// texts: the runs across a rotation, a held file counted, the strip's marks,
// why a run stopped and Copy, the search and the lines around a hit, and a
// new DPI.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "framework/app_module.h"
#include "history/history_rules.h"
#include "ui/history_window.h"
#include "tests/support/win_test_support.h"

namespace {

std::string Stamp(int64_t ms) {
    const std::wstring text = FormatHistoryTime(ms, true);
    return std::string(text.begin(), text.end());
}

std::wstring Text(HWND hWnd) {
    wchar_t buffer[8192] = {};
    ::GetWindowTextW(hWnd, buffer, 8192);
    return buffer;
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!::OpenClipboard(nullptr)) return text;
    if (HANDLE h = ::GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(::GlobalLock(h));
        ::GlobalUnlock(h);
    }
    ::CloseClipboard();
    return text;
}

int Count(HWND hList) { return static_cast<int>(::SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0)); }

void Select(HWND hList, int item) {
    ListView_SetItemState(hList, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hRes = ::LoadLibraryExW(SupervisorPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hRes, nullptr);
        m_hOldRes = g_Module.GetResourceInstance();
        g_Module.Init(m_hRes);
        INITCOMMONCONTROLSEX icc = {sizeof(icc),
                                    ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
        ::InitCommonControlsEx(&icc);
    }
    void TearDown() override {
        CloseHistoryWindow();
        g_Module.Init(m_hOldRes);
        ::FreeLibrary(m_hRes);
    }
    HMODULE m_hRes = nullptr;
    HINSTANCE m_hOldRes = nullptr;
};

TEST_F(HistoryWindowTest, ListsRunsAcrossARotationMarksTheStripCopiesWhyAndFinds) {
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    const int64_t now =
        JournalMsFromFields(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    const int64_t h = 3600 * 1000;
    const auto line = [&](int64_t at, const char* source, const std::string& text) {
        return Stamp(now - at) + " [" + source + "] " + text + "\r\n";
    };
    const std::string older =
        line(5 * h, "supervisor", "supervisor started: version 1.6.0") +
        line(5 * h - 100, "supervisor", "agent started: pid 101") + line(5 * h - 1000, "agent", "hello") +
        line(4 * h, "supervisor",
             "agent exited: code 3221225477 (0xC0000005, access violation), ran 3600 s") +
        line(3 * h, "supervisor", "agent started: pid 102") + line(3 * h - 1000, "agent", "DISK FULL on C:");
    const std::string live =
        line(2 * h, "agent", "still here") + line(2 * h - 10, "supervisor", "Stop by the user") +
        line(2 * h - 2000, "supervisor", "did not end within 2 s; ended by force") +
        line(2 * h - 2100, "supervisor", "agent exited: code 1 (0x00000001), ran 3602 s") +
        line(1 * h, "supervisor", "launch failed: The system cannot find the file specified. (error 2)") +
        line(h / 2, "supervisor", "agent started: pid 103") + line(h / 2 - 1000, "agent", "disk full again");
    const std::wstring dir = MakeTestDir(L"history-");
    const JournalSource source{dir.substr(0, dir.size() - 1), L"agent-12345678.log"};
    ASSERT_TRUE(WriteTextFile(dir + L"agent-12345678.log", live));
    ASSERT_TRUE(WriteTextFile(dir + L"agent-12345678.1.log", older));
    ASSERT_TRUE(WriteTextFile(dir + L"agent-12345678.2.log", "held\r\n"));
    // Another program holds the oldest file without sharing it.
    CFileHandle held(::CreateFileW((dir + L"agent-12345678.2.log").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    ShowHistoryWindow(source, nullptr);
    const HWND hWnd = HistoryWindowHandle();
    ASSERT_NE(hWnd, nullptr);
    const HWND hRuns = ::GetDlgItem(hWnd, IDC_HISTORY_RUNS), hDetail = ::GetDlgItem(hWnd, IDC_HISTORY_DETAIL);
    const HWND hStatus = ::GetDlgItem(hWnd, IDC_HISTORY_STATUS);
    ASSERT_TRUE(WaitFor([&] { return Text(hStatus).find(L"4 runs in 2 journal files") == 0; }))
        << Text(hStatus);
    EXPECT_EQ(Count(hRuns), 4);
    EXPECT_NE(Text(hStatus).find(L"1 files held"), std::wstring::npos) << Text(hStatus);

    // The strip names its ends newest first, each by its kind.
    const std::wstring strip = Text(::GetDlgItem(hWnd, IDC_HISTORY_STRIP));
    const size_t launch = strip.find(L"launch failed"), forced = strip.find(L"forced"),
                 crashed = strip.find(L"crashed: pid 101");
    ASSERT_NE(crashed, std::wstring::npos) << strip;
    EXPECT_LT(launch, forced) << strip;
    EXPECT_LT(forced, crashed) << strip;

    // The forced run began before the rotation: its last lines come from both files.
    Select(hRuns, 2);
    const std::wstring why = Text(hDetail);
    EXPECT_NE(why.find(L"Run of pid 102"), std::wstring::npos) << why;
    EXPECT_NE(why.find(L"ended by force (Stop)"), std::wstring::npos) << why;
    EXPECT_LT(why.find(L"[agent] DISK FULL on C:"), why.find(L"[agent] still here")) << why;
    EXPECT_NE(why.find(L"agent exited: code 1 (0x00000001)"), std::wstring::npos) << why;
    ::SendMessageW(hWnd, WM_COMMAND, IDC_HISTORY_COPY, 0);
    EXPECT_EQ(ClipboardText(), why);

    ::SetWindowTextW(::GetDlgItem(hWnd, IDC_HISTORY_SEARCH), L"Disk FULL");
    ::SendMessageW(hWnd, WM_COMMAND, IDC_HISTORY_FIND, 0);
    const HWND hHits = ::GetDlgItem(hWnd, IDC_HISTORY_HITS);
    ASSERT_TRUE(WaitFor([&] { return Text(hStatus).find(L"2 lines found") != std::wstring::npos; }))
        << Text(hStatus);
    EXPECT_EQ(Count(hHits), 2);
    Select(hHits, 1);  // the older hit, in the rotated file
    const std::wstring around = Text(hDetail);
    EXPECT_NE(around.find(L"pid 102"), std::wstring::npos) << around;
    const size_t mark = around.find(L"\r\n> ");
    ASSERT_NE(mark, std::wstring::npos) << around;
    EXPECT_EQ(around.substr(mark + 4, around.find(L"\r\n", mark + 4) - mark - 4).substr(24),
              L"[agent] DISK FULL on C:");

    // At twice the DPI the controls are twice as tall.
    RECT find = {};
    ::GetWindowRect(::GetDlgItem(hWnd, IDC_HISTORY_FIND), &find);
    RECT frame = {};
    ::GetWindowRect(hWnd, &frame);
    frame.right = frame.left + 2 * (frame.right - frame.left);
    frame.bottom = frame.top + 2 * (frame.bottom - frame.top);
    ::SendMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&frame));
    RECT bigger = {};
    ::GetWindowRect(::GetDlgItem(hWnd, IDC_HISTORY_FIND), &bigger);
    EXPECT_EQ(bigger.bottom - bigger.top, 2 * (find.bottom - find.top));
}

}  // namespace
