// Decisions of the notification-area icon: what a mouse event on the icon
// does, what the context menu shows, and where the menu opens horizontally.
#pragma once

#include <array>
#include <cstdint>

#include "framework/resize_rules.h"

enum class TrayAction { None, OpenMenu, ShowWindow };

// Classic notifications: wParam carries the icon id, the low 16 bits of lParam
// the mouse message. Only a right-button release and a left double-click act.
TrayAction TrayActionFor(std::uintptr_t wParam, std::intptr_t lParam, unsigned iconId);

// One step of preparing the popup, applied in array order: set the item's text
// (by command, keeping its id), then, where setsState is true, its enabled state.
struct TrayMenuItem {
    unsigned id;
    unsigned textId;
    bool setsState;
    bool enabled;
};

// Start/Restart, Stop, About, Exit, Show/Hide Window. Stop is the only item
// whose state is set; it is disabled while the agent is to stay stopped.
std::array<TrayMenuItem, 5> TrayMenuItems(bool stopRequested, bool windowShown);

// x at which the menu opens for a cursor that lies on no monitor: clamped into
// the horizontal span of the nearest monitor's work area, both ends included.
int ClampMenuX(int x, const Rect& work);

// When the tray shows a balloon about the agent's trouble: once when the
// back-off of a crash loop, or of a launch that keeps failing, reaches
// kNoticePauseMs, once when the agent file is missing. Each shows once per episode; the episode ends when the
// agent has run for kSettledRunMs or the user acts.
enum class TroubleNotice { None, CrashLoop, LaunchFailing, AgentMissing };

class CTroubleEpisode {
public:
    static constexpr uint32_t kNoticePauseMs = 1000;
    static constexpr uint32_t kSettledRunMs = 30000;

    TroubleNotice OnCrashLoopPause(uint32_t pauseMs);
    TroubleNotice OnLaunchFailurePause(uint32_t pauseMs);
    TroubleNotice OnAgentMissing();
    void OnRunEnded(uint32_t runMs);
    void OnUserAction();

private:
    bool m_bCrashLoopShown = false;
    bool m_bMissingShown = false;
    bool m_bLaunchFailureShown = false;
};
