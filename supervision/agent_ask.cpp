#include "supervision/agent_ask.h"

#include <algorithm>

#include "supervision/console_rules.h"

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

// The processes on the console the supervisor is attached to; empty when
// the list cannot be read.
std::vector<uint32_t> ConsoleProcessIds() {
    std::vector<DWORD> ids(64);
    for (int tries = 0; tries < 4; ++tries) {
        const DWORD n = ::GetConsoleProcessList(ids.data(), static_cast<DWORD>(ids.size()));
        if (n == 0) break;
        if (n <= ids.size()) return std::vector<uint32_t>(ids.begin(), ids.begin() + n);
        ids.resize(n + 16);  // more than room for: once more, with room for those
    }
    return {};
}

// Under the console gate: Ctrl+C to the first console of the agent's own
// processes on which every process is one of them. A console found shared
// with a stranger is let go of, and so are the other processes on it.
void SignalAgentConsole(DWORD agentPid, const std::set<uint32_t>& own) {
    const uint32_t self = ::GetCurrentProcessId();
    std::set<uint32_t> looked;  // on a console already looked at
    for (uint32_t pid : ConsoleCandidates(agentPid, own)) {
        if (looked.count(pid) != 0 || !AttachToConsoleOf(pid)) continue;
        const std::vector<uint32_t> onConsole = ConsoleProcessIds();
        // Group 0 is everyone on the console: the agent's processes and, for
        // the moment, us (the handler set before this takes it).
        const bool bAgentsAlone = MaySignalConsole(onConsole, own, self);
        if (bAgentsAlone) ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        ::FreeConsole();
        if (bAgentsAlone) return;
        looked.insert(pid);
        looked.insert(onConsole.begin(), onConsole.end());
    }
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

void AskAgentToEnd(DWORD agentPid, const AgentAskTargets& targets) {
    {
        CLockGuard gate(AgentConsoleGate());
        ProtectFromConsoleCtrl();
        SignalAgentConsole(agentPid, targets.own);
    }
    CloseRequest request{&targets.windows};
    ::EnumWindows(&PostCloseToWindow, reinterpret_cast<LPARAM>(&request));
}
