// Decisions of the notification-area icon: what a mouse event on the icon
// does, what the context menu shows, and where the menu opens horizontally.
#pragma once

#include <array>
#include <cstdint>

#include "framework/resize_rules.h"
#include "res/resource.h"

enum class TrayAction { None, OpenMenu, ShowWindow, BalloonClicked };

// Classic notifications: wParam carries the icon id, the low 16 bits of lParam
// the mouse message or the balloon's event. Only a right-button release, a
// left double-click and a click on the balloon act.
TrayAction TrayActionFor(std::uintptr_t wParam, std::intptr_t lParam, unsigned iconId);

// One step of preparing the popup, applied in array order: set the item's text
// (by command, keeping its id), then, where setsState is true, its enabled state.
struct TrayMenuItem {
    unsigned id;
    unsigned textId;
    bool setsState;
    bool enabled;
};

// Start/Restart, Stop, History, About, Exit, Show/Hide Window. Stop is the
// only item whose state is set; it is disabled while the agent is to stay
// stopped.
std::array<TrayMenuItem, 6> TrayMenuItems(bool stopRequested, bool windowShown);

// The popup's items by position, as the menu resource holds them; 0 is a
// separator. The first entries keep their order; the entries added since sit
// in one group after Show Window, set off by separators; About and Exit stay
// last.
inline constexpr std::array<unsigned, 8> kTrayMenuLayout = {
    ID_AGENT_START, ID_AGENT_STOP, ID_SHOW_WINDOW, 0, ID_APP_HISTORY, 0, ID_APP_ABOUT, ID_APP_EXIT};

// x at which the menu opens for a cursor that lies on no monitor: clamped into
// the horizontal span of the nearest monitor's work area, both ends included.
int ClampMenuX(int x, const Rect& work);

// When the tray shows a balloon about the agent's trouble: once when an
// agent that nothing asked to end stops with a code other than 0 (a crash),
// once when the
// back-off of a crash loop, or of a launch that keeps failing, reaches
// kNoticePauseMs, once when the agent file is missing. Each shows once per episode; the episode ends when the
// agent has run for kSettledRunMs or the user acts.
enum class TroubleNotice { None, Crash, CrashLoop, LaunchFailing, AgentMissing };

class CTroubleEpisode {
public:
    static constexpr uint32_t kNoticePauseMs = 1000;
    static constexpr uint32_t kSettledRunMs = 30000;

    // An exit; call after OnRunEnded, which may have ended the episode.
    TroubleNotice OnExit(bool bAsked, uint32_t exitCode);
    TroubleNotice OnCrashLoopPause(uint32_t pauseMs);
    TroubleNotice OnLaunchFailurePause(uint32_t pauseMs);
    TroubleNotice OnAgentMissing();
    void OnRunEnded(uint32_t runMs);
    void OnUserAction();

private:
    bool m_bCrashShown = false;
    bool m_bCrashLoopShown = false;
    bool m_bMissingShown = false;
    bool m_bLaunchFailureShown = false;
};
