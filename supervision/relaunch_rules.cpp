#include "supervision/relaunch_rules.h"

uint32_t CRelaunchBackoff::OnRunEnded(uint32_t runMs, bool bAfterResume) {
    if (runMs >= kShortRunMs) {
        m_nShortRuns = 0;
        return 0;
    }
    if (bAfterResume) return kFirstPauseMs;
    if (m_nShortRuns < UINT32_MAX) ++m_nShortRuns;
    if (m_nShortRuns == 1) return 0;
    uint32_t pause = kFirstPauseMs;
    for (uint32_t i = 2; i < m_nShortRuns && pause < kMaxPauseMs; ++i) pause *= 2;
    return pause < kMaxPauseMs ? pause : kMaxPauseMs;
}
