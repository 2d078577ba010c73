// The application shell seen from outside: one supervisor per installation,
// the command-line words, the window's texts, hiding, About and Exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "names/name_rules.h"
#include "resource.h"
#include "tests/support/agent_support.h"

using namespace e2e;

namespace {
std::vector<HWND> SupervisorWindowsOf(const TempInstall& install) {
    std::vector<HWND> out;
    for (HWND hWnd : FindSupervisorWindows()) {
        for (const ProcessInfo& p : ProcessesUnder(install.Dir())) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(hWnd, &pid);
            if (pid == p.pid) out.push_back(hWnd);
        }
    }
    return out;
}

HWND FindAboutBox(DWORD pid) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND h = ::FindWindowW(L"#32770", L"About Quorvel Tollvane"); h != nullptr;
                 h = ::FindWindowExW(nullptr, h, L"#32770", L"About Quorvel Tollvane")) {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(h, &owner);
                if (owner == pid) {
                    found = h;
                    return true;
                }
            }
            return false;
        },
        10s);
    return found;
}

// Milliseconds from a supervisor's start until it traces its instance name,
// the first thing it does after the pause of "startInstall"; the supervisor
// is left running in sup.
DWORD MillisToTrace(DebugCapture& capture, const std::wstring& exe, const std::wstring& args,
                    std::unique_ptr<Supervisor>& sup) {
    const std::wstring name = MakeInstanceName(exe);
    const DWORD begin = ::GetTickCount();
    sup = std::make_unique<Supervisor>(exe, args);
    if (!capture.WaitForLine(
            sup->Pid(), [&](const std::wstring& line) { return line == name; }, 20s))
        throw SetupError("the supervisor did not trace its instance name");
    return ::GetTickCount() - begin;
}

// The pause of "startInstall", timed to the instance-name trace that follows
// it, against starts without the word (the quicker of two): the process
// start-up, which varies by a few tens of milliseconds under Wine, and the
// window search and activation after the trace are not counted as part of it.
constexpr DWORD kPauseMs = 1000;
constexpr DWORD kStartJitterMs = 100;
}  // namespace

TEST(Shell, FirstStartShowsTheTitledDialogWithItsButtonTexts) {
    RunningInstall run(Launch().Script("hang\n").Visible());
    Supervisor& sup = run.sup;
    EXPECT_EQ(sup.WindowText(), L"Quorvel Tollvane");
    EXPECT_EQ(sup.ControlText(ID_AGENT_STOP), L"Stop");
    EXPECT_EQ(sup.ControlText(ID_HIDE), L"Hide");
    // The agent is started at once: Start becomes Restart, and stays so.
    EXPECT_TRUE(WaitUntil([&] { return sup.ControlText(ID_AGENT_START) == L"Restart"; }, 10s))
        << Narrow(sup.ControlText(ID_AGENT_START));
    ::Sleep(500);
    EXPECT_EQ(sup.ControlText(ID_AGENT_START), L"Restart");
    // The log view is a read-only multi-line edit with both scroll bars.
    const LONG style = ::GetWindowLongW(::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT), GWL_STYLE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE((style & (WS_VSCROLL | WS_HSCROLL)) == (WS_VSCROLL | WS_HSCROLL));
    // A screen reader names the log by the static text right before it.
    HWND hLabel = ::GetWindow(::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT), GW_HWNDPREV);
    EXPECT_EQ(::GetDlgCtrlID(hLabel), IDC_LOG_LABEL);
    EXPECT_EQ(ReadWindowText(hLabel), L"Agent output");
}

TEST(Shell, SecondStartBringsTheFirstWindowBackAndExitsZero) {
    RunningInstall run;
    const TempInstall& install = run.install;
    Supervisor& first = run.sup;
    first.PostCommand(ID_HIDE);
    ASSERT_TRUE(WaitUntil([&] { return !first.IsVisible(); }, 10s));

    Supervisor second(install.ExePath());
    EXPECT_EQ(second.WaitForExit(20s), 0u);
    EXPECT_TRUE(WaitUntil([&] { return first.IsVisible(); }, 10s));
    EXPECT_TRUE(first.IsRunning());
    EXPECT_EQ(SupervisorWindowsOf(install).size(), 1u);
}

