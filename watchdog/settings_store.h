// The watchdogs' settings in the registry, one key per installation:
// HKCU\Software\QuorvelTollvane\<installation id>. The menu writes at once;
// a change made elsewhere (an administrator's tool, regedit) is seen within
// moments: the key is watched, and the window hears of each change by a
// posted message, then reads the key again.
//
// Threads: everything here runs on the UI thread, which lives as long as
// the watch (the registry ties a notification to the thread that asked for
// it). A pool thread only posts the message.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/handle.h"
#include "watchdog/watchdog_rules.h"

struct CRegKeyTraits {
    using pointer = HKEY;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::RegCloseKey(h); }
};
using CRegKey = CUniqueHandle<CRegKeyTraits>;

// A registered wait of the system's pool, unregistered (and any callback
// in progress waited out) when it goes.
struct CPoolWaitTraits {
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::UnregisterWaitEx(h, INVALID_HANDLE_VALUE); }
};
using CPoolWait = CUniqueHandle<CPoolWaitTraits>;

// The installation's id: installation.id in moduleDir (the supervisor's
// folder, with its trailing backslash), or folderHash.
std::wstring ReadInstallationId(const std::wstring& moduleDir, const std::wstring& folderHash);

class CWatchdogSettingsStore {
public:
    explicit CWatchdogSettingsStore(std::wstring keyPath) : m_strKeyPath(std::move(keyPath)) {}
    ~CWatchdogSettingsStore();
    CWatchdogSettingsStore(const CWatchdogSettingsStore&) = delete;
    CWatchdogSettingsStore& operator=(const CWatchdogSettingsStore&) = delete;

    // The settings now. complaints gets a line for each value left aside
    // that was not left aside at the previous read, so the journal names
    // each once, and again only after it was put right and then wrong again.
    WatchdogSettings Read(std::vector<std::wstring>& complaints);
    // The menu's choices. The minutes replace a finer setting in seconds.
    bool WriteSilentMinutes(uint32_t minutes);
    bool WriteMemoryMb(uint32_t megabytes);
    // From now on, each change of the key's values posts uMsg to hWnd
    // (coalesced: one message may stand for several changes). Call Rearm
    // on each message before reading. The key is created when missing: the
    // watch needs it to exist.
    bool Watch(HWND hWnd, UINT uMsg);
    void Rearm();

    const std::wstring& KeyPath() const { return m_strKeyPath; }

private:
    static void CALLBACK OnKeyChanged(void* pv, BOOLEAN bTimedOut);
    bool WriteDword(const wchar_t* name, uint32_t value);

    const std::wstring m_strKeyPath;
    std::vector<std::wstring> m_lastComplaints;
    CRegKey m_hWatchedKey;
    CHandle m_hChanged;  // auto-reset; set by the registry
    // Read-only while the wait is registered (the pool thread reads them).
    HWND m_hWnd = nullptr;
    UINT m_uMsg = 0;
    CPoolWait m_hWait;  // last: it goes before what its callback reads
};
