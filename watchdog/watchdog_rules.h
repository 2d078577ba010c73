// The watchdogs' decisions: what the settings say, when a silent agent is
// due for a restart, whether the job's memory is past its bound, and what
// the tray says about them. No Win32 here: every time comes in as a
// parameter, on a clock that stops while the machine sleeps.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// ---- Settings ----------------------------------------------------------

// The registry values, under HKCU\Software\QuorvelTollvane\<installation id>.
inline constexpr const wchar_t* kSilentMinutesValue = L"RestartWhenSilentMinutes";
inline constexpr const wchar_t* kSilentSecondsValue = L"RestartWhenSilentSeconds";
inline constexpr const wchar_t* kMemoryMbValue = L"RestartAboveMemoryMB";

constexpr uint32_t kMaxSilentMinutes = 24 * 60;
constexpr uint32_t kMaxSilentSeconds = 24 * 60 * 60;
constexpr uint32_t kMinMemoryMb = 16;
constexpr uint32_t kMaxMemoryMb = 1024 * 1024;

// The menu's choices; 0 is Off. The 4 GB choice is the 64-bit build's.
constexpr std::array<uint32_t, 5> kSilentMinuteChoices = {0, 1, 5, 15, 60};
constexpr std::array<uint32_t, 6> kMemoryMbChoices = {0, 256, 512, 1024, 2048, 4096};
size_t MemoryChoiceCount(bool b64Bit);

struct WatchdogSettings {
    uint32_t silentSeconds = 0;  // 0: the silence watchdog is off
    uint32_t memoryMb = 0;       // 0: the memory watchdog is off

    bool AnyOn() const { return silentSeconds != 0 || memoryMb != 0; }
    bool operator==(const WatchdogSettings& o) const {
        return silentSeconds == o.silentSeconds && memoryMb == o.memoryMb;
    }
    bool operator!=(const WatchdogSettings& o) const { return !(*this == o); }
};

// One value of the key as the registry gives it.
struct RegistryValue {
    std::wstring name;
    bool bDword = false;  // REG_DWORD; anything else is the wrong type
    uint32_t data = 0;    // when bDword
};

// The settings the key's values give, and one journal line for each value
// that was left aside (a name this version does not know, the wrong type, a
// number out of range). A missing value is its default, silently.
// RestartWhenSilentSeconds, when valid, wins over the minutes.
WatchdogSettings ReadWatchdogSettings(const std::vector<RegistryValue>& values,
                                      std::vector<std::wstring>& complaints);

// ---- Silence -----------------------------------------------------------

// The silence of one run: counted from the agent's start, its last message
// or the last resume from sleep, whichever came last. Times are milliseconds
// on a clock that does not advance while the machine sleeps, so time asleep
// never counts; the wall clock plays no part, so setting it changes nothing.
class CSilenceClock {
public:
    void OnAgentStarted(uint64_t nowMs);
    void OnMessage(uint64_t atMs);
    void OnResume(uint64_t nowMs);
    void OnAgentEnded() { m_bRunning = false; }
    // Once a restart has been asked for this run, no more are due.
    void OnRestartAsked() { m_bAsked = true; }

    // The moment the run is due for a restart; 0 when none is due (the
    // watchdog off, no agent, or a restart asked already).
    uint64_t Deadline(uint32_t silentSeconds) const;
    bool IsDue(uint64_t nowMs, uint32_t silentSeconds) const;
    // Since when the agent has been silent.
    uint64_t SilentSince() const { return m_lastMs; }

private:
    bool m_bRunning = false;
    bool m_bAsked = false;
    uint64_t m_lastMs = 0;
};

// ---- Memory ------------------------------------------------------------

struct ProcessMemory {
    uint32_t pid = 0;
    std::wstring name;  // the executable's file name
    uint64_t privateBytes = 0;
};

struct MemoryVerdict {
    uint64_t totalBytes = 0;
    bool bOver = false;
    ProcessMemory top;  // the process that holds the most
};

// The job's private memory summed against the bound (in MB); past it when
// the sum is larger than the bound.
MemoryVerdict JudgeMemory(const std::vector<ProcessMemory>& processes, uint32_t boundMb);

// How often the memory is read where the job cannot tell by itself.
constexpr uint32_t kMemoryPollMs = 5000;

// ---- Words -------------------------------------------------------------

// "5 min", "90 s"; "256 MB", "1 GB", "1.5 GB".
std::wstring SilenceAmount(uint32_t silentSeconds);
std::wstring MemoryAmount(uint64_t megabytes);
// One decimal under 10 GB: "1.3 GB"; MB below 1 GB.
std::wstring BytesAmount(uint64_t bytes);

// The tooltip's line of the watchdogs that are on, from the string table's
// texts ({what} in whole, "silence {amount}" and "memory {amount}" for the
// parts, joined by ", "); empty when both are off.
struct WatchingTexts {
    std::wstring whole;    // "Watching: {what}"
    std::wstring silence;  // "silence {amount}"
    std::wstring memory;   // "memory {amount}"
};
std::wstring WatchingLine(const WatchingTexts& texts, const WatchdogSettings& settings);

// ---- The installation's key ------------------------------------------

// The id that names this installation: what installation.id in its folder
// holds when that is eight hex digits (the installer keeps it across
// upgrades), else folderHash (the hash the journal is named by).
std::wstring InstallationId(const std::string& idFileText, const std::wstring& folderHash);
std::wstring SettingsKeyPath(const std::wstring& installationId);
