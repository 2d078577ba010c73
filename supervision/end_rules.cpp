#include "supervision/end_rules.h"

bool JobCountsAsEmpty(bool bRead, uint32_t activeProcesses) { return bRead && activeProcesses == 0; }

StopOutcome OutcomeOfForce(StopOutcome meant, uint32_t forceError, bool bStillRuns) {
    if (forceError == 0) return meant;
    return bStillRuns ? StopOutcome::NotEnded : StopOutcome::EndedByItself;
}

uint32_t SupervisorShutdownLevel(uint32_t agentLevel) {
    constexpr uint32_t kBand = 0x100;
    if (agentLevel < kLowestProgramShutdownLevel + kBand) return kLowestProgramShutdownLevel;
    return agentLevel - kBand;
}
