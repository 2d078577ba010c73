// The main dialog's layout seen from outside: minimum size, the controls
// following a resize, minimise/restore and maximise with the size grip.
#include <gtest/gtest.h>

#include "resource.h"
#include "tests/support/agent_support.h"
#include "tests/support/layout_support.h"

using namespace e2e;

namespace {

struct Layout {
    RECT log, start, stop, hide, grip;
};

Layout ReadLayout(HWND hDlg) {
    return Layout{ControlRect(hDlg, IDC_LOG_EDIT), ControlRect(hDlg, ID_AGENT_START),
                  ControlRect(hDlg, ID_AGENT_STOP), ControlRect(hDlg, ID_HIDE),
                  ControlRect(hDlg, kSizeGripId)};
}

SIZE ClientSize(HWND hWnd) {
    RECT rc = {};
    ::GetClientRect(hWnd, &rc);
    return SIZE{rc.right, rc.bottom};
}

bool GripVisible(HWND hDlg) { return ::IsWindowVisible(::GetDlgItem(hDlg, kSizeGripId)) != FALSE; }

void ExpectLaidOutFor(const Layout& now, const Layout& ref, int dx, int dy) {
    const RECT grownLog{ref.log.left, ref.log.top, ref.log.right + dx, ref.log.bottom + dy};
    EXPECT_EQ(now.log, grownLog) << Describe(now.log) << " vs " << Describe(grownLog);
    EXPECT_EQ(now.start, Offset(ref.start, 0, dy)) << Describe(now.start);
    EXPECT_EQ(now.stop, Offset(ref.stop, 0, dy)) << Describe(now.stop);
    EXPECT_EQ(now.hide, Offset(ref.hide, dx, dy)) << Describe(now.hide);
    EXPECT_EQ(now.grip, Offset(ref.grip, dx, dy)) << Describe(now.grip);
}

void PostSysCommand(HWND hWnd, WPARAM command) { ::PostMessageW(hWnd, WM_SYSCOMMAND, command, 0); }

class DialogLayout : public ::testing::Test {
protected:
    RunningInstall m_run{Launch().WithoutAgent().Visible()};
    Supervisor& m_sup = m_run.sup;
    HWND m_hDlg = m_sup.m_hWnd;
};

TEST_F(DialogLayout, StartsWithTheGripInTheCornerAndCannotBeMadeSmallerThanItsFirstSize) {
    const Layout layout = ReadLayout(m_hDlg);
    const SIZE client = ClientSize(m_hDlg);
    EXPECT_TRUE(GripVisible(m_hDlg));
    EXPECT_EQ(layout.grip.right, client.cx);
    EXPECT_EQ(layout.grip.bottom, client.cy);

    const SIZE initial = WindowSize(m_hDlg);
    ResizeWindow(m_hDlg, initial.cx - 120, initial.cy - 80);
    SIZE now = WindowSize(m_hDlg);
    EXPECT_EQ(now.cx, initial.cx);
    EXPECT_EQ(now.cy, initial.cy);

    // Each dimension is held on its own; growing is free.
    ResizeWindow(m_hDlg, initial.cx + 40, initial.cy - 80);
    now = WindowSize(m_hDlg);
    EXPECT_EQ(now.cx, initial.cx + 40);
    EXPECT_EQ(now.cy, initial.cy);
}

TEST_F(DialogLayout, GrowingBy100x50GrowsTheLogAndMovesTheButtonsAndGripAlongTheEdges) {
    const Layout before = ReadLayout(m_hDlg);
    const SIZE clientBefore = ClientSize(m_hDlg);
    const SIZE initial = WindowSize(m_hDlg);

    ResizeWindow(m_hDlg, initial.cx + 100, initial.cy + 50);
    const SIZE client = ClientSize(m_hDlg);
    ASSERT_EQ(client.cx - clientBefore.cx, 100);
    ASSERT_EQ(client.cy - clientBefore.cy, 50);
    ExpectLaidOutFor(ReadLayout(m_hDlg), before, 100, 50);

    // For whoever looks at the result: the log fills the window, the buttons
    // run along the bottom.
    ::RedrawWindow(m_hDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(300);
    SaveWindowShot(m_hDlg, OwnDir() + L"resized.bmp");

    // Back to the first size, everything is exactly where it started.
    ResizeWindow(m_hDlg, initial.cx, initial.cy);
    ExpectLaidOutFor(ReadLayout(m_hDlg), before, 0, 0);
}

TEST_F(DialogLayout, MinimisingLaysNothingOutAndRestoringLaysOutAgain) {
    const SIZE initial = WindowSize(m_hDlg);
    ResizeWindow(m_hDlg, initial.cx + 100, initial.cy + 50);
    const Layout grown = ReadLayout(m_hDlg);

    // Knock Hide out of place; only a layout pass puts it back.
    HWND hHide = ::GetDlgItem(m_hDlg, ID_HIDE);
    ::SetWindowPos(hHide, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    PostSysCommand(m_hDlg, SC_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(m_hDlg) != FALSE; }, 10s));
    ::Sleep(300);
    const RECT hideWhileMinimised = ControlRect(m_hDlg, ID_HIDE);
    EXPECT_EQ(hideWhileMinimised.left, 0);
    EXPECT_EQ(hideWhileMinimised.top, 0);

    PostSysCommand(m_hDlg, SC_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return !::IsIconic(m_hDlg); }, 10s));
    EXPECT_TRUE(WaitUntil([&] { return ControlRect(m_hDlg, ID_HIDE) == grown.hide; }, 5s))
        << Describe(ControlRect(m_hDlg, ID_HIDE));
    ExpectLaidOutFor(ReadLayout(m_hDlg), grown, 0, 0);
    EXPECT_TRUE(GripVisible(m_hDlg));
}