TEST(Shell, SecondStartThroughAnotherDriveLetterActivatesTheFirst) {
    RunningInstall run;
    const std::wstring alias = SpelledThroughAnotherDrive(run.install.ExePath());
    if (alias.empty()) GTEST_SKIP() << "no second drive letter can be made here";
    run.sup.PostCommand(ID_HIDE);
    ASSERT_TRUE(WaitUntil([&] { return !run.sup.IsVisible(); }, 10s));

    // One folder, two spellings: one installation, one supervisor.
    Supervisor second(alias);
    EXPECT_EQ(second.WaitForExit(20s), 0u);
    EXPECT_TRUE(WaitUntil([&] { return run.sup.IsVisible(); }, 10s));
    EXPECT_TRUE(run.sup.IsRunning());
}

TEST(Shell, SecondStartRestoresAMinimisedWindow) {
    RunningInstall run;
    const TempInstall& install = run.install;
    Supervisor& first = run.sup;
    ::PostMessageW(first.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(first.m_hWnd) != FALSE; }, 10s));
    Supervisor second(install.ExePath());
    EXPECT_EQ(second.WaitForExit(20s), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !::IsIconic(first.m_hWnd) && first.IsVisible(); }, 10s));
}

TEST(Shell, InstallsInTwoDirectoriesRunSideBySide) {
    RunningInstall a;
    RunningInstall b;
    EXPECT_TRUE(a.sup.IsRunning());
    EXPECT_TRUE(b.sup.IsRunning());
    EXPECT_NE(a.sup.m_hWnd, b.sup.m_hWnd);
}

TEST(Shell, StartInstallPausesASecondThenActivatesTheRunningOne) {
    DebugCapture capture;
    ASSERT_TRUE(capture.Active()) << "no debug-output capture";
    RunningInstall run;
    Supervisor& first = run.sup;
    const std::wstring exe = run.install.ExePath();
    // Each start finds the first one hidden and brings it back.
    auto giveWayToHidden = [&](const wchar_t* args) {
        first.PostCommand(ID_HIDE);
        if (!WaitUntil([&] { return !first.IsVisible(); }, 10s)) throw SetupError("the window did not hide");
        std::unique_ptr<Supervisor> second;
        const DWORD took = MillisToTrace(capture, exe, args, second);
        EXPECT_EQ(second->WaitForExit(20s), 0u) << "started with \"" << Narrow(args) << "\"";
        EXPECT_TRUE(WaitUntil([&] { return first.IsVisible(); }, 10s))
            << "started with \"" << Narrow(args) << "\"";
        return took;
    };
    const DWORD plain = std::min(giveWayToHidden(L""), giveWayToHidden(L""));
    const DWORD paused = giveWayToHidden(L"startInstall");
    EXPECT_GE(paused, plain + kPauseMs - kStartJitterMs) << "without the word: " << plain << " ms";
}

TEST(Shell, StartInstallWithNothingRunningStartsNormallyAfterThePause) {
    TempInstall install(/*withAgent=*/false);
    DebugCapture capture;
    ASSERT_TRUE(capture.Active()) << "no debug-output capture";
    std::unique_ptr<Supervisor> sup;
    DWORD plain = INFINITE;
    for (int i = 0; i < 2; ++i) {
        plain = std::min(plain, MillisToTrace(capture, install.ExePath(), L"", sup));
        ASSERT_NE(sup->WaitForWindow(), nullptr);
        sup->PostCommand(ID_APP_EXIT);
        ASSERT_EQ(sup->WaitForExit(20s), 1u);
    }
    const DWORD paused = MillisToTrace(capture, install.ExePath(), L"startInstall", sup);
    EXPECT_GE(paused, plain + kPauseMs - kStartJitterMs) << "without the word: " << plain << " ms";
    ASSERT_NE(sup->WaitForWindow(), nullptr);
    EXPECT_TRUE(sup->IsRunning());
}

