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

    // Keep the agent running: creates the watch thread, or (Restart) ends
    // the running agent so that the watch thread launches it again.
    void StartAgent();
    // Stop and Exit: keep the agent stopped, end a back-off wait, end the agent.
    void StopAgent();
    // The tree walk, then the launched agent itself through the watch
    // thread's handle, which reaches it even when it cannot be opened by id.
    void EndAgent();
    // A handle of our own on the watch thread for Exit's wait; empty when none.
    CHandle DuplicateWatchThread();
    // Ends every process under the agent directory and their descendants
    // (agent/process_tree.cpp). Any thread.
    void KillAgentTree();

    // Atomic; written by the UI thread (Start, Stop, Exit), read by the watch
    // thread before every launch and again right after it, and by the tray
    // menu for its texts.
    std::atomic<BOOL> m_bStopRequested{TRUE};

private:
    static unsigned __stdcall WatchAgentThreadProc(void* pv);
    void WatchAgent();
    unsigned StartRequests();
    bool EndWatchUnlessStarted(unsigned nStarts);
    void DropWatchThreadLocked();
    void SetAgentProcess(HANDLE hProcess);
    template <typename Call>
    void Report(Call call) {
        for (CAgentListener* pListener : m_listeners) call(*pListener);
    }

    std::vector<CAgentListener*> m_listeners;  // see AddAgentListener
    // Guards m_hWatchThread, m_nStartRequests and m_hAgentProcess: the
    // test-and-create in StartAgent and the watch thread's decision to end
    // are exclusive. Never held across a listener call or a window call.
    CCriticalSection m_csAgent;
    HANDLE m_hWatchThread = nullptr;  // guarded; closed by the watch thread as it ends
    unsigned m_nStartRequests = 0;    // guarded; counts StartAgent calls
    // Guarded: a copy of the handle of the agent the watch thread launched
    // and waits on, for as long as it waits; empty otherwise.
    CHandle m_hAgentProcess;
    // Manual-reset; created by the first StartAgent before any watch thread
    // exists and never replaced. Set by Start/Stop/Exit to end a back-off
    // wait, reset by the watch thread at the top of each cycle.
    CHandle m_hWakeEvent;
};
