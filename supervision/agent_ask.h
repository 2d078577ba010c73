// The ask to end: Ctrl+C on the agent's console and WM_CLOSE to its windows.
// It borrows the agent's console for a moment, which is why the launch waits
// at the same gate (a console program started meanwhile would get it too).
#pragma once

#include <windows.h>

#include <vector>

#include "framework/critical_section.h"

// Asks the agent to end: Ctrl+C to agentPid's console (or, when it has
// ended, to the console of the first of pids that has one) and WM_CLOSE to
// the top-level windows of pids (the job's processes, or the tree's).
// Returns at once; it is up to the agent to end.
void AskAgentToEnd(DWORD agentPid, const std::vector<DWORD>& pids);

// The supervisor's own defence against the Ctrl+C it sends while attached to
// an agent's console: a handler that takes the event. Never the "ignore"
// flag, which the next agent would inherit. Any thread; once is enough.
void ProtectFromConsoleCtrl();

// Console attachment is per process: one ask at a time, and no launch while
// the supervisor is attached to an agent's console (the shell's launch of a
// console program would hand the new agent that console).
CCriticalSection& AgentConsoleGate();
