// One launched agent and the way it is ended: asked first, forced after the
// grace (supervision/stop_rules.h). Used by the watch thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "supervision/agent_ask.h"
#include "supervision/agent_job.h"
#include "supervision/stop_rules.h"

// Which of two handles a wait saw set: hFirst wins when both are.
enum class WaitEnd { First, Second, Neither };
// The watch's one wait: for an agent to exit or a command event to be set
// (or, in either order, any two handles), at most timeoutMs. hSecond may be
// null: then hFirst alone. Neither: the time ran out, or the wait failed.
WaitEnd WaitForEither(HANDLE hFirst, HANDLE hSecond, DWORD timeoutMs);

class CAgentRun {
public:
    CAgentRun() = default;
    explicit CAgentRun(CAgentLaunch launch) : m_launch(std::move(launch)) {}
    CAgentRun(CAgentRun&&) = default;
    CAgentRun& operator=(CAgentRun&&) = default;

    bool Started() const { return static_cast<bool>(m_launch.hProcess); }
    HANDLE Process() const { return m_launch.hProcess.get(); }
    DWORD Pid() const { return m_launch.pid; }
    bool HasJob() const { return static_cast<bool>(m_launch.hJob); }
    const CAgentLaunch& Launch() const { return m_launch; }

    // Asks the agent to end, then waits until its tree is gone (the job's
    // last process; without a job, the agent), at most kStopGraceMs, and
    // forces what is left. hWake is the watch's manual-reset command event:
    // when it is set and forceNow() holds (a second Stop, a Start), the wait
    // ends in force at once. elapsedMs: from the ask to the end or the force.
    // targets gives whom the ask reaches now (AskAgentToEnd). Once the agent
    // itself has ended, what it started meanwhile (and so never heard the
    // ask) is asked again, every kReaskMs.
    StopOutcome EndGracefully(const std::function<AgentAskTargets()>& targets, HANDLE hWake,
                              const std::function<bool()>& forceNow, DWORD& elapsedMs);

    // Ends the job with exit code 0, or without one the agent itself: what
    // the agent left running when it exited, or what did not end when asked.
    // Without a job the caller's tree walk does the rest. 0 when the system
    // took the termination (or there was nothing to end), else its error.
    DWORD Force();
    // The error of the force the last EndGracefully made; 0 when it made
    // none or the system took it.
    DWORD ForceError() const { return m_forceError; }

private:
    bool IsGone() const;
    // Forces, and says what that came to: meant, or NotEnded when the system
    // refused while something still runs.
    StopOutcome ForceAs(StopOutcome meant);

    CAgentLaunch m_launch;
    DWORD m_forceError = ERROR_SUCCESS;
};
