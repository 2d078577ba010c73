// Tollvane: the demo agent. It shows what an agent owes its supervisor: it
// finds the output pipe by the name rule applied to its own full path,
// connects as a client, writes one UTF-8 message per line of output, shaped
// "LEVEL,text", and survives being ended at any moment. It greets, sends a
// heartbeat every few seconds, and on the supervisor's ask to end (Ctrl+C)
// says so and exits at once, well within the grace.
#include <windows.h>

#include <string>

#include "tools/agent/agent_pipe.h"

namespace {

constexpr char kMarker[] = "%!(EXTRA []interface {}=[])";
constexpr DWORD kHeartbeatMs = 3000;

// Set when the supervisor asks us to end; the heartbeat loop waits on it.
HANDLE g_hStop = nullptr;

// Runs on a thread of its own: it only wakes the loop, which says goodbye.
BOOL WINAPI OnConsoleCtrl(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    ::SetEvent(g_hStop);
    return TRUE;
}

}  // namespace

int wmain(int, wchar_t**) {
    // Kept to process end: the handler may run until then.
    g_hStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_hStop == nullptr || !::SetConsoleCtrlHandler(OnConsoleCtrl, TRUE)) return 1;
    CPipeWriter pipe(ModulePath());
    pipe.Send("INFO,Tollvane agent started pid=" + std::to_string(::GetCurrentProcessId()));
    for (unsigned beat = 1; ::WaitForSingleObject(g_hStop, kHeartbeatMs) == WAIT_TIMEOUT; ++beat) {
        std::string message = "INFO,heartbeat " + std::to_string(beat);
        // Now and then in the shape a certain formatting slip leaves behind.
        if (beat % 5 == 0) message += kMarker;
        pipe.Send(message);
    }
    pipe.Send("INFO,Tollvane agent stopping");
    return 0;
}
