// Agent launch and exit watch: one watch thread keeps the agent running,
// ends it when asked, and tells its sinks what happens to it.
#include <windows.h>
#include <objbase.h>
#include <process.h>

#include <memory>

#include "supervision/agent_watch.h"

#include "framework/debug_trace.h"
#include "framework/sleep_free_clock.h"
#include "supervision/agent_run.h"
#include "supervision/end_rules.h"
#include "supervision/process_tree.h"
#include "supervision/relaunch_rules.h"

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

AgentEvent Event(AgentEvent::Kind kind) {
    AgentEvent event;
    event.kind = kind;
    return event;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

CAgentWatch::CAgentWatch(std::wstring agentPath, std::vector<CAgentEventSink*> sinks)
    : m_strAgentPath(std::move(agentPath)),
      m_strAgentDir(DirectoryOf(m_strAgentPath)),
      m_sinks(std::move(sinks)),
      m_hWakeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_wakeError(m_hWakeEvent ? 0 : ::GetLastError()) {}

unsigned CAgentWatch::StartRequests() {
    CLockGuard lock(m_csAgent);
    return m_nStartRequests;
}

unsigned CAgentWatch::StopRequests() {
    CLockGuard lock(m_csAgent);
    return m_nStopRequests;
}

// Closes the watch thread's own handle and clears the mark; under m_csAgent.
void CAgentWatch::DropWatchThreadLocked() {
    ::CloseHandle(m_hWatchThread);
    m_hWatchThread = nullptr;
}

// The watch thread's last act. It ends only if no Start came after nStarts
// was read (before the thread decided to end); otherwise that Start found
// the thread still there and relies on it to go on.
bool CAgentWatch::EndWatchUnlessStarted(unsigned nStarts) {
    CLockGuard lock(m_csAgent);
    if (m_nStartRequests != nStarts) return false;
    DropWatchThreadLocked();
    return true;
}

// Under m_csAgent: creates the watch thread unless one runs; false when none
// could be created.
bool CAgentWatch::EnsureWatchThreadLocked(const std::shared_ptr<CAgentWatch>& spSelf) {
    if (m_hWatchThread) return true;
    // The thread holds its own reference, so the state outlives a supervisor
    // that lets go of the thread.
    auto spArg = std::make_unique<std::shared_ptr<CAgentWatch>>(spSelf);
    // Stored before the thread can reach its end, which takes the lock.
    m_hWatchThread =
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &ThreadProc, spArg.get(), 0, nullptr));
    if (m_hWatchThread == nullptr) return false;
    spArg.release();
    return true;
}

// Owner's thread.
void CAgentWatch::Start(const std::shared_ptr<CAgentWatch>& spSelf, bool bByUser) {
    if (m_bQuitting) return;
    if (bByUser) m_bUserStartPending = true;
    if (!m_hWakeEvent) {
        // No Stop could reach a watch thread: none is made, and the agent
        // stays stopped.
        ReportWatchFailed(m_wakeError, false);
        return;
    }
    m_bStopRequested = false;
    bool bWatching = false;
    {
        CLockGuard lock(m_csAgent);
        ++m_nStartRequests;
        bWatching = EnsureWatchThreadLocked(spSelf);
    }
    if (!bWatching) {
        // Nothing runs, and the next Start tries again.
        ReportWatchFailed(::GetLastError(), true);
        return;
    }
    // Restart: the watch thread ends its agent and, the count having
    // changed, launches it again at once.
    ::SetEvent(m_hWakeEvent.get());
}

// Owner's thread: the watch cannot begin; told like any event.
void CAgentWatch::ReportWatchFailed(DWORD error, bool bNoThread) {
    AgentEvent failed = Event(AgentEvent::Kind::WatchFailed);
    failed.error = error;
    failed.bFlag = bNoThread;
    Report(failed);
    Report(Event(AgentEvent::Kind::WatchEnded));
}

