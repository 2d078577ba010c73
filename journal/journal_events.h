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

// Listens on the watch thread and queues the entries; never waits for the disk.
class CAgentJournalListener final : public CAgentListener {
public:
    explicit CAgentJournalListener(std::shared_ptr<CJournal> spJournal) : m_spJournal(std::move(spJournal)) {}

    void OnAgentStarted(DWORD pid) override;
    void OnAgentExited(DWORD exitCode, DWORD runMs) override;
    void OnLaunchFailed(DWORD error) override;
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override;
    void OnAgentMissing(const std::wstring& path, bool bFolder) override;
    void OnOutputPipeHeld(bool bHeld) override;

    // Entries of the UI thread: the start, the user's commands, the exit.
    void Note(std::wstring text);

private:
    std::shared_ptr<CJournal> m_spJournal;  // read-only after construction
};
