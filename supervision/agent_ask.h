// The ask to end: Ctrl+C on the agent's console and WM_CLOSE to its windows.
// It borrows the agent's console for a moment, which is why the launch waits
// at the same gate (a console program started meanwhile would get it too).
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <vector>

#include "framework/critical_section.h"

// Whom an ask reaches. own: the agent's own processes (its job's, and the
// launched process with its descendants by id and creation time), never
// one the path rule picked. windows: the processes whose top-level windows
// get WM_CLOSE (the job's, or the tree's).
struct AgentAskTargets {
    std::set<uint32_t> own;
    std::vector<DWORD> windows;
};

// Asks the agent to end: Ctrl+C to a console of one of its own processes
// (agentPid's first; 0 when it has ended), but only to a console on which
// every process is one of them, since Ctrl+C reaches everyone on it; and
// WM_CLOSE to the windows' processes. Returns at once; it is up to the
// agent to end.
void AskAgentToEnd(DWORD agentPid, const AgentAskTargets& targets);

// The supervisor's own defence against the Ctrl+C it sends while attached to
// an agent's console: a handler that takes the event. Never the "ignore"
// flag, which the next agent would inherit. Any thread; once is enough.
void ProtectFromConsoleCtrl();

// Console attachment is per process: one ask at a time, and no launch while
// the supervisor is attached to an agent's console (the shell's launch of a
// console program would hand the new agent that console).
CCriticalSection& AgentConsoleGate();
