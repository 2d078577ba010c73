// The agent's life in the journal: one "[supervisor]" entry per event.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "supervision/agent_supervisor.h"

class CJournal;

// The words of the supervisor's own entries.
std::wstring AgentExitedText(DWORD exitCode, DWORD runMs);
std::wstring RelaunchPausedText(DWORD pauseMs, AgentPauseReason reason);
std::wstring AgentHeldText(AgentHold hold, DWORD error);

// Listens on the watch thread and queues the entries; never waits for the disk.
class CAgentJournalListener final : public CAgentListener {
public:
    CAgentJournalListener(std::shared_ptr<CJournal> spJournal, std::wstring agentPath)
        : m_spJournal(std::move(spJournal)), m_strAgentPath(std::move(agentPath)) {}

    void OnAgentStarted(DWORD pid) override;
    void OnAgentExited(DWORD exitCode, DWORD runMs) override;
    void OnLaunchFailed(DWORD error) override;
    void OnAgentHeld(AgentHold hold, DWORD error) override;
    void OnAgentStopEnded(StopOutcome outcome, DWORD elapsedMs) override;
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override;
    void OnAgentMissing(const std::wstring& path, bool bFolder) override;
    void OnOutputPipeHeld(bool bHeld) override;

    // Entries of the UI thread: the start, the user's commands, the exit.
    void Note(std::wstring text);

private:
    std::shared_ptr<CJournal> m_spJournal;  // read-only after construction
    const std::wstring m_strAgentPath;      // for "%1" in the system's launch error texts
};
