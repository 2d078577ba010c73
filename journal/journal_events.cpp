#include "journal/journal_events.h"

#include <cstdio>

#include "journal/journal.h"
#include "journal/journal_rules.h"

namespace {

std::wstring Seconds(DWORD ms) {
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"%lu.%03lu s", static_cast<unsigned long>(ms / 1000),
                  static_cast<unsigned long>(ms % 1000));
    return text;
}

// The system's words for an error code, on one line.
std::wstring ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) text = L"unknown error";
    return text + L" (error " + std::to_wstring(error) + L")";
}

}  // namespace

std::wstring AgentExitedText(DWORD exitCode, DWORD runMs) {
    wchar_t hex[16] = {};
    std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(exitCode));
    return L"agent exited: code " + std::to_wstring(exitCode) + L" (" + hex + L"), ran " + Seconds(runMs);
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
    m_spJournal->Add(kJournalSupervisor, L"launch failed: " + ErrorText(error));
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
