#include "ui/tray_rules.h"

#include "res/resource.h"

namespace {
constexpr unsigned kLButtonDblClk = 0x0203;
constexpr unsigned kRButtonUp = 0x0205;
constexpr unsigned kBalloonUserClick = 0x0405;  // NIN_BALLOONUSERCLICK
}  // namespace

TrayAction TrayActionFor(std::uintptr_t wParam, std::intptr_t lParam, unsigned iconId) {
    if (wParam != iconId) return TrayAction::None;
    switch (static_cast<unsigned>(lParam) & 0xFFFFu) {
        case kRButtonUp:
            return TrayAction::OpenMenu;
        case kLButtonDblClk:
            return TrayAction::ShowWindow;
        case kBalloonUserClick:
            return TrayAction::BalloonClicked;
        default:
            return TrayAction::None;
    }
}

std::array<TrayMenuItem, 6> TrayMenuItems(bool stopRequested, bool windowShown) {
    // Order matters: rewriting an item's text also re-enables it, so Stop's
    // state follows its text.
    return {{
        {ID_AGENT_START, static_cast<unsigned>(stopRequested ? IDS_START : IDS_RESTART), false, true},
        {ID_AGENT_STOP, IDS_STOP, true, !stopRequested},
        {ID_APP_HISTORY, IDS_HISTORY_MENU, false, true},
        {ID_APP_ABOUT, IDS_ABOUT, false, true},
        {ID_APP_EXIT, IDS_EXIT, false, true},
        {ID_SHOW_WINDOW, static_cast<unsigned>(windowShown ? IDS_HIDE_WINDOW : IDS_SHOW_WINDOW), false, true},
    }};
}

int ClampMenuX(int x, const Rect& work) {
    if (x < work.left) return work.left;
    if (x > work.right) return work.right;
    return x;
}

TroubleNotice CTroubleEpisode::OnExit(bool bAsked, uint32_t exitCode) {
    if (bAsked || exitCode == 0 || m_bCrashShown) return TroubleNotice::None;
    m_bCrashShown = true;
    return TroubleNotice::Crash;
}

TroubleNotice CTroubleEpisode::OnCrashLoopPause(uint32_t pauseMs) {
    if (pauseMs < kNoticePauseMs || m_bCrashLoopShown) return TroubleNotice::None;
    m_bCrashLoopShown = true;
    return TroubleNotice::CrashLoop;
}

TroubleNotice CTroubleEpisode::OnLaunchFailurePause(uint32_t pauseMs) {
    if (pauseMs < kNoticePauseMs || m_bLaunchFailureShown) return TroubleNotice::None;
    m_bLaunchFailureShown = true;
    return TroubleNotice::LaunchFailing;
}

TroubleNotice CTroubleEpisode::OnAgentMissing() {
    if (m_bMissingShown) return TroubleNotice::None;
    m_bMissingShown = true;
    return TroubleNotice::AgentMissing;
}

void CTroubleEpisode::OnRunEnded(uint32_t runMs) {
    if (runMs >= kSettledRunMs) OnUserAction();
}

void CTroubleEpisode::OnUserAction() {
    m_bCrashShown = false;
    m_bCrashLoopShown = false;
    m_bMissingShown = false;
    m_bLaunchFailureShown = false;
}
