#include "watchdog/watchdog_front.h"

std::wstring CWatchdogFront::SettingsLine(const WatchdogSettings& settings) {
    const std::wstring what =
        WatchingLine({L"watching: {what}", L"silence {amount}", L"memory {amount}"}, settings);
    return what.empty() ? L"watching: nothing (both watchdogs off)" : what;
}

void CWatchdogFront::Begin(HWND hWnd, UINT uFindingMsg, UINT uSettingsMsg,
                           std::function<uint64_t()> lastMessageMs, std::vector<std::wstring>& lines) {
    m_pWatchdog = std::make_unique<CAgentWatchdog>(hWnd, uFindingMsg, std::move(lastMessageMs));
    const WatchdogSettings settings = m_store.Read(lines);
    if (!m_store.Watch(hWnd, uSettingsMsg))
        lines.push_back(L"settings key " + m_store.KeyPath() +
                        L" cannot be watched: changes made elsewhere "
                        L"are read at the next start");
    // Defaults say nothing: with both off the journal stays as it was.
    if (settings.AnyOn()) Take(settings, lines);
}

void CWatchdogFront::OnSettingsChanged(std::vector<std::wstring>& lines) {
    m_store.Rearm();
    const WatchdogSettings settings = m_store.Read(lines);
    if (settings != m_settings) Take(settings, lines);
}

void CWatchdogFront::ChooseSilentMinutes(uint32_t minutes, std::vector<std::wstring>& lines) {
    if (!m_store.WriteSilentMinutes(minutes))
        lines.push_back(L"settings key " + m_store.KeyPath() + L" cannot be written");
    WatchdogSettings settings = m_settings;
    settings.silentSeconds = minutes * 60;
    if (settings != m_settings) Take(settings, lines);
}

void CWatchdogFront::ChooseMemoryMb(uint32_t megabytes, std::vector<std::wstring>& lines) {
    if (!m_store.WriteMemoryMb(megabytes))
        lines.push_back(L"settings key " + m_store.KeyPath() + L" cannot be written");
    WatchdogSettings settings = m_settings;
    settings.memoryMb = megabytes;
    if (settings != m_settings) Take(settings, lines);
}

void CWatchdogFront::Take(const WatchdogSettings& settings, std::vector<std::wstring>& lines) {
    m_settings = settings;
    lines.push_back(SettingsLine(settings));
    if (m_pWatchdog) m_pWatchdog->Apply(settings);
}
