// Ending the agent: ask first, force after a bound. No Win32 here.
#pragma once

#include <cstdint>

// How long Stop, Restart and Exit wait, after asking the agent to end
// (Ctrl+C to its console, WM_CLOSE to its windows), for its whole tree to be
// gone before they end it by force. Long enough for an agent to flush its
// files and say goodbye to a server; short enough that a hung agent does not
// hold up a restart.
constexpr uint32_t kStopGraceMs = 2000;

enum class StopOutcome {
    EndedByItself,  // the whole tree was gone within the grace
    GraceOver,      // forced when the grace ran out
    ForcedEarly,    // forced before that: a second Stop, or a Start
    NotEnded,       // the system refused the force, and something still runs
};
