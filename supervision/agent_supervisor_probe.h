// What the tests look at of a supervisor beyond the owner's face: whether
// the watch thread has ended, and the paths it derived. Not for the product.
#pragma once

#include <windows.h>

#include <string>

#include "supervision/agent_supervisor.h"
#include "supervision/agent_watch.h"

class CAgentSupervisorProbe {
public:
    // Waits at most timeoutMs for the watch thread to end; true when none
    // runs any more.
    static bool WaitForWatchEnd(const CAgentSupervisor& supervisor, DWORD timeoutMs) {
        return supervisor.m_spWatch->WaitForEnd(timeoutMs);
    }
    static const std::wstring& AgentPath(const CAgentSupervisor& supervisor) {
        return supervisor.m_spWatch->AgentPath();
    }
    static const std::wstring& AgentDir(const CAgentSupervisor& supervisor) {
        return supervisor.m_spWatch->AgentDir();
    }
};
