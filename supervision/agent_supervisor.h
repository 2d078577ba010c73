// Keeping the agent running: the user's Start, Restart and Stop, a watch
// thread that launches the agent and waits for it, the tree kill, and one
// voice that reports the agent's life to whoever listens (the journal, the
// window). Knows no window: a front end listens and posts to itself.
//
// Threads: the owner (the UI thread) calls Start, Restart, Stop and the
// destructor; the watch thread launches, waits, ends the agent when asked
// and calls the listeners.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "supervision/agent_job.h"
#include "supervision/stop_rules.h"

enum class AgentPauseReason { CrashLoop, LaunchFailed };

// What happens to the agent, as the watch thread sees it. Called on the watch
// thread, in the order things happen, one listener after another under the
// supervisor's report lock: a listener returns at once and never waits for
// another thread (it queues, or posts to a window).
class CAgentListener {
public:
    // A process was launched (pid). Reported even when a Stop came meanwhile
    // and the new agent is being ended again.
    virtual void OnAgentStarted(DWORD /*pid*/) {}
    // The launched process ended after runMs.
    virtual void OnAgentExited(DWORD /*exitCode*/, DWORD /*runMs*/) {}
    // How the agent is held (a job, or only the tree walk, and why);
    // reported with the first launch and again whenever it changes.
    virtual void OnAgentHeld(AgentHold /*hold*/, DWORD /*error*/) {}
    // Stop, Restart or Exit has asked the agent to end; it has the grace.
    virtual void OnAgentStopping() {}
    // The asked agent's tree is gone: by itself, or by force.
    virtual void OnAgentStopEnded(StopOutcome /*outcome*/, DWORD /*elapsedMs*/) {}
    // The launch started nothing (error: the system's error code).
    virtual void OnLaunchFailed(DWORD /*error*/) {}
    // The next launch waits pauseMs.
    virtual void OnRelaunchPaused(DWORD /*pauseMs*/, AgentPauseReason /*reason*/) {}
    // The agent file is not there, or is a folder (bFolder); the watch ends
    // (OnWatchEnded follows).
    virtual void OnAgentMissing(const std::wstring& /*path*/, bool /*bFolder*/) {}
    // bHeld: another program holds the output pipe's name, and nothing is
    // launched (or swept) until it is ours; told once per such wait. Then,
    // with false, once the name is ours again.
    virtual void OnOutputPipeHeld(bool /*bHeld*/) {}
    // The watch has ended: no agent runs and none will until the next Start.
    virtual void OnWatchEnded() {}

protected:
    ~CAgentListener() = default;
};

class CAgentWatch;
class CLaunchGate;

class CAgentSupervisor {
public:
    // How long the destructor waits for the watch thread: the grace an asked
    // agent has, then as long again as a forced end may take. Whatever a stop
    // takes on the watch thread (the ask, the force, the tree kill, a wait
    // for the agent to go), the owner's thread waits no longer than this:
    // past it the supervisor silences its listeners and lets the thread
    // finish on its own.
    static constexpr DWORD kJoinBoundMs = kStopGraceMs + 5000;

    // agentPath: the agent executable; it runs in its own directory. The
    // listeners must outlive the supervisor; they hear of every event from
    // the first Start on, in the order given.
    CAgentSupervisor(std::wstring agentPath, std::vector<CAgentListener*> listeners);
    // Stops the agent and joins the watch thread, waiting at most kJoinBoundMs.
    ~CAgentSupervisor();
    CAgentSupervisor(const CAgentSupervisor&) = delete;
    CAgentSupervisor& operator=(const CAgentSupervisor&) = delete;

    // Keeps the agent running: creates the watch thread, or, when an agent
    // runs, has the watch thread end it (asked, then forced after the grace)
    // and launch it again at once. Returns at once; during a grace, the
    // agent is forced at once.
    void Start();
    // The same request, by its name for a running agent.
    void Restart() { Start(); }
    // Keeps the agent stopped: ends a back-off wait and has the watch thread
    // end the agent and its tree, asked first, forced after the grace.
    // Returns at once; a second Stop during the grace forces at once.
    void Stop();
    // Before the first Start: launches wait until the gate is open.
    void SetLaunchGate(std::shared_ptr<CLaunchGate> spGate);
    // From the end of the session on (bHold), nothing is launched; a session
    // end that was called off lets launches go on.
    void HoldLaunches(bool bHold);
    // The session ends: the agent and its tree are ended here and now,
    // without grace, and it stays stopped.
    void EndNow();
    // True from a Stop until the next Start (and before the first one).
    bool IsStopRequested() const;
    // Waits at most timeoutMs for the watch thread to end; true when none
    // runs any more.
    bool WaitForWatchEnd(DWORD timeoutMs) const;

    const std::wstring& AgentPath() const;
    const std::wstring& AgentDir() const;

private:
    // Shared with the watch thread, so the thread never touches a supervisor
    // that has let go of it.
    std::shared_ptr<CAgentWatch> m_spWatch;
};
