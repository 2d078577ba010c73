#include "journal/journal_events.h"

#include "journal/journal.h"
#include "journal/journal_event_rules.h"
#include "journal/journal_rules.h"
#include "supervision/exit_texts.h"

void CJournalEventSink::OnAgentEvent(const AgentEvent& event) {
    SystemWords words;
    words.exitCode = [](uint32_t code) { return DescribeAgentExitCode(code); };
    words.launchError = [this](uint32_t error) { return LaunchErrorText(error, m_strAgentPath); };
    std::wstring line = JournalEventLine(event, words);
    if (!line.empty()) m_spJournal->Add(kJournalSupervisor, std::move(line));
}

void CJournalEventSink::Note(std::wstring text) { m_spJournal->Add(kJournalSupervisor, std::move(text)); }
