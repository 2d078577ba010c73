// What the user takes away from the log view, driven from outside: the
// diagnostics bundle through the system's Save dialog (unzipped here), Save
// As and Copy with one line end per line, Find with Ctrl+F, F3 and Shift+F3;
// and the crash balloon that leads to the history.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"
#include "ui/history_window.h"
#include "tests/support/agent_support.h"
#include "tests/support/journal_support.h"
#include "tests/support/tray_menu_support.h"
#include "tests/support/zip_reader.h"

using namespace e2e;

namespace {

struct DialogSearch {
    DWORD pid;
    HWND hMain;
    HWND found;
};

BOOL CALLBACK CollectOtherDialog(HWND hWnd, LPARAM lParam) {
    auto* s = reinterpret_cast<DialogSearch*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    wchar_t cls[16] = {};
    ::GetClassNameW(hWnd, cls, 16);
    if (pid != s->pid || hWnd == s->hMain || !::IsWindowVisible(hWnd) || std::wstring(cls) != L"#32770")
        return TRUE;
    s->found = hWnd;
    return FALSE;
}

// A dialog of the supervisor's other than its main window: the Save or Find
// dialog, or a message box.
HWND FindOtherDialog(const Supervisor& sup) {
    DialogSearch search{sup.Pid(), sup.m_hWnd, nullptr};
    ::EnumWindows(CollectOtherDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForOtherDialog(const Supervisor& sup) {
    HWND hDlg = nullptr;
    WaitUntil([&] { return (hDlg = FindOtherDialog(sup)) != nullptr; }, 10s);
    return hDlg;
}

// Types path into the Save dialog's file name and presses Save. The name is
// edt1 in the dialog Wine draws and cmb13 in Windows' own.
void SaveAs(HWND hDlg, const std::wstring& path) {
    for (int id : {0x480, 0x47c}) {
        if (HWND hName = ::GetDlgItem(hDlg, id))
            ::SendMessageTimeoutW(hName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL,
                                  5000, nullptr);
    }
    ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

std::pair<DWORD, DWORD> Selection(HWND hEdit) {
    DWORD start = 0, end = 0;
    ::SendMessageTimeoutW(hEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end),
                          SMTO_NORMAL, 5000, nullptr);
    return {start, end};
}

}  // namespace

TEST(Diagnostics, TheBundleHoldsThisInstallationsJournalAndTheSummary) {
    RunningInstall run(Launch().Visible().Script("send INFO,bundle-first\nsend INFO,bundle-second\nhang\n"));
    JournalText journal(run.install);
    ASSERT_TRUE(journal.WaitFor("[agent] bundle-second", 20s));
    const std::wstring zipPath = run.install.Dir() + L"bundle.zip";

    // From the history window's button: the command goes to the main dialog,
    // which makes the bundle (the log menu sends the same command).
    run.sup.PostCommand(ID_APP_HISTORY);
    HWND hButton = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const HWND hHistory = ::FindWindowW(kHistoryWindowClass, nullptr);
            return hHistory && (hButton = ::GetDlgItem(hHistory, IDC_HISTORY_SAVE_DIAGNOSTICS)) != nullptr;
        },
        10s));
    ::PostMessageW(::GetParent(hButton), WM_COMMAND, MAKEWPARAM(IDC_HISTORY_SAVE_DIAGNOSTICS, BN_CLICKED),
                   reinterpret_cast<LPARAM>(hButton));
    HWND hSave = WaitForOtherDialog(run.sup);
    ASSERT_NE(hSave, nullptr) << "no Save dialog";
    SaveAs(hSave, zipPath);
    ASSERT_TRUE(
        WaitUntil([&] { return ::GetFileAttributesW(zipPath.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20s));

    std::string error;
    std::map<std::string, std::string> entries;
    // Moved into place whole: it reads as soon as it is there.
    entries = ReadZipFile(zipPath, &error);
    ASSERT_EQ(error, "");
    const std::string live = "journal/" + Narrow(JournalNameOf(run.install));
    ASSERT_EQ(entries.count(live), 1u);
    EXPECT_NE(entries[live].find("[agent] bundle-second"), std::string::npos);
    // Other installations' journals share the folder; none of them is taken.
    const std::string stem = live.substr(0, live.size() - 4) + ".";
    for (const auto& entry : entries) {
        if (entry.first != "summary.txt") {
            EXPECT_EQ(entry.first.rfind(stem, 0), 0u) << entry.first;
        }
    }
    const std::string summary = entries["summary.txt"];
    EXPECT_NE(summary.find("Product version: " TOLLVANE_FILE_VERSION_STR "\r\n"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Agent: " + Narrow(run.install.Dir()) + "bin\\Tollvane.exe\r\n"),
              std::string::npos);
    EXPECT_NE(summary.find(" bytes, SHA-256 "), std::string::npos);
    EXPECT_NE(summary.find("Held: agent held by a job"), std::string::npos);
    EXPECT_NE(summary.find("Started"), std::string::npos);
    EXPECT_NE(summary.find("still running"), std::string::npos);
    const size_t last = summary.find("The journal's last ");
    ASSERT_NE(last, std::string::npos);
    EXPECT_NE(summary.find("[agent] bundle-second", last), std::string::npos);
}

TEST(LogView, SaveAsAndCopyWriteOneLineEndPerLineTheViewShows) {
    // Two entries the way Go's log package ends them, with "\n".
    RunningInstall run(
        Launch().Visible().Script("sendraw 494e464f2c6f6e650a\nsendraw 494e464f2c74776f0a\nhang\n"));
    ASSERT_TRUE(
        WaitUntil([&] { return run.sup.ControlText(IDC_LOG_EDIT).find(L"two") != std::wstring::npos; }, 20s));
    EXPECT_EQ(run.sup.ControlText(IDC_LOG_EDIT), L"one\n\r\ntwo\n\r\n");
    ASSERT_TRUE(run.sup.SendCommand(ID_LOG_SELECT_ALL));
    ASSERT_TRUE(run.sup.SendCommand(ID_LOG_COPY));
    EXPECT_EQ(ClipboardText(), L"one\r\ntwo\r\n");

    const std::wstring path = run.install.Dir() + L"saved.txt";
    run.sup.PostCommand(ID_LOG_SAVE_AS);
    HWND hSave = WaitForOtherDialog(run.sup);
    ASSERT_NE(hSave, nullptr);
    SaveAs(hSave, path);
    ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(path).size() == 13; }, 10s))
        << ReadWholeFile(path).size();
    EXPECT_EQ(ReadWholeFile(path), "\xEF\xBB\xBFone\r\ntwo\r\n");
}

