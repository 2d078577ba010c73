// The watchdogs as the window sees them: the settings (read at the start,
// written by the menu, read again when the key changes) and the watchdog
// thread they steer. What it returns as lines goes to the journal.
//
// Threads: the UI thread only; the watchdog's thread and the registry's
// pool thread post to the window.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "watchdog/agent_watchdog.h"
#include "watchdog/settings_store.h"

class CWatchdogFront {
public:
    // keyPath: the installation's key (SettingsKeyPath).
    explicit CWatchdogFront(std::wstring keyPath) : m_store(std::move(keyPath)) {}

    // Reads the settings, watches the key (uSettingsMsg on each change) and
    // starts the watchdogs that are on (uFindingMsg for what they find).
    // lines: what the journal is to say about the settings.
    void Begin(HWND hWnd, UINT uFindingMsg, UINT uSettingsMsg, std::function<uint64_t()> lastMessageMs,
               std::vector<std::wstring>& lines);
    // The key changed: reads it again; lines as above, only what changed.
    void OnSettingsChanged(std::vector<std::wstring>& lines);
    // A choice of the menu: written at once, applied at once.
    void ChooseSilentMinutes(uint32_t minutes, std::vector<std::wstring>& lines);
    void ChooseMemoryMb(uint32_t megabytes, std::vector<std::wstring>& lines);

    const WatchdogSettings& Settings() const { return m_settings; }
    // Null before Begin.
    CAgentWatchdog* Watchdog() { return m_pWatchdog.get(); }

    // What the journal says about the settings in effect.
    static std::wstring SettingsLine(const WatchdogSettings& settings);

private:
    void Take(const WatchdogSettings& settings, std::vector<std::wstring>& lines);

    CWatchdogSettingsStore m_store;
    WatchdogSettings m_settings;
    std::unique_ptr<CAgentWatchdog> m_pWatchdog;
};
