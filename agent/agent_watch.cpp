// Agent launch and exit watch: one watch thread keeps the agent running and
// the Start/Restart and Stop buttons and the tray image in step with it.
#include <windows.h>
#include <objbase.h>
#include <process.h>
#include <shellapi.h>

#include "agent/relaunch_rules.h"
#include "framework/strings.h"
#include "ui/main_dlg.h"

namespace {

// Button texts and the tray image. Both are window calls that the UI thread
// carries out, so they must never be made while m_csAgent is held: the UI
// thread may be waiting for it in StartAgent.
void ShowAgentState(CMainDlg& dlg, bool bRunning) {
    if (bRunning && dlg.m_hIconRunning) dlg.SetTrayIcon(dlg.m_hIconRunning.get());
    if (HWND hWnd = dlg.m_hWnd) {
        ::SetDlgItemTextW(hWnd, ID_AGENT_START, LoadResString(bRunning ? IDS_RESTART : IDS_START).c_str());
        ::EnableWindow(::GetDlgItem(hWnd, ID_AGENT_STOP), bRunning ? TRUE : FALSE);
    }
    if (!bRunning && dlg.m_hIconStopped) dlg.SetTrayIcon(dlg.m_hIconStopped.get());
}

unsigned StartRequests(CMainDlg& dlg) {
    CLockGuard lock(dlg.m_csAgent);
    return dlg.m_nStartRequests;
}

// The watch thread's last act. It ends only if no Start came after nStarts
// was read (before the thread decided to end); otherwise that Start found
// the thread still there and relies on it to go on.
// Closes the watch thread's own handle and clears the mark; under m_csAgent.
void DropWatchThreadLocked(CMainDlg& dlg) {
    ::CloseHandle(dlg.m_hWatchThread);
    dlg.m_hWatchThread = nullptr;
}

bool EndWatchUnlessStarted(CMainDlg& dlg, unsigned nStarts) {
    CLockGuard lock(dlg.m_csAgent);
    if (dlg.m_nStartRequests != nStarts) return false;
    DropWatchThreadLocked(dlg);
    return true;
}

// Default action on the agent file, hidden, in its own directory, with no
// parameters. Empty when no process was started.
CHandle LaunchAgent(const std::wstring& path, const std::wstring& dir) {
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof(sei);
    // No error box: one would hold this thread (and with it Stop, Start and
    // Exit) until someone closed it, and come back with every retry.
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.hwnd = nullptr;
    sei.lpVerb = nullptr;
    sei.lpFile = path.c_str();
    sei.lpParameters = nullptr;
    sei.lpDirectory = dir.c_str();
    sei.nShow = SW_HIDE;
    sei.hInstApp = nullptr;
    // The result says no more than hProcess does.
    ::ShellExecuteExW(&sei);
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

std::wstring CMainDlg::GetAgentPath() const { return m_strModuleDir + L"bin\\Tollvane.exe"; }

// UI thread.
void CMainDlg::StartAgent() {
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
    if (bWatching) KillAgentTree();
}

// UI thread: the Stop and Exit commands.
void CMainDlg::StopAgent() {
    m_bStopRequested = TRUE;
    if (m_hWakeEvent) ::SetEvent(m_hWakeEvent.get());
    KillAgentTree();
}

CHandle CMainDlg::DuplicateWatchThread() {
    CLockGuard lock(m_csAgent);
    HANDLE hCopy = nullptr;
    if (m_hWatchThread) {
        ::DuplicateHandle(::GetCurrentProcess(), m_hWatchThread, ::GetCurrentProcess(), &hCopy, SYNCHRONIZE,
                          FALSE, 0);
    }
    return CHandle(hCopy);
}

unsigned __stdcall CMainDlg::WatchAgentThreadProc(void* pv) {
    auto* pThis = static_cast<CMainDlg*>(pv);
    if (pThis == nullptr) return 0;
    try {
        CComScope com;
        pThis->WatchAgent();
        return 0;
    } catch (...) {
    }
    // Leaving early: still show the stopped state and drop the mark, so that
    // the next Start creates a new watch thread.
    try {
        ShowAgentState(*pThis, false);
    } catch (...) {
    }
    CLockGuard lock(pThis->m_csAgent);
    DropWatchThreadLocked(*pThis);
    return 0;
}

// Watch thread.
void CMainDlg::WatchAgent() {
    const std::wstring path = GetAgentPath();
    const std::wstring dir = GetAgentDir();
    CRelaunchBackoff backoff;
    DWORD pauseMs = 0;
    unsigned nSeenStarts = StartRequests(*this);
    for (;;) {
        // Start, Stop and Exit set the event after changing the flag or the
        // start count, both read below, so a reset here loses none of them.
        ::ResetEvent(m_hWakeEvent.get());
        const unsigned nStarts = StartRequests(*this);
        if (nStarts != nSeenStarts) {
            // The user asked for the agent: no pause before this launch.
            nSeenStarts = nStarts;
            backoff.Reset();
            pauseMs = 0;
        }
        if (m_bStopRequested || ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ShowAgentState(*this, false);
            if (EndWatchUnlessStarted(*this, nStarts)) return;
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
        CHandle hProcess = LaunchAgent(path, dir);
        if (m_bStopRequested) {
            // The Stop's own kill may have run before the new agent existed.
            KillAgentTree();
        } else {
            ShowAgentState(*this, true);
        }
        DWORD runMs = 0;  // a failed launch counts as a run that ended at once
        if (hProcess) {
            ::WaitForSingleObject(hProcess.get(), INFINITE);
            runMs = ::GetTickCount() - startTick;
        }
        pauseMs = backoff.OnRunEnded(runMs);
    }
}
