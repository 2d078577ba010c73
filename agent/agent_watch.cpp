// Agent launch and exit watch: one watch thread keeps the agent running and
// tells the listeners what happens to it.
#include <windows.h>
#include <objbase.h>
#include <process.h>
#include <shellapi.h>

#include "agent/agent_supervisor.h"
#include "agent/relaunch_rules.h"

namespace {

// Default action on the agent file, hidden, in its own directory, with no
// parameters. Empty when no process was started; error then says why.
CHandle LaunchAgent(const std::wstring& path, const std::wstring& dir, DWORD& error) {
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    // No error box or prompt: it would block this thread, and Exit behind it.
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.hwnd = nullptr;
    sei.lpVerb = nullptr;
    sei.lpFile = path.c_str();
    sei.lpParameters = nullptr;
    sei.lpDirectory = dir.c_str();
    sei.nShow = SW_HIDE;
    sei.hInstApp = nullptr;
    error = ::ShellExecuteExW(&sei) ? ERROR_SUCCESS : ::GetLastError();
    // Success without a process: a document handed to a running program.
    if (sei.hProcess == nullptr && error == ERROR_SUCCESS) error = ERROR_FILE_NOT_FOUND;
    return CHandle(sei.hProcess);
}

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

// UI thread.
void CAgentSupervisor::StartAgent() {
    m_bStopRequested = FALSE;
    bool bWatching = false;
    {
        CLockGuard lock(m_csAgent);
        if (!m_hWakeEvent) m_hWakeEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ++m_nStartRequests;
        if (m_hWatchThread) {
            bWatching = true;
        } else {
            // Stored before the thread can reach its end, which takes the lock.
            m_hWatchThread = reinterpret_cast<HANDLE>(
                ::_beginthreadex(nullptr, 0, &WatchAgentThreadProc, this, 0, nullptr));
        }
    }
    if (m_hWakeEvent) ::SetEvent(m_hWakeEvent.get());
    // Restart: the watch thread sees its agent end and, the flag being
    // clear, launches it again at once.
    if (bWatching) EndAgent();
}

// UI thread: the Stop and Exit commands.
void CAgentSupervisor::StopAgent() {
    m_bStopRequested = TRUE;
    if (m_hWakeEvent) ::SetEvent(m_hWakeEvent.get());
    EndAgent();
}

// The tree walk first, while the agent is still there to lead it to its
// descendants; then the launched process itself.
void CAgentSupervisor::EndAgent() {
    KillAgentTree();
    CLockGuard lock(m_csAgent);
    if (m_hAgentProcess) ::TerminateProcess(m_hAgentProcess.get(), 0);
}

// Watch thread: publishes (or, with null, withdraws) the running agent's handle.
void CAgentSupervisor::SetAgentProcess(HANDLE hProcess) {
    HANDLE hCopy = nullptr;
    if (hProcess != nullptr)
        ::DuplicateHandle(::GetCurrentProcess(), hProcess, ::GetCurrentProcess(), &hCopy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    CLockGuard lock(m_csAgent);
    m_hAgentProcess.reset(hCopy);
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
        pThis->SetAgentProcess(nullptr);
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
        KillAgentTree();
        // A Stop that came during the kill would find nothing to end yet.
        if (m_bStopRequested) continue;
        const DWORD startTick = ::GetTickCount();
        DWORD error = ERROR_SUCCESS;
        CHandle hProcess = LaunchAgent(path, dir, error);
        // Published before the flag is read: a Stop either finds the handle
        // or is seen here.
        SetAgentProcess(hProcess.get());
        if (hProcess) {
            const DWORD pid = ::GetProcessId(hProcess.get());
            Report([pid](CAgentListener& l) { l.OnAgentStarted(pid); });
        } else {
            Report([error](CAgentListener& l) { l.OnLaunchFailed(error); });
        }
        // The Stop's own kill may have run before the new agent existed.
        if (m_bStopRequested) EndAgent();
        DWORD runMs = 0;  // a failed launch counts as a run that ended at once
        if (hProcess) {
            ::WaitForSingleObject(hProcess.get(), INFINITE);
            runMs = ::GetTickCount() - startTick;
            DWORD exitCode = 0;
            ::GetExitCodeProcess(hProcess.get(), &exitCode);
            Report([exitCode, runMs](CAgentListener& l) { l.OnAgentExited(exitCode, runMs); });
        }
        SetAgentProcess(nullptr);
        pauseMs = backoff.OnRunEnded(runMs);
        if (pauseMs != 0 && !m_bStopRequested) {
            const AgentPauseReason reason =
                hProcess ? AgentPauseReason::CrashLoop : AgentPauseReason::LaunchFailed;
            const DWORD pause = pauseMs;
            Report([pause, reason](CAgentListener& l) { l.OnRelaunchPaused(pause, reason); });
        }
    }
}
