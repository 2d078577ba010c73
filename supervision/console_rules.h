// Which console the ask's Ctrl+C may go to. A console's group 0 is everyone
// on it, which may be the user's own terminal: the signal goes only where
// every process is the agent's. No Win32 here.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "supervision/tree_rules.h"

// Whether row is the process launched stands for: the same id and the same
// known creation time. An id alone may have passed to another process.
bool IsSameProcess(const ProcessRow& row, const ProcessRow& launched);

// The agent's processes where no job lists them: the launched process (while
// its id is still its own: the same creation time) and its descendants, each
// parent link checked by creation time. Never what the path rule selects, and
// never selfPid.
std::set<uint32_t> LaunchedTree(const std::vector<ProcessRow>& rows, const ProcessRow& launched,
                                uint32_t selfPid);

// Whether Ctrl+C may go to the console whose processes are onConsole (as the
// console lists them while the supervisor is attached to it): only when every
// one of them but selfPid is among agentPids. A list with nobody else on it,
// or one that could not be read (empty), is no console of the agent's.
bool MaySignalConsole(const std::vector<uint32_t>& onConsole, const std::set<uint32_t>& agentPids,
                      uint32_t selfPid);

// The processes whose consoles are tried, in order: the agent first (0: none,
// or it has ended), then the rest of agentPids, whose console an ended agent
// leaves to its children.
std::vector<uint32_t> ConsoleCandidates(uint32_t agentPid, const std::set<uint32_t>& agentPids);
