// Keeping the agent running: the watch thread, the user's Start and Stop, the
// tree kill, and one voice that reports the agent's life to whoever listens
// (the dialog's buttons and icon, the tray balloon, the journal).
//
// Threads: StartAgent, StopAgent and EndAgent run on the UI thread; the
// watch thread runs WatchAgent and calls the listeners, never holding a lock.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "framework/critical_section.h"
#include "framework/handle.h"
#include "supervision/agent_job.h"
#include "supervision/stop_rules.h"

enum class AgentPauseReason { CrashLoop, LaunchFailed };

// What happens to the agent, as the watch thread sees it. Called on the watch
// thread, in the order things happen, with no lock held.
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
    // The agent file is not there; the watch ends (OnWatchEnded follows).
    virtual void OnAgentMissing(const std::wstring& /*path*/) {}
    // The watch has ended: no agent runs and none will until the next Start.
    virtual void OnWatchEnded() {}

protected:
    ~CAgentListener() = default;
};

class CAgentSupervisor {
public:
    CAgentSupervisor() = default;
    virtual ~CAgentSupervisor() = default;
    CAgentSupervisor(const CAgentSupervisor&) = delete;
    CAgentSupervisor& operator=(const CAgentSupervisor&) = delete;

    // The host's paths: the agent executable and its directory.
    virtual std::wstring GetAgentPath() const = 0;
    virtual std::wstring GetAgentDir() const = 0;

    // UI thread, before the first StartAgent; read-only after.
    void AddAgentListener(CAgentListener* pListener) { m_listeners.push_back(pListener); }

    // Keep the agent running: creates the watch thread, or (Restart) has it
    // end the running agent (asked, then forced) and launch it again. Returns
    // at once; during a grace it forces at once.
    void StartAgent();
    // Stop and Exit: keep the agent stopped, end a back-off wait, have the
    // watch thread end the agent (asked, then forced). Returns at once; a
    // second Stop during the grace forces at once.
    void StopAgent();
    // A handle of our own on the watch thread for Exit's wait; empty when none.
    CHandle DuplicateWatchThread();
    // Ends every process under the agent directory and their descendants
    // (agent/process_tree.cpp), in rounds until one ends nothing new, at
    // most maxRounds. Any thread.
    void KillAgentTree(int maxRounds = kMaxKillRounds);
    static constexpr int kMaxKillRounds = 8;
    // The ids of the processes KillAgentTree would end now.
    std::vector<DWORD> AgentTreePids();

    // Atomic; written by the UI thread (Start, Stop, Exit), read by the watch
    // thread before every launch and again right after it, and by the tray
    // menu for its texts.
    std::atomic<BOOL> m_bStopRequested{TRUE};

private:
    static unsigned __stdcall WatchAgentThreadProc(void* pv);
    void WatchAgent();
    unsigned StartRequests();
    unsigned StopRequests();
    void WaitForAgent(class CAgentRun& run, unsigned nSeenStarts);
    void EndAgentGracefully(CAgentRun& run);
    void EndPreviousRun(CAgentRun& run);
    bool EndWatchUnlessStarted(unsigned nStarts);
    void DropWatchThreadLocked();
    template <typename Call>
    void Report(Call call) {
        for (CAgentListener* pListener : m_listeners) call(*pListener);
    }

    std::vector<CAgentListener*> m_listeners;  // see AddAgentListener
    // Guards m_hWatchThread, m_nStartRequests and m_nStopRequests: the
    // test-and-create in StartAgent and the watch thread's decision to end
    // are exclusive. Never held across a listener call or a window call.
    CCriticalSection m_csAgent;
    HANDLE m_hWatchThread = nullptr;  // guarded; closed by the watch thread as it ends
    unsigned m_nStartRequests = 0;    // guarded; counts StartAgent calls
    unsigned m_nStopRequests = 0;     // guarded; counts StopAgent calls
    // Watch thread only: how the last launched agent was held, so that the
    // journal hears of it once and again only when it changes.
    int m_nLastHold = -1;
    // Manual-reset; created by the first StartAgent before any watch thread
    // exists and never replaced. Set by Start/Stop/Exit to end a back-off
    // wait, reset by the watch thread at the top of each cycle.
    CHandle m_hWakeEvent;
};
