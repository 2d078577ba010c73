#include "ui/tray_tip_rules.h"

#include <gtest/gtest.h>

namespace {

// The string table's texts, as the tooltip shows them in each language.
TrayTipTexts English() {
    return {L"Quorvel Tollvane",
            L"Running since {time} (pid {pid})",
            L"Stopping\u2026",
            L"Restarting at {time} after {count} quick exits",
            L"Stopped",
            L"Agent file missing",
            L"Cannot start the agent: {reason}"};
}

TrayTipTexts Chinese() {
    return {L"Quorvel Tollvane",
            L"运行中，自 {time} 起（PID {pid}）",
            L"正在停止…",
            L"连续 {count} 次快速退出，将于 {time} 重启",
            L"已停止",
            L"找不到代理程序文件",
            L"无法启动代理程序：{reason}"};
}

AgentStateLine Line(AgentState state) {
    AgentStateLine line;
    line.state = state;
    line.pid = 1234;
    line.at = ClockTime{10, 2, 15};
    line.quickExits = 5;
    line.reason = L"Access is denied.";
    return line;
}

TEST(TrayTip, EachStateInBothLanguagesUnderTheTitle) {
    const struct {
        AgentState state;
        const wchar_t* english;
        const wchar_t* chinese;
    } cases[] = {
        {AgentState::Running, L"Running since 10:02 (pid 1234)", L"运行中，自 10:02 起（PID 1234）"},
        {AgentState::Stopping, L"Stopping\u2026", L"正在停止…"},
        {AgentState::Paused, L"Restarting at 10:02:15 after 5 quick exits",
         L"连续 5 次快速退出，将于 10:02:15 重启"},
        {AgentState::Stopped, L"Stopped", L"已停止"},
        {AgentState::Missing, L"Agent file missing", L"找不到代理程序文件"},
        {AgentState::CannotLaunch, L"Cannot start the agent: Access is denied.",
         L"无法启动代理程序：Access is denied."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildTrayTip(English(), Line(c.state), {}),
                  std::wstring(L"Quorvel Tollvane\n") + c.english);
        EXPECT_EQ(BuildTrayTip(Chinese(), Line(c.state), {}),
                  std::wstring(L"Quorvel Tollvane\n") + c.chinese);
    }
}

TEST(TrayTip, TimesAreUnpaddedHoursWithTwoDigitMinutesAndSeconds) {
    EXPECT_EQ(HourMinute(ClockTime{9, 5, 7}), L"9:05");
    EXPECT_EQ(HourMinuteSecond(ClockTime{0, 0, 7}), L"0:00:07");
    EXPECT_EQ(HourMinuteSecond(ClockTime{23, 59, 59}), L"23:59:59");
}

TEST(TrayTip, SupervisorNotesFollowTheAgentLineInKeyOrder) {
    const TrayNotes notes{
        {171, L"Journal cannot write"}, {170, L"Waiting: another program holds the output pipe"}, {172, L""}};
    EXPECT_EQ(
        BuildTrayTip(English(), Line(AgentState::Stopped), notes),
        L"Quorvel Tollvane\nStopped\nWaiting: another program holds the output pipe\nJournal cannot write");
}

TEST(TrayTip, ALongReasonIsCutWithAnEllipsisSoTheWholeTipFits) {
    AgentStateLine line = Line(AgentState::CannotLaunch);
    line.reason = std::wstring(200, L'r');
    const TrayNotes notes{{170, L"Waiting: another program holds the output pipe"}};
    const std::wstring tip = BuildTrayTip(English(), line, notes);
    EXPECT_EQ(tip.size(), kTrayTipCapacity);
    // The note after the reason survives whole; the reason ends in the ellipsis.
    EXPECT_NE(tip.find(L"r\u2026\nWaiting: another program holds the output pipe"), std::wstring::npos);

    // A pair of surrogates is never split by the cut.
    line.reason = std::wstring(200, L'\xD83D');
    for (size_t i = 1; i < line.reason.size(); i += 2) line.reason[i] = L'\xDE00';
    const std::wstring paired = BuildTrayTip(English(), line, {});
    EXPECT_LE(paired.size(), kTrayTipCapacity);
    EXPECT_EQ(paired.back(), L'\u2026');
    EXPECT_EQ(paired[paired.size() - 2], L'\xDE00');

    // A reason that fits stays whole.
    line.reason = L"short";
    EXPECT_EQ(BuildTrayTip(English(), line, {}).back(), L't');
}

TEST(TrayTip, NotesTooLongForAnyReasonCutTheWholeText) {
    const TrayNotes notes{{170, std::wstring(300, L'n')}};
    const std::wstring tip = BuildTrayTip(English(), Line(AgentState::Running), notes);
    EXPECT_EQ(tip.size(), kTrayTipCapacity);
    EXPECT_EQ(tip.rfind(L"Quorvel Tollvane\nRunning since 10:02 (pid 1234)\nnnn", 0), 0u);
    EXPECT_EQ(tip.back(), L'\u2026');
}

TEST(TrayTip, TheWatchdogsLineAndTheSilenceNoteFitWholeUnderALongRunningLine) {
    AgentStateLine line = Line(AgentState::Running);
    line.pid = 4294967295u;
    // The string ids of the watchdogs' line (194) and the silence note (197).
    const TrayNotes notes{{197, L"Silent since 23:59"}, {194, L"Watching: silence 1440 min, memory 1023.9 GB"}};
    const std::wstring tip = BuildTrayTip(English(), line, notes);
    EXPECT_EQ(tip, L"Quorvel Tollvane\nRunning since 10:02 (pid 4294967295)\n"
                   L"Watching: silence 1440 min, memory 1023.9 GB\nSilent since 23:59");
    EXPECT_LE(tip.size(), kTrayTipCapacity);
}

}  // namespace