// Owner's thread: the Stop and Exit commands. The watch thread ends the agent
// (asked, then forced after the grace; a second Stop forces at once) and
// sweeps the agent directory; with no agent watched, a watch thread is
// made for the sweep alone, so a Stop ends what runs there either way.
void CAgentWatch::Stop(const std::shared_ptr<CAgentWatch>& spSelf) {
    m_bStopRequested = true;
    bool bWatching = false;
    if (m_hWakeEvent) {
        CLockGuard lock(m_csAgent);
        ++m_nStopRequests;
        bWatching = EnsureWatchThreadLocked(spSelf);
    }
    if (bWatching)
        ::SetEvent(m_hWakeEvent.get());
    else
        EndAgent(IsGateOpen());  // no thread to wake: end what runs there from here
}

void CAgentWatch::Wake() {
    if (m_hWakeEvent) ::SetEvent(m_hWakeEvent.get());
}

void CAgentWatch::Quit(const std::shared_ptr<CAgentWatch>& spSelf) {
    m_bQuitting = true;
    Stop(spSelf);
}

void CAgentWatch::SilenceSinks() {
    CLockGuard lock(m_csReport);
    m_sinks.clear();
    m_pJobObserver = nullptr;
}

void CAgentWatch::TellJobObserver(bool bLaunched, HANDLE hJob) {
    CLockGuard lock(m_csReport);
    if (m_pJobObserver == nullptr) return;
    if (bLaunched)
        m_pJobObserver->OnAgentLaunched(hJob);
    else
        m_pJobObserver->OnAgentEnded();
}

void CAgentWatch::Report(const AgentEvent& event) {
    CLockGuard lock(m_csReport);
    for (CAgentEventSink* pSink : m_sinks) pSink->OnAgentEvent(event);
}

bool CAgentWatch::WaitForEnd(DWORD timeoutMs) const {
    HANDLE hCopy = nullptr;
    {
        CLockGuard lock(m_csAgent);
        if (m_hWatchThread == nullptr) return true;
        if (!::DuplicateHandle(::GetCurrentProcess(), m_hWatchThread, ::GetCurrentProcess(), &hCopy,
                               SYNCHRONIZE, FALSE, 0))
            return false;
    }
    const CHandle hThread(hCopy);
    return ::WaitForSingleObject(hThread.get(), timeoutMs) == WAIT_OBJECT_0;
}

CHandle CAgentWatch::AgentProcessCopy() const {
    HANDLE hCopy = nullptr;
    CLockGuard lock(m_csAgent);
    if (m_hAgentProcess)
        ::DuplicateHandle(::GetCurrentProcess(), m_hAgentProcess.get(), ::GetCurrentProcess(), &hCopy, 0,
                          FALSE, DUPLICATE_SAME_ACCESS);
    return CHandle(hCopy);
}

// Without a watch thread to wake (none could be made), and at the end of
// the session: the force alone, here. The tree walk first, while the agent
// is still there to lead it to its descendants (it is part of the tree
// whatever its path says); then the launched process itself, through the
// handle that reaches it even when it cannot be opened by id. The watch
// thread may let go of its own handle meanwhile: the copy keeps the id from
// passing to another process until both are done.
void CAgentWatch::EndAgent(bool bSweep) {
    const CHandle hAgent = AgentProcessCopy();
    if (bSweep) KillAgentTree(m_strAgentDir, kMaxKillRounds, hAgent.get());
    if (hAgent) ::TerminateProcess(hAgent.get(), 0);
}

void CAgentWatch::HoldLaunches(bool bHold) {
    m_bLaunchesHeld = bHold;
    Wake();
}

// Owner's thread, at the session's end: no time for the watch thread to
// take its turn, so the agent is ended from here, and the watch ends after.
// The system has told the agent first (the supervisor's shutdown level is
// the lower), so one still there gets one short ask.
void CAgentWatch::EndNow() {
    m_bLaunchesHeld = true;
    m_bStopRequested = true;
    AskOnceAtSessionEnd();
    EndAgent(IsGateOpen());
    Wake();
}

