// The system's words for an agent's exit code and for a failed launch, for
// the journal, the balloon and the tooltip.
#pragma once

#include <windows.h>

#include <string>

// "3221225477 (0xC0000005, access violation)": the short table first, then
// ntdll's message table for other status codes (empty under Wine), else none.
std::wstring DescribeAgentExitCode(DWORD exitCode);

// The name alone ("access violation"); empty when the code has none.
std::wstring AgentExitCodeName(DWORD exitCode);

// The system's text for a launch error, on one line, with the agent's path
// where the text has "%1"; "unknown error" when the system has none.
std::wstring LaunchErrorText(DWORD error, const std::wstring& agentPath);
