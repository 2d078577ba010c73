// The agent's life as one record per event. The watch thread makes one
// value for each event and hands it to its sinks in order (the journal's,
// then the window's poster); whoever cares about an event reads the fields
// its kind fills. No Win32 here: the journal's words for each event are a
// rule (journal/journal_event_rules.h), tested natively.
//
// An event costs three places: its kind and fields here, the watch thread
// that reports it (supervision/agent_watch.cpp), and its journal line (the
// switch in journal/journal_event_rules.cpp, which the compiler holds to
// every kind). The window and the balloon add a case only when they show it.
#pragma once

#include <cstdint>
#include <string>

#include "supervision/agent_hold.h"
#include "supervision/stop_rules.h"

enum class AgentPauseReason { CrashLoop, LaunchFailed };

struct AgentEvent {
    enum class Kind {
        // A process was launched (pid). Reported even when a Stop came
        // meanwhile and the new agent is being ended again.
        Started,
        // The launched process ended (exitCode) after runMs.
        Exited,
        // How the agent is held (hold; error: why there is no job); reported
        // with the first launch and again whenever it changes.
        Held,
        // Stop, Restart or Exit has asked the agent to end; it has the grace.
        Stopping,
        // The asked agent's tree is gone (outcome), elapsedMs after the ask;
        // or (NotEnded) the system refused the force (error) and it runs on.
        StopEnded,
        // The launch started nothing (error: the system's error code).
        LaunchFailed,
        // The agent asks for administrator rights, and only the user's own
        // Start may raise the consent prompt: nothing was started, and the
        // watch ends (WatchEnded follows).
        NeedsElevation,
        // The next launch waits pauseMs (reason).
        Paused,
        // The agent file (path) is not there, or is a folder (bFlag); the
        // watch ends (WatchEnded follows).
        Missing,
        // bFlag: another program holds the output pipe's name, and nothing is
        // launched (or swept) until it is ours; told once per such wait.
        // Then, without bFlag, once the name is ours again.
        PipeHeld,
        // The watch could not begin (error): no wake event could be made, so
        // a Stop could not reach it, or (bFlag) its thread could not start.
        // Nothing is launched; WatchEnded follows.
        WatchFailed,
        // The watch has ended: no agent runs and none will until the next Start.
        WatchEnded,
        // A watchdog restarts the agent: bFlag, its tree's memory (bytes)
        // passed bound MB, and the largest process was pid, path (its file
        // name), topBytes; else it was silent for bound seconds.
        WatchdogRestart,
        // The machine goes to sleep; it has resumed from sleep.
        Sleeping,
        Resumed,
    };
    Kind kind = Kind::WatchEnded;
    uint32_t pid = 0;
    uint32_t exitCode = 0;
    uint32_t runMs = 0;
    uint32_t error = 0;
    uint32_t pauseMs = 0;
    AgentPauseReason reason = AgentPauseReason::CrashLoop;
    AgentHold hold = AgentHold::Job;
    StopOutcome outcome = StopOutcome::EndedByItself;
    uint32_t elapsedMs = 0;
    bool bFlag = false;
    std::wstring path;
    uint32_t bound = 0;
    uint64_t bytes = 0;
    uint64_t topBytes = 0;
};

// Hears every event on the watch thread, in the order things happen, one
// sink after another under the supervisor's report lock: a sink returns at
// once and never waits for another thread (it queues, or posts to a window).
class CAgentEventSink {
public:
    virtual void OnAgentEvent(const AgentEvent& event) = 0;

protected:
    ~CAgentEventSink() = default;
};