void CAgentWatch::AskOnceAtSessionEnd() {
    const CHandle hAgent = AgentProcessCopy();
    if (!hAgent || ::WaitForSingleObject(hAgent.get(), 0) != WAIT_TIMEOUT) return;
    AgentAskTargets targets;
    targets.own = LaunchedTreePids(hAgent.get());
    if (targets.own.empty()) return;  // its age unreadable: nothing is known to be its
    targets.windows.assign(targets.own.begin(), targets.own.end());
    AskAgentToEnd(::GetProcessId(hAgent.get()), targets);
    ::WaitForSingleObject(hAgent.get(), kSessionEndGraceMs);
}

bool CAgentWatch::MayLaunch() const { return !m_bLaunchesHeld && IsGateOpen(); }

void CAgentWatch::WaitToLaunch() {
    const HANDLE gate = !m_bLaunchesHeld && m_spGate ? m_spGate->OpenEvent() : nullptr;
    WaitForEither(m_hWakeEvent.get(), gate, gate != nullptr ? kGatePollMs : INFINITE);
}

// Watch thread: publishes (or, with null, withdraws) the running agent's handle.
void CAgentWatch::SetAgentProcess(HANDLE hProcess) {
    HANDLE hCopy = nullptr;
    if (hProcess != nullptr)
        ::DuplicateHandle(::GetCurrentProcess(), hProcess, ::GetCurrentProcess(), &hCopy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    CLockGuard lock(m_csAgent);
    m_hAgentProcess.reset(hCopy);
}

unsigned __stdcall CAgentWatch::ThreadProc(void* pv) {
    const std::unique_ptr<std::shared_ptr<CAgentWatch>> spArg(static_cast<std::shared_ptr<CAgentWatch>*>(pv));
    if (!spArg || !*spArg) return 0;
    CAgentWatch& watch = **spArg;
    try {
        CComScope com;
        watch.WatchAgent();
        return 0;
    } catch (...) {
    }
    // Leaving early: still report the end and drop the mark, so that the
    // next Start creates a new watch thread.
    try {
        watch.SetAgentProcess(nullptr);
        watch.Report(Event(AgentEvent::Kind::WatchEnded));
    } catch (...) {
    }
    CLockGuard lock(watch.m_csAgent);
    watch.DropWatchThreadLocked();
    return 0;
}

// Watch thread. The wake event ends the wait for the agent as well as a
// back-off pause, so a Stop always reaches this thread, whatever the agent
// does: it asks the agent to end and forces it after the grace, and a quit
// ends the wait for good.
bool CAgentWatch::WaitAgentEnd(CAgentRun& run, unsigned nSeenStarts, bool& bEndedOnStop) {
    const HANDLE hProcess = run.Process();
    bool bAsked = false;
    for (;;) {
        const WaitEnd end = WaitForEither(hProcess, m_hWakeEvent.get(), INFINITE);
        if (end != WaitEnd::Second) return end == WaitEnd::First;
        // Reset before reading what was asked: a later request sets it again.
        ::ResetEvent(m_hWakeEvent.get());
        const bool bStop = m_bStopRequested;
        if (!m_bQuitting && !bStop && StartRequests() == nSeenStarts) continue;
        if (bAsked) {
            // Asked and forced already, yet still there: force again.
            run.Force();
            KillAgentTree(m_strAgentDir, run.HasJob() ? 1 : kMaxKillRounds);
        } else {
            bAsked = true;
            EndAgentGracefully(run);
        }
        if (bStop) bEndedOnStop = true;
        if (m_bQuitting) {
            if (::WaitForSingleObject(hProcess, kQuitPatienceMs) == WAIT_OBJECT_0) return true;
            DebugTrace(L"the agent did not end; the watch lets go of it");
            return false;
        }
    }
}

// Watch thread: the ask, the grace and the force, told to the sinks.
// The owner's thread is never kept waiting: a command during the grace only
// sets the wake event, and a second Stop (or a Start) forces at once.
void CAgentWatch::EndAgentGracefully(CAgentRun& run) {
    Report(Event(AgentEvent::Kind::Stopping));
    const unsigned nStarts = StartRequests();
    const unsigned nStops = StopRequests();
    DWORD elapsedMs = 0;
    const StopOutcome outcome =
        run.EndGracefully([&] { return AskTargets(run); }, m_hWakeEvent.get(),
                          [&] { return StartRequests() != nStarts || StopRequests() != nStops; }, elapsedMs);
    // What is outside the job (a copy started by hand, a process that broke
    // away) by the path rule: one sweep where a job held the rest, rounds
    // where none did.
    KillAgentTree(m_strAgentDir, run.HasJob() ? 1 : kMaxKillRounds);
    AgentEvent ended = Event(AgentEvent::Kind::StopEnded);
    ended.outcome = outcome;
    ended.elapsedMs = elapsedMs;
    ended.error = run.ForceError();
    Report(ended);
}

AgentAskTargets CAgentWatch::AskTargets(const CAgentRun& run) const {
    AgentAskTargets targets;
    const std::vector<DWORD> jobPids =
        run.HasJob() ? JobProcessIds(run.Launch().hJob.get()) : std::vector<DWORD>();
    // Ctrl+C only where all on the console are the agent's own: its job's,
    // or it and its descendants (one that left the job may share its console).
    targets.own = LaunchedTreePids(run.Process());
    targets.own.insert(jobPids.begin(), jobPids.end());
    // The windows to close are those of the job's processes; where the
    // system does not list them, or there is no job, the tree's.
    targets.windows = !jobPids.empty() ? jobPids : AgentTreePids(m_strAgentDir, run.Process());
    return targets;
}

// Watch thread, before each launch: the previous agent's job (what it left
// running when it exited), then one sweep by path for what is outside any
// job of ours (a copy started by hand, one that broke away); without a job
// the walk goes in rounds.
void CAgentWatch::EndPreviousRun(CAgentRun& run) {
    const bool bHadJob = run.HasJob();
    run.Force();
    run = CAgentRun();
    KillAgentTree(m_strAgentDir, bHadJob ? 1 : kMaxKillRounds);
}

// Watch thread: how the agent is held (once, and again when it changes),
// then the start or the failure.
void CAgentWatch::ReportLaunch(const CAgentRun& run) {
    if (!run.Started()) {
        AgentEvent failed = Event(AgentEvent::Kind::LaunchFailed);
        failed.error = run.Launch().error;
        Report(failed);
        return;
    }
    const AgentHold hold = run.Launch().hold;
    if (static_cast<int>(hold) != m_nLastHold) {
        m_nLastHold = static_cast<int>(hold);
        AgentEvent held = Event(AgentEvent::Kind::Held);
        held.hold = hold;
        held.error = run.Launch().holdError;
        Report(held);
    }
    AgentEvent started = Event(AgentEvent::Kind::Started);
    started.pid = run.Pid();
    Report(started);
}

// Watch thread.
void CAgentWatch::WatchAgent() {
    const std::wstring& path = m_strAgentPath;
    const std::wstring& dir = m_strAgentDir;
    CRelaunchBackoff backoff;
    // The agent of the last launch; its job (and so its tree) ends when the
    // next launch replaces it or the watch ends.
    CAgentRun run;
    DWORD pauseMs = 0;
    unsigned nSeenStarts = StartRequests();
    // The tree has been ended since a Stop was asked; else the end of the
    // watch ends it, as a Stop during a back-off pause needs.
    bool bTreeEnded = false;
    // The wait for the pipe's name has been told.
    bool bPipeWaitTold = false;
    for (;;) {
        // Start, Stop and Quit set the event after changing the flag or the
        // start count, both read below, so a reset here loses none of them.
        ::ResetEvent(m_hWakeEvent.get());
        const unsigned nStarts = StartRequests();
        if (nStarts != nSeenStarts) {
            // The user asked for the agent: no pause before this launch.
            nSeenStarts = nStarts;
            backoff.Reset();
            pauseMs = 0;
        }
        const bool bStop = m_bStopRequested;
        const DWORD attributes = bStop ? 0 : ::GetFileAttributesW(path.c_str());
        // A folder of the agent's name is no program: the shell would open
        // a window on it at every try.
        const bool bFolder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool bMissing = !bStop && (attributes == INVALID_FILE_ATTRIBUTES || bFolder);
        if (bStop || bMissing) {
            // While another program holds the pipe's name, what runs from the
            // agent folder is not ours to end.
            if (bStop && !bTreeEnded && IsGateOpen()) EndPreviousRun(run);
            bTreeEnded = bStop;
            if (bMissing) {
                AgentEvent missing = Event(AgentEvent::Kind::Missing);
                missing.path = path;
                missing.bFlag = bFolder;
                Report(missing);
            }
            Report(Event(AgentEvent::Kind::WatchEnded));
            if (EndWatchUnlessStarted(nStarts)) return;
            continue;
        }
        bTreeEnded = false;
        if (pauseMs != 0) {
            WaitForEither(m_hWakeEvent.get(), nullptr, pauseMs);
            pauseMs = 0;
            continue;
        }

        if (!MayLaunch()) {
            if (!bPipeWaitTold && !m_bLaunchesHeld && m_spGate && m_spGate->IsHeldElsewhere()) {
                bPipeWaitTold = true;
                AgentEvent held = Event(AgentEvent::Kind::PipeHeld);
                held.bFlag = true;
                Report(held);
            }
            WaitToLaunch();
            continue;
        }
        if (bPipeWaitTold) {
            bPipeWaitTold = false;
            Report(Event(AgentEvent::Kind::PipeHeld));
        }

        // No earlier copy of the agent, nor anything it started, survives.
        EndPreviousRun(run);
        // A Stop that came during the kill would find nothing to end yet; a
        // session's end that came during it wants no launch.
        if (m_bStopRequested || !MayLaunch()) continue;
        const DWORD startTick = ::GetTickCount();
        // Only the launch that follows the user's own Start may raise the
        // consent prompt: one from here would block this thread where no
        // Stop reaches it, and outlive an Exit.
        run = CAgentRun(LaunchAgentProcess(path, dir, m_bUserStartPending.exchange(false)));
        if (run.Launch().bNeedsElevation) {
            Report(Event(AgentEvent::Kind::NeedsElevation));
            Report(Event(AgentEvent::Kind::WatchEnded));
            if (EndWatchUnlessStarted(nStarts)) return;
            continue;
        }
        // Published at once: the session's end (EndNow) ends the agent from
        // the owner's thread through it.
        SetAgentProcess(run.Process());
        ReportLaunch(run);
        DWORD runMs = 0;  // a failed launch counts as a run that ended at once
        if (run.Started()) {
            TellJobObserver(true, run.Launch().hJob.get());
            const bool bEnded = WaitAgentEnd(run, nSeenStarts, bTreeEnded);
            TellJobObserver(false);
            if (bEnded) {
                runMs = ::GetTickCount() - startTick;
                DWORD exitCode = 0;
                ::GetExitCodeProcess(run.Process(), &exitCode);
                AgentEvent exited = Event(AgentEvent::Kind::Exited);
                exited.exitCode = exitCode;
                exited.runMs = runMs;
                Report(exited);
            }
        }
        SetAgentProcess(nullptr);
        pauseMs = backoff.OnRunEnded(runMs, IsResumeExempt(SleepFreeMs(), m_nResumeMs));
        // No pause is told when the next cycle will not take it: a Stop ends
        // the watch, a Start launches at once.
        if (pauseMs != 0 && !m_bStopRequested && StartRequests() == nSeenStarts) {
            AgentEvent paused = Event(AgentEvent::Kind::Paused);
            paused.pauseMs = pauseMs;
            paused.reason = run.Started() ? AgentPauseReason::CrashLoop : AgentPauseReason::LaunchFailed;
            Report(paused);
        }
    }
}
