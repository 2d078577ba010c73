// Ending the agent when the system does not simply do as asked: a force it
// refuses, a job it will not describe, the end of the session. No Win32 here.
#pragma once

#include <cstdint>

#include "supervision/stop_rules.h"

// Whether the job's tree is gone, from its accounting: only the system's own
// word that no process is left. A job that cannot be read is not empty.
bool JobCountsAsEmpty(bool bRead, uint32_t activeProcesses);

// What a stop that came to a force amounts to. meant is the force's own
// outcome (GraceOver, ForcedEarly); forceError is 0 when the system took the
// termination, else its error; bStillRuns says whether anything of the tree
// is left after it. A refused force with nothing left is an end by itself (a
// process that ended meanwhile refuses its termination too); a refused force
// with something left is NotEnded.
StopOutcome OutcomeOfForce(StopOutcome meant, uint32_t forceError, bool bStillRuns);

// At sign-out and shutdown the system ends programs from the highest
// shutdown level down, and one that sets none has kDefaultShutdownLevel.
constexpr uint32_t kDefaultShutdownLevel = 0x280;
// The lowest level a program may take: below it the system ends its own.
constexpr uint32_t kLowestProgramShutdownLevel = 0x100;

// The supervisor's level: one band below the agent's, so the system ends the
// agent first and the supervisor's own end finds it gone, or going; never
// below what programs may take.
uint32_t SupervisorShutdownLevel(uint32_t agentLevel = kDefaultShutdownLevel);

// An agent still there when the supervisor's session end comes (the system
// ended it first, so it is hung, or it took no part) is asked once and has
// this long before the force: with the journal's last lines after it, all
// well inside the five seconds the system allows a program's end.
constexpr uint32_t kSessionEndGraceMs = 1000;
