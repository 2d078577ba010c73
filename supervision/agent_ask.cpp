#include "supervision/agent_ask.h"

#include <algorithm>

namespace {

BOOL WINAPI TakeConsoleCtrl(DWORD /*ctrlType*/) { return TRUE; }

struct CloseRequest {
    const std::vector<DWORD>* pids;
};

// WM_CLOSE to a main window of one of the processes: top-level and unowned,
// visible or not (a hidden agent's window is hidden). Consoles get Ctrl+C
// instead: closing a console's window ends everyone on it at once. The
// input method's windows are not the program's.
BOOL CALLBACK PostCloseToWindow(HWND hWnd, LPARAM lParam) {
    const auto* request = reinterpret_cast<const CloseRequest*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (std::find(request->pids->begin(), request->pids->end(), pid) == request->pids->end()) return TRUE;
    if (::GetWindow(hWnd, GW_OWNER) != nullptr) return TRUE;
    wchar_t className[64] = {};
    ::GetClassNameW(hWnd, className, 64);
    for (const wchar_t* skipped : {L"ConsoleWindowClass", L"WineConsoleClass", L"IME"}) {
        if (::lstrcmpW(className, skipped) == 0) return TRUE;
    }
    ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

bool IsWindowsSubsystem() {
    const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

// A process has one console at a time. A window program started from a
// console program may have been handed that console (Wine does so) though
// it never uses it: it lets it go for the agent's. A console program (a
// test) keeps its own, and its agents get no Ctrl+C.
bool AttachToConsoleOf(DWORD pid) {
    if (::AttachConsole(pid)) return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED || !IsWindowsSubsystem()) return false;
    ::FreeConsole();
    return ::AttachConsole(pid) != FALSE;
}

}  // namespace

CCriticalSection& AgentConsoleGate() {
    static CCriticalSection gate;
    return gate;
}

void ProtectFromConsoleCtrl() {
    static const BOOL registered = ::SetConsoleCtrlHandler(&TakeConsoleCtrl, TRUE);
    (void)registered;
}

void AskAgentToEnd(DWORD agentPid, const std::vector<DWORD>& pids) {
    {
        CLockGuard gate(AgentConsoleGate());
        ProtectFromConsoleCtrl();
        // Group 0 is everyone on the console: the agent, its console children
        // and, for the moment, us (the handler above takes it). An agent that
        // has ended leaves its console to its children.
        bool attached = agentPid != 0 && AttachToConsoleOf(agentPid);
        for (size_t i = 0; !attached && i < pids.size(); ++i) attached = AttachToConsoleOf(pids[i]);
        if (attached) {
            ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            ::FreeConsole();
        }
    }
    CloseRequest request{&pids};
    ::EnumWindows(&PostCloseToWindow, reinterpret_cast<LPARAM>(&request));
}
