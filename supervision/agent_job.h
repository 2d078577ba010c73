// The agent's process and the job that holds it: the launch and what is left
// of the tree (the ask to end is supervision/agent_ask.h). The job is created
// with kill-on-close and the agent enters it before its first instruction, so
// nothing it starts escapes it, and when the supervisor ends for any reason
// the system ends the tree.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/handle.h"
#include "supervision/agent_hold.h"

struct CAgentLaunch {
    CHandle hProcess;  // empty when nothing was started
    CHandle hJob;      // empty unless hold is Job
    DWORD pid = 0;
    DWORD error = ERROR_SUCCESS;  // why nothing was started
    AgentHold hold = AgentHold::NoJob;
    DWORD holdError = ERROR_SUCCESS;  // why there is no job (NoJob, Shell)
    // Nothing was started because the agent asks for administrator rights
    // and the launch might not raise the consent prompt (error says so too).
    bool bNeedsElevation = false;
};

// Starts the agent at path, hidden, in dir, with no arguments: suspended,
// into a new job, then resumed. A console agent gets a console of its own,
// hidden, as the shell's default action would give it. Where the supervisor
// itself runs in a job that allows it, the agent breaks away from it; the
// agent's own job lets the programs it opens for the user break away. What
// CreateProcessW refuses (not a program; elevation required, only when
// bMayElevate: the user's own Start) goes to the shell, which cannot start a
// process suspended and so gets no job. The calling thread needs COM for
// that fallback.
CAgentLaunch LaunchAgentProcess(const std::wstring& path, const std::wstring& dir, bool bMayElevate);

// The processes in the job now; empty when it cannot be read.
std::vector<DWORD> JobProcessIds(HANDLE hJob);
// True once the job's last process has ended; a job that cannot be read is
// not empty.
bool IsJobEmpty(HANDLE hJob);