TEST(Shell, WordsInOtherCaseOrWithSwitchPrefixesAreNotRecognised) {
    RunningInstall run(Launch().Args(L"StartHide -starthide /starthide startinstall"));
    Supervisor& sup = run.sup;
    EXPECT_TRUE(WaitUntil([&] { return sup.IsVisible(); }, 10s));
}

TEST(Shell, StartHideStaysHiddenAgainstASecondStartUntilShownFromTheTray) {
    RunningInstall run(Launch().Args(L"starthide"));
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    ::Sleep(1000);
    EXPECT_FALSE(sup.IsVisible());

    Supervisor second(install.ExePath());
    EXPECT_EQ(second.WaitForExit(20s), 0u);
    ::Sleep(500);
    EXPECT_FALSE(sup.IsVisible());

    // The tray's Show Window leaves suppression behind for good.
    sup.PostCommand(ID_SHOW_WINDOW);
    ASSERT_TRUE(WaitUntil([&] { return sup.IsVisible(); }, 10s));
    sup.PostCommand(ID_HIDE);
    ASSERT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 10s));
    ::ShowWindowAsync(sup.m_hWnd, SW_SHOW);
    EXPECT_TRUE(WaitUntil([&] { return sup.IsVisible(); }, 10s));
}

TEST(Shell, CloseAltF4AndHideOnlyHideWhileEscDoesNothing) {
    RunningInstall run(Launch().Visible());
    Supervisor& sup = run.sup;

    sup.PostCommand(IDCANCEL);  // what Esc produces in a dialog
    ::Sleep(500);
    EXPECT_TRUE(sup.IsVisible());

    ::PostMessageW(sup.m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 10s));
    ::ShowWindowAsync(sup.m_hWnd, SW_SHOW);
    ASSERT_TRUE(WaitUntil([&] { return sup.IsVisible(); }, 10s));

    ::PostMessageW(sup.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 10s));
    ::ShowWindowAsync(sup.m_hWnd, SW_SHOW);
    ASSERT_TRUE(WaitUntil([&] { return sup.IsVisible(); }, 10s));

    sup.PostCommand(ID_HIDE);
    EXPECT_TRUE(WaitUntil([&] { return !sup.IsVisible(); }, 10s));
    EXPECT_TRUE(sup.IsRunning());
    EXPECT_NE(sup.FindWindow(), nullptr);
}

TEST(Shell, ExitDestroysTheWindowAndEndsWithCodeOne) {
    RunningInstall run;
    Supervisor& sup = run.sup;
    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(30s), 1u);
    EXPECT_EQ(sup.FindWindow(), nullptr);
}

TEST(Shell, AboutBoxOpensModallyAndEndsOnOkEscAndClose) {
    RunningInstall run;
    Supervisor& sup = run.sup;
    const int closers[] = {IDOK, IDCANCEL, -1};
    for (int closer : closers) {
        sup.PostCommand(ID_APP_ABOUT);
        HWND about = FindAboutBox(sup.Pid());
        ASSERT_NE(about, nullptr);
        // The box exists a moment before its controls do.
        WaitUntil([&] { return ::GetDlgItem(about, IDC_ABOUT_COPYRIGHT) != nullptr; }, 5s);
        EXPECT_EQ(ReadWindowText(::GetDlgItem(about, IDC_ABOUT_VERSION)),
                  L"Quorvel Tollvane  V1.6(A1610127)");
        EXPECT_FALSE(ReadWindowText(::GetDlgItem(about, IDC_ABOUT_COPYRIGHT)).empty());
        if (closer == -1)
            ::PostMessageW(about, WM_CLOSE, 0, 0);
        else
            ::PostMessageW(about, WM_COMMAND, MAKEWPARAM(closer, BN_CLICKED), 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, 10s)) << "closer " << closer;
    }
    EXPECT_TRUE(sup.IsRunning());
}

