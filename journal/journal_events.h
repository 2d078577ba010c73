// The agent's life in the journal: one "[supervisor]" entry per event that
// has a line (journal/journal_event_rules.h).
#pragma once

#include <memory>
#include <string>

#include "supervision/agent_event.h"

class CJournal;

// A sink on the watch thread that queues the entries; never waits for the disk.
class CJournalEventSink final : public CAgentEventSink {
public:
    CJournalEventSink(std::shared_ptr<CJournal> spJournal, std::wstring agentPath)
        : m_spJournal(std::move(spJournal)), m_strAgentPath(std::move(agentPath)) {}

    void OnAgentEvent(const AgentEvent& event) override;

    // Entries of the UI thread: the start, the user's commands, the exit.
    void Note(std::wstring text);

private:
    std::shared_ptr<CJournal> m_spJournal;  // read-only after construction
    const std::wstring m_strAgentPath;      // for "%1" in the system's launch error texts
};