TEST(LogView, CtrlFAndF3FindTheTextAndSayWhenItIsNotThere) {
    RunningInstall run(
        Launch().Visible().Script("send INFO,alpha needle\nsend INFO,beta\nsend INFO,gamma NEEDLE\nhang\n"));
    Supervisor& sup = run.sup;
    HWND hEdit = ::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT);
    ASSERT_TRUE(
        WaitUntil([&] { return sup.ControlText(IDC_LOG_EDIT).find(L"gamma") != std::wstring::npos; }, 20s));
    const std::wstring view = sup.ControlText(IDC_LOG_EDIT);
    const DWORD first = static_cast<DWORD>(view.find(L"needle"));
    const DWORD second = static_cast<DWORD>(view.find(L"NEEDLE"));
    ::SendMessageTimeoutW(hEdit, EM_SETSEL, 0, 0, SMTO_NORMAL, 5000, nullptr);
    ::SetForegroundWindow(sup.m_hWnd);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == sup.m_hWnd; }, 5s));

    PressKeys({VK_CONTROL}, 'F');
    HWND hFind = WaitForOtherDialog(sup);
    ASSERT_NE(hFind, nullptr) << "no Find dialog";
    ::SendMessageTimeoutW(::GetDlgItem(hFind, 0x480), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"needle"),
                          SMTO_NORMAL, 5000, nullptr);
    ::PostMessageW(hFind, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return Selection(hEdit) == std::make_pair(first, first + 6); }, 5s));
    // Case-blind by default: F3 finds the capitals further on; Shift+F3 goes back.
    PressKeys({}, VK_F3);
    EXPECT_TRUE(WaitUntil([&] { return Selection(hEdit) == std::make_pair(second, second + 6); }, 5s));
    PressKeys({VK_SHIFT}, VK_F3);
    EXPECT_TRUE(WaitUntil([&] { return Selection(hEdit) == std::make_pair(first, first + 6); }, 5s));

    // Nothing before the first: said in a message box over the Find dialog.
    PressKeys({VK_SHIFT}, VK_F3);
    HWND hBox = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            hBox = FindOtherDialog(sup);
            return hBox != nullptr && hBox != hFind;
        },
        5s));
    EXPECT_NE(ReadWindowText(::GetDlgItem(hBox, 0xFFFF)).find(L"Cannot find \"needle\""), std::wstring::npos);
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(Selection(hEdit), std::make_pair(first, first + 6));
}

TEST(TrayBalloon, ACrashNamesTheCodeAndRunTimeAndItsClickOpensTheHistoryAtThatRun) {
    DebugCapture capture;
    RunningInstall run(Launch().Script("send INFO,about to crash\nsleep 1200\ncrash\n"));
    ASSERT_TRUE(capture.WaitForLine(
        run.sup.Pid(),
        [](const std::wstring& line) {
            return line.rfind(L"balloon: Agent stopped: access violation after ", 0) == 0 &&
                   line.size() > 2 && line.substr(line.size() - 2) == L" s";
        },
        20s));
    const std::vector<AgentEvent> starts = WaitForStarts(run.install, 1, 5s);
    ASSERT_FALSE(starts.empty());

    // The shell tells the icon's window that its balloon was clicked.
    ASSERT_TRUE(SendTrayNotification(run.sup.m_hWnd, NIN_BALLOONUSERCLICK));
    HWND hHistory = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            hHistory = ::FindWindowW(kHistoryWindowClass, nullptr);
            return hHistory != nullptr && ::IsWindowVisible(hHistory);
        },
        10s));
    // The crashed run is selected: why it stopped is shown below the list.
    const std::wstring pid = L"Run of pid " + std::to_wstring(starts[0].pid) + L":";
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ReadWindowText(::GetDlgItem(hHistory, IDC_HISTORY_DETAIL)).find(pid) != std::wstring::npos;
        },
        15s))
        << ReadWindowText(::GetDlgItem(hHistory, IDC_HISTORY_DETAIL));
}
