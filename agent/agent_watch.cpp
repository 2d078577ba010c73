// Agent launch and exit watch: one watch thread keeps the agent running and
// tells the listeners what happens to it.
#include <windows.h>
#include <objbase.h>
#include <process.h>

#include "agent/agent_supervisor.h"
#include "agent/relaunch_rules.h"
#include "supervision/agent_run.h"

namespace {

// The shell may hand the launch to extensions that expect COM on the thread.
class CComScope {
public:
    CComScope() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~CComScope() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    HRESULT m_hr;
};

}  // namespace

unsigned CAgentSupervisor::StartRequests() {
    CLockGuard lock(m_csAgent);
    return m_nStartRequests;
}

unsigned CAgentSupervisor::StopRequests() {
    CLockGuard lock(m_csAgent);
    return m_nStopRequests;
}

// Closes the watch thread's own handle and clears the mark; under m_csAgent.
void CAgentSupervisor::DropWatchThreadLocked() {
    ::CloseHandle(m_hWatchThread);
    m_hWatchThread = nullptr;
}

// The watch thread's last act. It ends only if no Start came after nStarts
// was read (before the thread decided to end); otherwise that Start found
// the thread still there and relies on it to go on.
bool CAgentSupervisor::EndWatchUnlessStarted(unsigned nStarts) {
    CLockGuard lock(m_csAgent);
    if (m_nStartRequests != nStarts) return false;
    DropWatchThreadLocked();
    return true;
}

// UI thread. Never waits: the watch thread ends the running agent (Restart)
// and launches the next one.
void CAgentSupervisor::StartAgent() {
    m_bStopRequested = FALSE;
    CLockGuard lock(m_csAgent);
    if (!m_hWakeEvent) m_hWakeEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ++m_nStartRequests;
    if (!m_hWatchThread) {
        // Stored before the thread can reach its end, which takes the lock.
        m_hWatchThread =
            reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &WatchAgentThreadProc, this, 0, nullptr));
    }
    if (m_hWakeEvent) ::SetEvent(m_hWakeEvent.get());
}

// UI thread: the Stop and Exit commands. Never waits.
void CAgentSupervisor::StopAgent() {
    m_bStopRequested = TRUE;
    CLockGuard lock(m_csAgent);
    ++m_nStopRequests;
    if (m_hWakeEvent) ::SetEvent(m_hWakeEvent.get());
}

CHandle CAgentSupervisor::DuplicateWatchThread() {
    CLockGuard lock(m_csAgent);
    HANDLE hCopy = nullptr;
    if (m_hWatchThread) {
        ::DuplicateHandle(::GetCurrentProcess(), m_hWatchThread, ::GetCurrentProcess(), &hCopy, SYNCHRONIZE,
                          FALSE, 0);
    }
    return CHandle(hCopy);
}

unsigned __stdcall CAgentSupervisor::WatchAgentThreadProc(void* pv) {
    auto* pThis = static_cast<CAgentSupervisor*>(pv);
    if (pThis == nullptr) return 0;
    try {
        CComScope com;
        pThis->WatchAgent();
        return 0;
    } catch (...) {
    }
    // Leaving early: still report the end and drop the mark, so that the
    // next Start creates a new watch thread.
    try {
        pThis->Report([](CAgentListener& l) { l.OnWatchEnded(); });
    } catch (...) {
    }
    CLockGuard lock(pThis->m_csAgent);
    pThis->DropWatchThreadLocked();
    return 0;
}

