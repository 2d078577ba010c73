// The supervisor's own journal entries: every word the journal says about
// the agent's life is here, with one way of writing seconds. No Win32 here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "supervision/agent_event.h"

// The system's words a line quotes, asked for only by the events that carry
// them: an exit code described ("3 (0x00000003)"), a launch error's text.
struct SystemWords {
    std::function<std::wstring(uint32_t)> exitCode;
    std::function<std::wstring(uint32_t)> launchError;
};

// The journal's line for an event; empty for one the journal does not keep.
std::wstring JournalEventLine(const AgentEvent& event, const SystemWords& words);

// Seconds with hundredths, rounded: 434 ms reads "0.43 s".
std::wstring SecondsText(uint32_t ms);

// How an asked agent ended, elapsedMs after the ask:
// "asked to end (Ctrl+C, close); ended by itself after 0.43 s",
// "did not end within 2 s; ended by force"; error is the refused force's
// (NotEnded): "could not be ended (error 5)".
std::wstring StopOutcomeText(StopOutcome outcome, uint32_t elapsedMs, uint32_t error = 0);
