// Ending the agent's process tree.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "supervision/tree_rules.h"

// Rounds of snapshot and termination in one kill; each one after the first
// only runs when the one before ended something.
constexpr int kMaxKillRounds = 8;

// Ends every process under agentDir and their descendants, never this
// process, in rounds until one ends nothing new, at most maxRounds;
// hLaunched (null: none), the agent the caller launched, counts as under
// agentDir whatever its path. The caller holds that handle for the whole
// call, so the id it stands for stays the agent's; its creation time is
// checked too. Safe on any thread and from two threads at once.
void KillAgentTree(const std::wstring& agentDir, int maxRounds = kMaxKillRounds, HANDLE hLaunched = nullptr);

// The ids of the processes KillAgentTree would end now, with the
// descendants of hAgent (the launched agent) even when it has ended.
std::vector<DWORD> AgentTreePids(const std::wstring& agentDir, HANDLE hAgent = nullptr);

// The launched agent as a snapshot row: its id and creation time, read
// through the handle the caller holds, so that the id is still its own.
ProcessRow LaunchedProcess(HANDLE hAgent);

// The agent's own processes by ancestry alone: the launched process (while
// its id is its own) and its descendants, each link checked by creation
// time; never what the path rule would add. Empty for a null handle.
std::set<uint32_t> LaunchedTreePids(HANDLE hAgent);