// Watch thread.
void CAgentSupervisor::WatchAgent() {
    const std::wstring path = GetAgentPath();
    const std::wstring dir = GetAgentDir();
    CRelaunchBackoff backoff;
    // The agent of the last launch; its job (and so its tree) ends when the
    // next launch replaces it or the watch ends.
    CAgentRun run;
    DWORD pauseMs = 0;
    unsigned nSeenStarts = StartRequests();
    for (;;) {
        // Start, Stop and Exit set the event after changing the flag or the
        // start count, both read below, so a reset here loses none of them.
        ::ResetEvent(m_hWakeEvent.get());
        const unsigned nStarts = StartRequests();
        if (nStarts != nSeenStarts) {
            // The user asked for the agent: no pause before this launch.
            nSeenStarts = nStarts;
            backoff.Reset();
            pauseMs = 0;
        }
        const bool bMissing =
            !m_bStopRequested && ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
        if (m_bStopRequested || bMissing) {
            if (bMissing) Report([&](CAgentListener& l) { l.OnAgentMissing(path); });
            Report([](CAgentListener& l) { l.OnWatchEnded(); });
            if (EndWatchUnlessStarted(nStarts)) return;
            continue;
        }
        if (pauseMs != 0) {
            if (m_hWakeEvent)
                ::WaitForSingleObject(m_hWakeEvent.get(), pauseMs);
            else
                ::Sleep(pauseMs);
            pauseMs = 0;
            continue;
        }

        // No earlier copy of the agent, nor anything it started, survives.
        EndPreviousRun(run);
        // A Stop that came during the kill is seen before anything starts.
        if (m_bStopRequested) continue;
        const DWORD startTick = ::GetTickCount();
        run = CAgentRun(LaunchAgentProcess(path, dir));
        if (run.Started()) {
            const AgentHold hold = run.Launch().hold;
            if (static_cast<int>(hold) != m_nLastHold) {
                m_nLastHold = static_cast<int>(hold);
                const DWORD holdError = run.Launch().holdError;
                Report([hold, holdError](CAgentListener& l) { l.OnAgentHeld(hold, holdError); });
            }
            const DWORD pid = run.Pid();
            Report([pid](CAgentListener& l) { l.OnAgentStarted(pid); });
        } else {
            const DWORD error = run.Launch().error;
            Report([error](CAgentListener& l) { l.OnLaunchFailed(error); });
        }
        DWORD runMs = 0;  // a failed launch counts as a run that ended at once
        if (run.Started()) {
            WaitForAgent(run, nSeenStarts);
            runMs = ::GetTickCount() - startTick;
            DWORD exitCode = 0;
            ::GetExitCodeProcess(run.Process(), &exitCode);
            Report([exitCode, runMs](CAgentListener& l) { l.OnAgentExited(exitCode, runMs); });
        }
        pauseMs = backoff.OnRunEnded(runMs);
        if (pauseMs != 0 && !m_bStopRequested) {
            const AgentPauseReason reason =
                run.Started() ? AgentPauseReason::CrashLoop : AgentPauseReason::LaunchFailed;
            const DWORD pause = pauseMs;
            Report([pause, reason](CAgentListener& l) { l.OnRelaunchPaused(pause, reason); });
        }
    }
}

// Watch thread: until the agent ends by itself, or a command (Stop, Exit,
// Restart) has it asked to end and, after the grace, forced.
void CAgentSupervisor::WaitForAgent(CAgentRun& run, unsigned nSeenStarts) {
    bool bAsked = false;
    for (;;) {
        const HANDLE waits[] = {run.Process(), m_hWakeEvent.get()};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        ::ResetEvent(m_hWakeEvent.get());
        if (!m_bStopRequested && StartRequests() == nSeenStarts) continue;
        if (bAsked) {
            // Asked and forced already, yet still there: force again.
            run.Force();
            if (!run.HasJob()) KillAgentTree();
            continue;
        }
        bAsked = true;
        EndAgentGracefully(run);
    }
}

// Watch thread: the ask, the grace and the force, told to the listeners.
// The UI thread is never kept waiting: a command during the grace only sets
// the wake event, and a second one forces at once.
void CAgentSupervisor::EndAgentGracefully(CAgentRun& run) {
    Report([](CAgentListener& l) { l.OnAgentStopping(); });
    const unsigned nStarts = StartRequests();
    const unsigned nStops = StopRequests();
    // The windows to close are those of the job's processes; where the
    // system does not list them (or there is no job), those of the tree.
    std::vector<DWORD> pids = run.HasJob() ? JobProcessIds(run.Launch().hJob.get()) : std::vector<DWORD>();
    if (pids.empty()) pids = AgentTreePids();
    if (pids.empty()) pids.push_back(run.Pid());
    DWORD elapsedMs = 0;
    const StopOutcome outcome = run.EndGracefully(
        pids, m_hWakeEvent.get(), [&] { return StartRequests() != nStarts || StopRequests() != nStops; },
        elapsedMs);
    // What is outside the job (a copy started by hand, a process that broke
    // away) by the path rule: one sweep where a job held the rest, rounds
    // where none did.
    KillAgentTree(run.HasJob() ? 1 : kMaxKillRounds);
    Report([outcome, elapsedMs](CAgentListener& l) { l.OnAgentStopEnded(outcome, elapsedMs); });
}

// Watch thread, before each launch: the previous agent's job (what it left
// running when it exited), then one sweep by path for what is outside any
// job of ours (a copy started by hand, one that broke away); without a job
// the walk goes in rounds.
void CAgentSupervisor::EndPreviousRun(CAgentRun& run) {
    const bool bHadJob = run.HasJob();
    run.Force();
    run = CAgentRun();
    KillAgentTree(bHadJob ? 1 : kMaxKillRounds);
}
