// What a launch does when the system will not start the agent as a program
// of ours. No Win32 here.
#pragma once

#include <cstdint>

// The system's error codes the decision turns on (older SDK headers lack the first).
constexpr uint32_t kErrorElevationRequired = 740;
constexpr uint32_t kErrorBadExeFormat = 193;

enum class LaunchFallback {
    None,            // the failure stands: told, and tried again after the back-off
    Shell,           // the shell's default action (a file that is not a program)
    ShellElevated,   // the shell, whose consent prompt the user answers
    NeedsElevation,  // not tried: told once, and the watch ends
};

// After CreateProcess failed with createError. The shell's consent prompt
// for an agent that asks for administrator rights would block the watch
// thread where a Stop cannot reach it, and a prompt accepted after Exit
// would leave an elevated agent that nothing ends: it is raised only for the
// user's own Start (bUserStartPending, once per Start), never for a launch
// the watch makes by itself.
LaunchFallback FallbackForLaunchError(uint32_t createError, bool bUserStartPending);
