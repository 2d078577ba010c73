// Keeping the agent running: the user's Start, Restart and Stop, a watch
// thread that launches the agent and waits for it, the tree kill, and one
// voice that reports the agent's life, one AgentEvent per event, to its
// sinks (the journal, the window). Knows no window: a front end's sink posts
// to itself.
//
// Threads: the owner (the UI thread) calls Start, Restart, Stop and the
// destructor; the watch thread launches, waits, ends the agent when asked
// and hands the sinks each event.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "supervision/agent_event.h"

class CAgentWatch;
class CLaunchGate;

// Hears of each launched agent's job on the watch thread, under the same
// lock and with the same promise as the sinks: it returns at once. For
// whoever watches the agent's tree as a whole (the memory watchdog).
class CAgentJobObserver {
public:
    // An agent runs, held in hJob (null: it has no job). The handle stays
    // the watch thread's; copy it to keep it.
    virtual void OnAgentLaunched(HANDLE hJob) = 0;
    // That agent has ended, or the watch let go of it.
    virtual void OnAgentEnded() = 0;

protected:
    ~CAgentJobObserver() = default;
};

class CAgentSupervisor {
public:
    // How long the destructor waits for the watch thread: the grace an asked
    // agent has, then as long again as a forced end may take. Whatever a stop
    // takes on the watch thread (the ask, the force, the tree kill, a wait
    // for the agent to go), the owner's thread waits no longer than this:
    // past it the supervisor silences its sinks and lets the thread
    // finish on its own.
    static constexpr DWORD kJoinBoundMs = kStopGraceMs + 5000;

    // agentPath: the agent executable; it runs in its own directory. The
    // sinks must outlive the supervisor; they hear of every event from the
    // first Start on, in the order given.
    CAgentSupervisor(std::wstring agentPath, std::vector<CAgentEventSink*> sinks);
    // Stops the agent and joins the watch thread, waiting at most kJoinBoundMs.
    ~CAgentSupervisor();
    CAgentSupervisor(const CAgentSupervisor&) = delete;
    CAgentSupervisor& operator=(const CAgentSupervisor&) = delete;

    // Keeps the agent running: creates the watch thread, or, when an agent
    // runs, has the watch thread end it (asked, then forced after the grace)
    // and launch it again at once. Returns at once; during a grace, the
    // agent is forced at once. bByUser: the user's own command, whose
    // launch may raise the consent prompt once, for an agent that asks for
    // administrator rights; no other launch does.
    void Start(bool bByUser = false);
    // The same request, by its name for a running agent.
    void Restart() { Start(true); }
    // Keeps the agent stopped: ends a back-off wait and has the watch thread
    // end the agent and its tree, asked first, forced after the grace.
    // Returns at once; a second Stop during the grace forces at once.
    void Stop();
    // Before the first Start: launches wait until the gate is open.
    void SetLaunchGate(std::shared_ptr<CLaunchGate> spGate);
    // Before the first Start; it must outlive the supervisor, as the sinks do.
    void SetJobObserver(CAgentJobObserver* pObserver);
    // The machine has resumed from sleep, at resumeMs (SleepFreeMs): exits
    // within CRelaunchBackoff::kResumeGraceMs after it do not count toward
    // the crash-loop back-off.
    void NoteResume(uint64_t resumeMs);
    // From the end of the session on (bHold), nothing is launched; a session
    // end that was called off lets launches go on.
    void HoldLaunches(bool bHold);
    // The session ends: the agent and its tree are ended here and now,
    // without grace, and it stays stopped.
    void EndNow();
    // True from a Stop until the next Start (and before the first one).
    bool IsStopRequested() const;
    // The end, begun without waiting: the agent is asked to end (forced after
    // the grace) and the watch ends. Once only; the destructor then only
    // waits, what is left of kJoinBoundMs.
    void Quit();
    // True once no watch thread runs.
    bool HasWatchEnded() const;

private:
    // What the tests look at beyond this face (supervision/agent_supervisor_probe.h).
    friend class CAgentSupervisorProbe;

    // Shared with the watch thread, so the thread never touches a supervisor
    // that has let go of it.
    std::shared_ptr<CAgentWatch> m_spWatch;
    // Owner's thread only.
    bool m_bQuitAsked = false;
    DWORD m_nQuitTick = 0;  // GetTickCount of the Quit
};
