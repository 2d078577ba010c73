// Ending the agent's process tree.
#pragma once

#include <windows.h>

#include <string>

// Ends every process under agentDir and their descendants, never this
// process; launchedPid (0: none), the agent the caller launched and holds a
// handle to, counts as under agentDir whatever its path. Safe on any thread
// and from two threads at once.
void KillAgentTree(const std::wstring& agentDir, DWORD launchedPid = 0);
