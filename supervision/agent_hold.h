// How the launched agent is held; no Win32 here.
#pragma once

enum class AgentHold {
    Job,    // in a job of its own: ending the job ends the whole tree
    NoJob,  // started, but no job could be had: the tree walk ends it
    Shell,  // started by the shell (elevation, not a program): no job either
};
