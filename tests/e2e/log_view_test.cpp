// The log view as people work with it: it stays where a reader scrolled or
// selected while output goes on, follows again at the end, and has its own
// context menu.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/tray_menu_support.h"

using namespace e2e;

namespace {

HWND LogEdit(const Supervisor& sup) { return ::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT); }

bool ViewShows(const Supervisor& sup, const wchar_t* text) {
    return sup.ControlText(IDC_LOG_EDIT).find(text) != std::wstring::npos;
}

// Selection packed in the result: enough for views under 64 Ki characters.
std::pair<unsigned, unsigned> Selection(HWND hEdit) {
    const LRESULT sel = ::SendMessageW(hEdit, EM_GETSEL, 0, 0);
    return {LOWORD(sel), HIWORD(sel)};
}

bool LastLineVisible(HWND hEdit) {
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_ALL;
    if (!::GetScrollInfo(hEdit, SB_VERT, &si)) return true;  // no scroll bar: all of it shows
    return si.nPos + static_cast<int>(si.nPage) > si.nMax;
}

}  // namespace

TEST(LogView, StaysWithASelectionAndScrolledPlaceThenFollowsAgainAtTheEnd) {
    TempInstall install;
    std::string script;
    for (int i = 0; i < 60; ++i) script += "send INFO,early-" + std::to_string(i) + "\n";
    script += "sleep 3000\n";
    for (int i = 0; i < 1000; ++i) script += "send INFO,later-" + std::to_string(i) + "\n";
    script += "sleep 3000\n";
    for (int i = 0; i < 5; ++i) script += "send INFO,tail-" + std::to_string(i) + "\n";
    install.WriteFile(L"bin\\agent-script.txt", script + "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"early-59"); }, 20s));
    HWND hEdit = LogEdit(sup);
    ::SendMessageW(hEdit, EM_SETSEL, 10, 20);
    ::SendMessageW(hEdit, EM_LINESCROLL, 0, -100000);
    ::SendMessageW(hEdit, EM_LINESCROLL, 0, 5);
    const LRESULT firstLine = ::SendMessageW(hEdit, EM_GETFIRSTVISIBLELINE, 0, 0);
    ASSERT_EQ(firstLine, 5);

    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"later-999"); }, 20s));
    EXPECT_EQ(Selection(hEdit), std::make_pair(10u, 20u));
    EXPECT_EQ(::SendMessageW(hEdit, EM_GETFIRSTVISIBLELINE, 0, 0), firstLine);

    // Back at the end with nothing selected: new output scrolls into view.
    const WPARAM end = static_cast<WPARAM>(::GetWindowTextLengthW(hEdit));
    ::SendMessageW(hEdit, EM_SETSEL, end, static_cast<LPARAM>(end));
    ::SendMessageW(hEdit, EM_SCROLLCARET, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"tail-4"); }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return LastLineVisible(hEdit); }, 2s));
}

// A trim (which keeps the last 30 lines) while the reader is among the lines
// that stay: the selection and the first visible line stay on the same text.
TEST(LogView, ATrimAboveTheReaderKeepsTheirPlaceOnTheTextThatStays) {
    TempInstall install;
    std::string script;
    for (int i = 0; i < 250; ++i)
        script += "send INFO,early-" + std::to_string(i) + "-" + std::string(100, 'e') + "\n";
    script += "sleep 3000\nsend INFO,later-" + std::string(3500, 'l') + "\n";
    install.WriteFile(L"bin\\agent-script.txt", script + "hang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"early-249-"); }, 20s));
    HWND hEdit = LogEdit(sup);
    std::wstring view = sup.ControlText(IDC_LOG_EDIT);
    ASSERT_NE(view.find(L"early-0-"), std::wstring::npos) << "trimmed too early";
    const size_t selStart = view.find(L"early-225-");
    ::SendMessageW(hEdit, EM_SETSEL, selStart, static_cast<LPARAM>(selStart + 9));
    const LRESULT line = ::SendMessageW(hEdit, EM_LINEFROMCHAR, view.find(L"early-222-"), 0);
    ::SendMessageW(hEdit, EM_LINESCROLL, 0, line - ::SendMessageW(hEdit, EM_GETFIRSTVISIBLELINE, 0, 0));

    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"later-"); }, 20s));
    view = sup.ControlText(IDC_LOG_EDIT);
    ASSERT_EQ(view.find(L"early-0-"), std::wstring::npos) << "no trim happened";
    const auto sel = Selection(hEdit);
    EXPECT_EQ(view.substr(sel.first, sel.second - sel.first), L"early-225");
    const LRESULT first =
        ::SendMessageW(hEdit, EM_LINEINDEX, ::SendMessageW(hEdit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    EXPECT_EQ(view.compare(static_cast<size_t>(first), 10, L"early-222-"), 0)
        << Narrow(view.substr(first, 20));
}

TEST(LogView, ItsMenuCopiesSelectsAllAndClearsTheViewButNotTheText) {
    TempInstall install;
    install.WriteFile(L"bin\\agent-script.txt",
                      "send INFO,alpha\nsend INFO,beta\nsleep 4000\nsend INFO,gamma\nhang\n");
    Supervisor sup(install.ExePath());
    ASSERT_NE(sup.WaitForWindow(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"beta"); }, 20s));
    HWND hEdit = LogEdit(sup);

    ASSERT_TRUE(sup.SendCommand(ID_LOG_SELECT_ALL));
    const std::wstring view = sup.ControlText(IDC_LOG_EDIT);
    EXPECT_EQ(Selection(hEdit), std::make_pair(0u, static_cast<unsigned>(view.size())));
    ASSERT_TRUE(sup.SendCommand(ID_LOG_COPY));
    EXPECT_EQ(ClipboardText(), view);

    // The open menu cannot be read from here (tests/win checks its texts);
    // Clear's mnemonic, which the edit control's own menu lacks, shows whose
    // menu it is.
    RECT rc = {};
    ::GetWindowRect(hEdit, &rc);
    ::PostMessageW(hEdit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hEdit),
                   MAKELPARAM(rc.left + 20, rc.top + 20));
    HWND hMenuWnd = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (hMenuWnd = FindMenuWindow(sup.Pid())) != nullptr; }, 5s));
    PressKey(hMenuWnd, 'L');
    EXPECT_TRUE(WaitUntil([&] { return sup.ControlText(IDC_LOG_EDIT).empty(); }, 5s));
    if (HWND hStill = FindMenuWindow(sup.Pid())) PressKey(hStill, VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return ViewShows(sup, L"gamma"); }, 20s));
    EXPECT_EQ(sup.ControlText(IDC_LOG_EDIT), L"gamma\r\n");
}