TEST(Shell, TracesTheInstanceNameToTheDebugger) {
    DebugCapture capture;
    if (!capture.Active()) GTEST_SKIP() << "no debug-output channel";
    RunningInstall run;
    const Supervisor& sup = run.sup;
    const std::wstring expected = MakeInstanceName(run.install.ExePath());
    EXPECT_TRUE(capture.WaitForLine(
        sup.Pid(), [&](const std::wstring& l) { return l == expected; }, 10s));
}

// The user-interface language follows the Unix locale of the wine command
// that starts a process, so tests/e2e/chinese_ui.sh starts the supervisor with
// LC_ALL=zh_CN.UTF-8 and names its exe here; without it there is nothing to check.
TEST(ChineseUi, SupervisorStartedInAChineseSessionShowsChineseTexts) {
    wchar_t exe[2048] = {};
    if (::GetEnvironmentVariableW(L"TOLLVANE_ZH_EXE", exe, 2047) == 0) GTEST_SKIP() << "run by chinese_ui.sh";
    HWND hWnd = WaitForSupervisorWindowOf(exe, 30s);
    ASSERT_NE(hWnd, nullptr);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    EXPECT_EQ(ReadWindowText(::GetDlgItem(hWnd, ID_AGENT_START)), L"\u5f00\u542f");
    EXPECT_EQ(ReadWindowText(::GetDlgItem(hWnd, ID_AGENT_STOP)), L"\u505c\u6b62");
    EXPECT_EQ(ReadWindowText(::GetDlgItem(hWnd, ID_HIDE)), L"\u9690\u85cf");
    EXPECT_EQ(ReadWindowText(::GetDlgItem(hWnd, IDC_LOG_LABEL)), L"\u4ee3\u7406\u7a0b\u5e8f\u8f93\u51fa");
    EXPECT_EQ(ReadWindowText(hWnd), L"Quorvel Tollvane");
    ::PostMessageW(hWnd, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessAlive(pid); }, 30s));
}

TEST(Shell, VersionResourceCarriesTheVersionTheAboutBoxShows) {
    TempInstall install(false);
    const std::wstring exe = install.ExePath();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
    auto query = [&](const wchar_t* key) {
        void* value = nullptr;
        UINT length = 0;
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
        if (!::VerQueryValueW(data.data(), path.c_str(), &value, &length) || length == 0)
            return std::wstring();
        return std::wstring(static_cast<const wchar_t*>(value));
    };
    EXPECT_EQ(query(L"ProductName"), L"Quorvel Tollvane");
    EXPECT_EQ(query(L"ProductVersion"), L"V1.6(A1610127)");

    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    sup.PostCommand(ID_APP_ABOUT);
    HWND about = FindAboutBox(sup.Pid());
    ASSERT_NE(about, nullptr);
    WaitUntil([&] { return ::GetDlgItem(about, IDC_ABOUT_VERSION) != nullptr; }, 5s);
    EXPECT_EQ(ReadWindowText(::GetDlgItem(about, IDC_ABOUT_VERSION)),
              L"Quorvel Tollvane  " + query(L"ProductVersion"));
    ::PostMessageW(about, WM_COMMAND, IDOK, 0);
}

TEST(Shell, StartAndExitQueuedBehindExitCannotKeepTheAgentAliveOrHangExit) {
    RunningInstall run(Launch().FirstStart());
    const TempInstall& install = run.install;
    Supervisor& sup = run.sup;
    ASSERT_TRUE(WaitUntil([&] { return !ProcessesUnder(install.AgentDir()).empty(); }, 15s));
    sup.PostCommand(ID_APP_EXIT);
    sup.PostCommand(ID_AGENT_START);
    sup.PostCommand(ID_APP_EXIT);
    EXPECT_EQ(sup.WaitForExit(20s), 1u);
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(install.AgentDir()).empty(); }, 10s));
}
