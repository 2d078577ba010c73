#include "supervision/agent_run.h"

#include "supervision/end_rules.h"

namespace {

// How often the grace looks at the job once the agent itself has ended and
// only its descendants are left: the job has no handle to wait on that works
// on every system the supervisor runs on.
constexpr DWORD kJobPollMs = 5;
// How often the processes the agent left are asked again.
constexpr DWORD kReaskMs = 250;

}  // namespace

WaitEnd WaitForEither(HANDLE hFirst, HANDLE hSecond, DWORD timeoutMs) {
    const HANDLE waits[] = {hFirst, hSecond};
    const DWORD result = ::WaitForMultipleObjects(hSecond != nullptr ? 2 : 1, waits, FALSE, timeoutMs);
    if (result == WAIT_OBJECT_0) return WaitEnd::First;
    if (result == WAIT_OBJECT_0 + 1) return WaitEnd::Second;
    return WaitEnd::Neither;
}

bool CAgentRun::IsGone() const {
    if (HasJob()) return IsJobEmpty(m_launch.hJob.get());
    return ::WaitForSingleObject(Process(), 0) == WAIT_OBJECT_0;
}

DWORD CAgentRun::Force() {
    BOOL bTaken = TRUE;
    if (HasJob()) {
        bTaken = ::TerminateJobObject(m_launch.hJob.get(), 0);
    } else if (Started()) {
        bTaken = ::TerminateProcess(Process(), 0);
    }
    return bTaken ? ERROR_SUCCESS : ::GetLastError();
}

StopOutcome CAgentRun::ForceAs(StopOutcome meant) {
    m_forceError = Force();
    // Only a refusal needs a second look: an ended process refuses too.
    return OutcomeOfForce(meant, m_forceError, m_forceError != ERROR_SUCCESS && !IsGone());
}

StopOutcome CAgentRun::EndGracefully(const std::function<AgentAskTargets()>& targets, HANDLE hWake,
                                     const std::function<bool()>& forceNow, DWORD& elapsedMs) {
    const DWORD start = ::GetTickCount();
    m_forceError = ERROR_SUCCESS;
    AskAgentToEnd(Pid(), targets());
    DWORD lastAsk = 0;
    for (;;) {
        elapsedMs = ::GetTickCount() - start;
        if (IsGone()) return StopOutcome::EndedByItself;
        if (elapsedMs >= kStopGraceMs) return ForceAs(StopOutcome::GraceOver);
        const DWORD left = kStopGraceMs - elapsedMs;
        const bool agentAlive = ::WaitForSingleObject(Process(), 0) != WAIT_OBJECT_0;
        if (!agentAlive && elapsedMs - lastAsk >= kReaskMs) {
            // A child born while the ask went round, or still starting then,
            // missed it; the agent is gone, so the ask goes to its console.
            lastAsk = elapsedMs;
            AskAgentToEnd(0, targets());
            continue;
        }
        const DWORD waitMs = agentAlive ? left : (left < kJobPollMs ? left : kJobPollMs);
        if (WaitForEither(hWake, agentAlive ? Process() : nullptr, waitMs) == WaitEnd::First) {
            // Reset before asking, so a command that comes after the answer
            // wakes the next wait.
            ::ResetEvent(hWake);
            if (forceNow()) {
                elapsedMs = ::GetTickCount() - start;
                return ForceAs(StopOutcome::ForcedEarly);
            }
        }
    }
}
