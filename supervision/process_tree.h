// Ending the agent's process tree.
#pragma once

#include <string>

// Ends every process under agentDir and their descendants, never this
// process. Safe on any thread and from two threads at once.
void KillAgentTree(const std::wstring& agentDir);
