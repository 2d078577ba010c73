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

    // Exits this soon after a resume from sleep are the sleep's doing (the
    // network gone, the clock jumped), not the agent's: they do not count.
    static constexpr uint64_t kResumeGraceMs = 30000;

    // The agent ran for runMs (0 when the launch failed); returns the pause
    // in milliseconds before the next launch. A short run that ended within
    // kResumeGraceMs after a resume (bAfterResume) leaves the count as it is
    // and waits kFirstPauseMs, so a tree that dies at once still cannot spin.
    uint32_t OnRunEnded(uint32_t runMs, bool bAfterResume = false);
    void Reset() { m_nShortRuns = 0; }

private:
    uint32_t m_nShortRuns = 0;  // short runs in a row
};

// Whether an exit at exitMs follows the last resume (resumeMs, on the same
// sleep-free clock; 0: none yet) closely enough to be excused.
inline bool IsResumeExempt(uint64_t exitMs, uint64_t resumeMs) {
    return resumeMs != 0 && exitMs >= resumeMs && exitMs - resumeMs < CRelaunchBackoff::kResumeGraceMs;
}