TEST_F(DialogLayout, MaximisingHidesTheGripAndRestoringShowsIt) {
    const Layout before = ReadLayout(m_hDlg);
    const SIZE clientBefore = ClientSize(m_hDlg);

    // Wine without a window manager now and then drops a maximise that comes
    // right after the window was mapped; asking again is what a user would do.
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (::IsZoomed(m_hDlg)) return true;
            PostSysCommand(m_hDlg, SC_MAXIMIZE);
            return WaitUntil([&] { return ::IsZoomed(m_hDlg) != FALSE; }, 1s);
        },
        10s));
    EXPECT_TRUE(WaitUntil([&] { return !GripVisible(m_hDlg); }, 5s));
    // The window reports its new state before its size and its layout pass
    // have followed (under load, long before).
    const auto laidOutForClient = [&] {
        const SIZE client = ClientSize(m_hDlg);
        return client.cx > clientBefore.cx &&
               ReadLayout(m_hDlg).hide ==
                   Offset(before.hide, client.cx - clientBefore.cx, client.cy - clientBefore.cy);
    };
    EXPECT_TRUE(WaitUntil(laidOutForClient, 5s));
    const SIZE client = ClientSize(m_hDlg);
    ASSERT_GT(client.cx, clientBefore.cx);
    ExpectLaidOutFor(ReadLayout(m_hDlg), before, client.cx - clientBefore.cx, client.cy - clientBefore.cy);

    PostSysCommand(m_hDlg, SC_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return !::IsZoomed(m_hDlg); }, 10s));
    EXPECT_TRUE(WaitUntil([&] { return GripVisible(m_hDlg) && ReadLayout(m_hDlg).hide == before.hide; }, 5s));
    ExpectLaidOutFor(ReadLayout(m_hDlg), before, 0, 0);
}

TEST(DialogLayoutHidden, ResizingAStartHiddenWindowLaysItOutWithoutShowingIt) {
    RunningInstall run(Launch().WithoutAgent().Args(L"starthide"));
    Supervisor& sup = run.sup;
    HWND hDlg = sup.m_hWnd;
    ::Sleep(500);
    ASSERT_FALSE(sup.IsVisible());
    const Layout before = ReadLayout(hDlg);
    const SIZE initial = WindowSize(hDlg);

    ResizeWindow(hDlg, initial.cx + 100, initial.cy + 50);
    ExpectLaidOutFor(ReadLayout(hDlg), before, 100, 50);
    ::Sleep(300);
    EXPECT_FALSE(sup.IsVisible());
}

}  // namespace
