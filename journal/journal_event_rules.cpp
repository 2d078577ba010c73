#include "journal/journal_event_rules.h"

#include <cwchar>

#include "watchdog/watchdog_rules.h"

namespace {

std::wstring ErrorSuffix(uint32_t error) { return L" (error " + std::to_wstring(error) + L")"; }

std::wstring AgentHeldText(AgentHold hold, uint32_t error) {
    switch (hold) {
        case AgentHold::Job:
            return L"agent held by a job: it and everything it starts end with the supervisor";
        case AgentHold::NoJob:
            return L"no job for the agent" + ErrorSuffix(error) +
                   L": Stop walks the process tree, and what the agent starts may outlive the supervisor";
        case AgentHold::Shell:
            break;
    }
    return L"agent started by the shell (error " + std::to_wstring(error) +
           L" starting it directly): no job, Stop walks the process tree";
}

std::wstring Quoted(const std::function<std::wstring(uint32_t)>& word, uint32_t value) {
    return word ? word(value) : std::to_wstring(value);
}

}  // namespace

std::wstring SecondsText(uint32_t ms) {
    const uint32_t hundredths = ms / 10 + (ms % 10 >= 5 ? 1 : 0);
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"%lu.%02lu s", static_cast<unsigned long>(hundredths / 100),
                  static_cast<unsigned long>(hundredths % 100));
    return text;
}

std::wstring StopOutcomeText(StopOutcome outcome, uint32_t elapsedMs, uint32_t error) {
    switch (outcome) {
        case StopOutcome::EndedByItself:
            return L"asked to end (Ctrl+C, close); ended by itself after " + SecondsText(elapsedMs);
        case StopOutcome::GraceOver:
            return L"did not end within " + std::to_wstring(kStopGraceMs / 1000) + L" s; ended by force";
        case StopOutcome::NotEnded:
            return L"could not be ended" + ErrorSuffix(error);
        case StopOutcome::ForcedEarly:
            break;
    }
    return L"asked to end (Ctrl+C, close); ended by force after " + SecondsText(elapsedMs) +
           L" on a new command";
}

// No default: a new kind of event does not compile until it has its line here
// (or says here that the journal keeps none).
std::wstring JournalEventLine(const AgentEvent& event, const SystemWords& words) {
    switch (event.kind) {
        case AgentEvent::Kind::Started:
            return L"agent started: pid " + std::to_wstring(event.pid);
        case AgentEvent::Kind::Exited:
            return L"agent exited: code " + Quoted(words.exitCode, event.exitCode) + L", ran " +
                   SecondsText(event.runMs);
        case AgentEvent::Kind::Held:
            return AgentHeldText(event.hold, event.error);
        case AgentEvent::Kind::StopEnded:
            return StopOutcomeText(event.outcome, event.elapsedMs, event.error);
        case AgentEvent::Kind::LaunchFailed:
            return L"launch failed: " + Quoted(words.launchError, event.error) + ErrorSuffix(event.error);
        case AgentEvent::Kind::NeedsElevation:
            return L"cannot start the agent: it asks for administrator rights; it is not started again "
                   L"until Start by the user, which asks for them once";
        case AgentEvent::Kind::Paused:
            return L"relaunch paused for " + SecondsText(event.pauseMs) + L" (" +
                   (event.reason == AgentPauseReason::CrashLoop ? L"crash loop" : L"launch failure") + L")";
        case AgentEvent::Kind::Missing:
            return (event.bFlag ? L"agent file is a folder: " : L"agent file missing: ") + event.path;
        case AgentEvent::Kind::PipeHeld:
            return event.bFlag ? L"waiting: another program holds the output pipe; the agent is not "
                                 L"started until the name is free"
                               : L"the output pipe is ours; the agent is started";
        case AgentEvent::Kind::WatchFailed:
            return std::wstring(L"the agent is not watched: ") +
                   (event.bFlag ? L"its watch thread could not start" : L"no wake event") +
                   ErrorSuffix(event.error) + L"; nothing is started";
        case AgentEvent::Kind::WatchdogRestart:
            if (!event.bFlag) return L"silent for " + SilenceAmount(event.bound) + L": restarting";
            return L"memory " + BytesAmount(event.bytes) + L" above " + MemoryAmount(event.bound) +
                   L" (largest: " + event.path + L", pid " + std::to_wstring(event.pid) + L", " +
                   BytesAmount(event.topBytes) + L"): restarting";
        case AgentEvent::Kind::Sleeping:
            return L"machine going to sleep";
        case AgentEvent::Kind::Resumed:
            return L"machine resumed from sleep";
        case AgentEvent::Kind::Stopping:
        case AgentEvent::Kind::WatchEnded:
            break;  // the user's command and the exit say it
    }
    return std::wstring();
}
