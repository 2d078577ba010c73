// The watch thread and the state it shares with its supervisor. The
// supervisor owns one reference and the thread another, so the state lives
// until both are done with it.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "framework/critical_section.h"
#include "framework/handle.h"
#include "supervision/agent_ask.h"
#include "supervision/agent_supervisor.h"
#include "supervision/launch_gate.h"

class CAgentRun;

class CAgentWatch {
public:
    // After a quit has ended the agent (asked, then forced), the watch thread
    // waits this long for the process to go before it lets go of it.
    static constexpr DWORD kQuitPatienceMs = 1000;

    CAgentWatch(std::wstring agentPath, std::vector<CAgentEventSink*> sinks);
    CAgentWatch(const CAgentWatch&) = delete;
    CAgentWatch& operator=(const CAgentWatch&) = delete;

    // While the gate is closed the watch waits, now and then looking again
    // whether the pipe server has found the name held by another program.
    static constexpr DWORD kGatePollMs = 250;

    // Owner's thread, before the first Start.
    void SetLaunchGate(std::shared_ptr<CLaunchGate> spGate) { m_spGate = std::move(spGate); }
    void SetJobObserver(CAgentJobObserver* pObserver) {
        CLockGuard lock(m_csReport);
        m_pJobObserver = pObserver;
    }
    // Any thread.
    void NoteResume(uint64_t resumeMs) { m_nResumeMs = resumeMs; }
    // Owner's thread.
    void HoldLaunches(bool bHold);
    void EndNow();
    // bByUser: the user's own Start, whose launch may raise the consent
    // prompt once (an agent that asks for administrator rights).
    void Start(const std::shared_ptr<CAgentWatch>& spSelf, bool bByUser = false);
    void Stop(const std::shared_ptr<CAgentWatch>& spSelf);
    // The supervisor's end: a stop after which the watch thread ends even
    // when the agent does not.
    void Quit(const std::shared_ptr<CAgentWatch>& spSelf);
    // No sink is called after this returns; a call in progress finishes first.
    void SilenceSinks();
    bool WaitForEnd(DWORD timeoutMs) const;
    bool IsStopRequested() const { return m_bStopRequested; }

    const std::wstring& AgentPath() const { return m_strAgentPath; }
    const std::wstring& AgentDir() const { return m_strAgentDir; }

private:
    static unsigned __stdcall ThreadProc(void* pv);
    bool EnsureWatchThreadLocked(const std::shared_ptr<CAgentWatch>& spSelf);
    void WatchAgent();
    // Waits for the launched agent to end, ending it (asked, then forced)
    // when a Stop or a Restart asks (bEndedOnStop: it did so for a Stop);
    // false when a quit let go of an agent that would not end.
    bool WaitAgentEnd(CAgentRun& run, unsigned nSeenStarts, bool& bEndedOnStop);
    void EndAgentGracefully(CAgentRun& run);
    void EndPreviousRun(CAgentRun& run);
    void ReportLaunch(const CAgentRun& run);
    // Whether a launch (and the sweep before it) may go ahead now.
    bool MayLaunch() const;
    bool IsGateOpen() const { return !m_spGate || m_spGate->IsOpen(); }
    // Waits for a wake or, while only the gate holds launches back, for it to open.
    void WaitToLaunch();
    // The force from the owner's thread: the tree walk (only with bSweep;
    // while another program holds the pipe's name, what runs from the agent
    // folder is that program's), then the launched agent through its handle.
    void EndAgent(bool bSweep = true);
    // The session's end: an agent still there is asked once and has
    // kSessionEndGraceMs.
    void AskOnceAtSessionEnd();
    // A copy of the launched agent's handle (empty when none runs): held
    // across a kill from the owner's thread, it keeps the agent's id its own.
    CHandle AgentProcessCopy() const;
    // Whom an ask reaches now (the job's processes where the system lists
    // them, the launched agent's descendants, the tree's windows else).
    AgentAskTargets AskTargets(const CAgentRun& run) const;
    unsigned StartRequests();
    unsigned StopRequests();
    bool EndWatchUnlessStarted(unsigned nStarts);
    void DropWatchThreadLocked();
    void ReportWatchFailed(DWORD error, bool bNoThread);
    // Sets the wake event, when there is one (else no watch thread runs).
    void Wake();
    void SetAgentProcess(HANDLE hProcess);
    // Hands the event to every sink, in order.
    void Report(const AgentEvent& event);
    // Tells the job observer, if any, of the launched job (bLaunched) or its end.
    void TellJobObserver(bool bLaunched, HANDLE hJob = nullptr);

    const std::wstring m_strAgentPath;  // read-only after construction
    const std::wstring m_strAgentDir;   // read-only after construction

    // Guards m_sinks; held across each sink's call, so that SilenceSinks
    // returns only once no call is under way.
    CCriticalSection m_csReport;
    std::vector<CAgentEventSink*> m_sinks;
    CAgentJobObserver* m_pJobObserver = nullptr;  // guarded by m_csReport, like the sinks
    // Atomic; the last resume from sleep (SleepFreeMs, 0: none), written by
    // the owner's thread, read by the watch thread at each exit.
    std::atomic<uint64_t> m_nResumeMs{0};

    // Atomic; written by the owner's thread (Start, Stop, Quit), read by the
    // watch thread before every launch and again right after it.
    std::atomic<bool> m_bStopRequested{true};
    // Atomic; set once by Quit, read by the watch thread when it wakes.
    std::atomic<bool> m_bQuitting{false};
    // Atomic; set by the user's Start, taken (cleared) by the watch thread at
    // the next launch: that launch, and only that one, may elevate.
    std::atomic<bool> m_bUserStartPending{false};
    // Atomic; written by the owner's thread as the session ends (or does not
    // after all), read by the watch thread before every launch.
    std::atomic<bool> m_bLaunchesHeld{false};
    // Set before the first Start, read-only after; null when no pipe decides.
    std::shared_ptr<CLaunchGate> m_spGate;

    // Guards m_hWatchThread, m_nStartRequests and m_hAgentProcess: the
    // test-and-create in Start and the watch thread's decision to end are
    // exclusive. Never held across a sink's call.
    mutable CCriticalSection m_csAgent;
    HANDLE m_hWatchThread = nullptr;  // guarded; closed by the watch thread as it ends
    unsigned m_nStartRequests = 0;    // guarded; counts Start calls
    unsigned m_nStopRequests = 0;     // guarded; counts Stop calls (a second one forces)
    // Watch thread only: how the last launched agent was held, so that the
    // journal hears of it once and again only when it changes.
    int m_nLastHold = -1;
    // Guarded: a copy of the handle of the agent the watch thread launched
    // and waits on, for as long as it waits; empty otherwise.
    CHandle m_hAgentProcess;
    // Manual-reset; created with the object, never replaced. Set by Start,
    // Stop and Quit after they change what they ask, to end the watch
    // thread's wait for the agent or for the end of a back-off pause; reset
    // by the watch thread before it reads what was asked.
    // A watch that has none cannot begin: Start reports WatchFailed.
    const CHandle m_hWakeEvent;
    const DWORD m_wakeError;  // why there is no wake event; read-only after construction
};
