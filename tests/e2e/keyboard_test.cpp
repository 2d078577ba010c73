// Keyboard handling of the main dialog, driven with real input events.
#include <gtest/gtest.h>

#include "resource.h"
#include "tests/support/agent_support.h"

using namespace e2e;

namespace {
void PressKey(WORD vk, bool withControl = false) {
    if (withControl)
        PressKeys({VK_CONTROL}, vk);
    else
        PressKeys({}, vk);
}

HWND FocusOf(HWND hWnd) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(hWnd, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool BringToFront(HWND hWnd) {
    ::SetForegroundWindow(hWnd);
    return WaitUntil([&] { return ::GetForegroundWindow() == hWnd; }, 5s);
}

// Start and end of the log's selection.
std::pair<DWORD, DWORD> Selection(HWND hEdit) {
    DWORD_PTR packed = 0;
    ::SendMessageTimeoutW(hEdit, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &packed);
    return {LOWORD(packed), HIWORD(packed)};
}
}  // namespace

TEST(Keyboard, TabLeavesTheLogAndCtrlASelectsTheWholeLogFromAnyControl) {
    RunningInstall run(Launch().Visible());
    Supervisor& sup = run.sup;
    ASSERT_TRUE(BringToFront(sup.m_hWnd)) << "the display did not hand over the foreground";
    HWND hEdit = ::GetDlgItem(sup.m_hWnd, IDC_LOG_EDIT);
    // The agent's greeting gives the log something to select: on an
    // empty log no selection could tell Ctrl+A from nothing.
    ASSERT_TRUE(WaitUntil([&] { return !ReadWindowText(hEdit).empty(); }, 15s)) << "the log stayed empty";
    const DWORD length = static_cast<DWORD>(ReadWindowText(hEdit).size());
    const auto caretAtEnd = std::make_pair(length, length);

    ASSERT_TRUE(WaitUntil([&] { return FocusOf(sup.m_hWnd) == hEdit; }, 5s));
    PressKey(VK_TAB);
    ASSERT_TRUE(
        WaitUntil([&] { return FocusOf(sup.m_hWnd) != hEdit && FocusOf(sup.m_hWnd) != nullptr; }, 5s));

    ::SendMessageTimeoutW(hEdit, EM_SETSEL, length, length, SMTO_ABORTIFHUNG, 5000, nullptr);
    ASSERT_EQ(Selection(hEdit), caretAtEnd);
    PressKey('A', true);
    EXPECT_TRUE(WaitUntil([&] { return Selection(hEdit) == std::make_pair(DWORD{0}, length); }, 5s))
        << "selection " << Selection(hEdit).first << ".." << Selection(hEdit).second << " of " << length;

    // The numeric-keypad 1 with Control does the same.
    ::SendMessageTimeoutW(hEdit, EM_SETSEL, length, length, SMTO_ABORTIFHUNG, 5000, nullptr);
    ASSERT_EQ(Selection(hEdit), caretAtEnd);
    PressKey(VK_NUMPAD1, true);
    EXPECT_TRUE(WaitUntil([&] { return Selection(hEdit) == std::make_pair(DWORD{0}, length); }, 5s));

    // Esc is the dialog's Cancel, which does nothing.
    PressKey(VK_ESCAPE);
    ::Sleep(300);
    EXPECT_TRUE(sup.IsVisible());
}

TEST(Keyboard, ASupervisorStartedHiddenTakesNoFocusUntilShownThenTheLogHasIt) {
    RunningInstall shown(Launch().WithoutAgent().Visible());
    ASSERT_TRUE(BringToFront(shown.sup.m_hWnd)) << "the display did not hand over the foreground";
    HWND hShownEdit = ::GetDlgItem(shown.sup.m_hWnd, IDC_LOG_EDIT);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(shown.sup.m_hWnd) == hShownEdit; }, 5s));

    // Focus in a window nobody sees would take the user's window's focus
    // and keep a caret blinking for nothing.
    RunningInstall hidden(Launch().WithoutAgent().Args(L"starthide"));
    ::Sleep(1000);
    EXPECT_EQ(::GetForegroundWindow(), shown.sup.m_hWnd);
    EXPECT_EQ(FocusOf(shown.sup.m_hWnd), hShownEdit);
    EXPECT_EQ(FocusOf(hidden.sup.m_hWnd), nullptr);

    hidden.sup.PostCommand(ID_SHOW_WINDOW);
    ASSERT_TRUE(WaitUntil([&] { return hidden.sup.IsVisible(); }, 10s));
    HWND hHiddenEdit = ::GetDlgItem(hidden.sup.m_hWnd, IDC_LOG_EDIT);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(hidden.sup.m_hWnd) == hHiddenEdit; }, 5s));
}
