// Tollvane: the demo agent. It shows what an agent owes its supervisor: it
// finds the output pipe by the name rule applied to its own full path,
// connects as a client, writes one UTF-8 message per line of output, shaped
// "LEVEL,text", and survives being ended at any moment. It greets, then sends
// a heartbeat every few seconds.
#include <windows.h>

#include <string>

#include "tools/agent/agent_pipe.h"

namespace {

constexpr char kMarker[] = "%!(EXTRA []interface {}=[])";
constexpr DWORD kHeartbeatMs = 3000;

}  // namespace

int wmain(int, wchar_t**) {
    CPipeWriter pipe(ModulePath());
    pipe.Send("INFO,Tollvane agent started pid=" + std::to_string(::GetCurrentProcessId()));
    for (unsigned beat = 1;; ++beat) {
        ::Sleep(kHeartbeatMs);
        std::string message = "INFO,heartbeat " + std::to_string(beat);
        // Now and then in the shape a certain formatting slip leaves behind.
        if (beat % 5 == 0) message += kMarker;
        pipe.Send(message);
    }
}
