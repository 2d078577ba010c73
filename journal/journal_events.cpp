#include "journal/journal_events.h"

#include <cstdio>

#include "journal/journal.h"
#include "journal/journal_rules.h"
#include "supervision/exit_texts.h"

namespace {

std::wstring Seconds(DWORD ms) {
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"%lu.%03lu s", static_cast<unsigned long>(ms / 1000),
                  static_cast<unsigned long>(ms % 1000));
    return text;
}

}  // namespace

std::wstring AgentExitedText(DWORD exitCode, DWORD runMs) {
    return L"agent exited: code " + DescribeAgentExitCode(exitCode) + L", ran " + Seconds(runMs);
}

std::wstring AgentHeldText(AgentHold hold, DWORD error) {
    switch (hold) {
        case AgentHold::Job:
            return L"agent held by a job: it and everything it starts end with the supervisor";
        case AgentHold::NoJob:
            return L"no job for the agent (error " + std::to_wstring(error) +
                   L"): Stop walks the process tree, and what the agent starts may outlive the supervisor";
        case AgentHold::Shell:
            break;
    }
    return L"agent started by the shell (error " + std::to_wstring(error) +
           L" starting it directly): no job, Stop walks the process tree";
}

std::wstring RelaunchPausedText(DWORD pauseMs, AgentPauseReason reason) {
    return L"relaunch paused for " + Seconds(pauseMs) + L" (" +
           (reason == AgentPauseReason::CrashLoop ? L"crash loop" : L"launch failure") + L")";
}

void CAgentJournalListener::OnAgentStarted(DWORD pid) {
    m_spJournal->Add(kJournalSupervisor, L"agent started: pid " + std::to_wstring(pid));
}

void CAgentJournalListener::OnAgentExited(DWORD exitCode, DWORD runMs) {
    m_spJournal->Add(kJournalSupervisor, AgentExitedText(exitCode, runMs));
}

void CAgentJournalListener::OnLaunchFailed(DWORD error) {
    m_spJournal->Add(kJournalSupervisor, L"launch failed: " + LaunchErrorText(error, m_strAgentPath) +
                                             L" (error " + std::to_wstring(error) + L")");
}

void CAgentJournalListener::OnAgentHeld(AgentHold hold, DWORD error) {
    m_spJournal->Add(kJournalSupervisor, AgentHeldText(hold, error));
}

void CAgentJournalListener::OnAgentStopEnded(StopOutcome outcome, DWORD elapsedMs) {
    m_spJournal->Add(kJournalSupervisor, StopOutcomeText(outcome, elapsedMs));
}

void CAgentJournalListener::OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) {
    m_spJournal->Add(kJournalSupervisor, RelaunchPausedText(pauseMs, reason));
}

void CAgentJournalListener::OnAgentMissing(const std::wstring& path, bool bFolder) {
    m_spJournal->Add(kJournalSupervisor, (bFolder ? L"agent file is a folder: " : L"agent file missing: ") + path);
}

void CAgentJournalListener::OnOutputPipeHeld(bool bHeld) {
    m_spJournal->Add(kJournalSupervisor, bHeld
                                        ? L"waiting: another program holds the output pipe; the agent is not "
                                          L"started until the name is free"
                                        : L"the output pipe is ours; the agent is started");
}

void CAgentJournalListener::Note(std::wstring text) { m_spJournal->Add(kJournalSupervisor, std::move(text)); }
