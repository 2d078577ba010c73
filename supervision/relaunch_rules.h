// When to launch the agent again after it ended. No Win32 here.
#pragma once

#include <cstdint>

// An agent that keeps dying at once (or a launch that keeps failing) must not
// turn the watch thread into a busy loop. The first relaunch after an exit is
// immediate; each further run in a row shorter than kShortRunMs doubles the
// pause, from kFirstPauseMs up to kMaxPauseMs. A run of kShortRunMs or longer,
// or a Start from the user, starts over.
class CRelaunchBackoff {
public:
    static constexpr uint32_t kShortRunMs = 1000;
    static constexpr uint32_t kFirstPauseMs = 100;
    static constexpr uint32_t kMaxPauseMs = 10000;

    // The agent ran for runMs (0 when the launch failed); returns the pause
    // in milliseconds before the next launch.
    uint32_t OnRunEnded(uint32_t runMs);
    void Reset() { m_nShortRuns = 0; }

private:
    uint32_t m_nShortRuns = 0;  // short runs in a row
};
