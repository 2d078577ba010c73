// The silence and memory watchdogs: one thread that waits on a completion
// port for what it is told (settings, launches, exits, resumes) and for the
// job's own notice that its memory passed the bound, and wakes by itself
// only when a silence may be due or, where the job cannot notify, to read
// the job's memory every kMemoryPollMs. It decides; the window acts: each
// finding is posted to it, and the restart goes the user's way.
//
// With both watchdogs off, no thread is started and nothing is done; a
// thread once started waits without a time limit while both are off.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "framework/critical_section.h"
#include "framework/handle.h"
#include "supervision/agent_supervisor.h"
#include "watchdog/watchdog_rules.h"

struct WatchdogFinding {
    enum class Kind {
        Silent,            // restart: silentSeconds without a message, since silentSinceMs ago
        OverMemory,        // restart: totalBytes past boundMb; top is the largest process
        MemoryMethod,      // how the memory is watched: bNotified (the job tells) or a poll
        MemoryCannotWork,  // the agent runs without a job of ours
    };
    Kind kind = Kind::Silent;
    uint32_t silentSeconds = 0;
    uint64_t silentForMs = 0;  // how long the silence had lasted when it was found
    uint32_t boundMb = 0;
    uint64_t totalBytes = 0;
    ProcessMemory top;
    bool bNotified = false;
};

class CAgentWatchdog final : public CAgentJobObserver {
public:
    // hWnd gets uMsg with a WatchdogFinding's address in lParam (Take it);
    // lastMessageMs gives, on any thread, the SleepFreeMs of the agent's last
    // message (0: none yet).
    CAgentWatchdog(HWND hWnd, UINT uMsg, std::function<uint64_t()> lastMessageMs);
    // Ends the thread and lets go of the job.
    ~CAgentWatchdog();
    CAgentWatchdog(const CAgentWatchdog&) = delete;
    CAgentWatchdog& operator=(const CAgentWatchdog&) = delete;

    // The owner's thread. Starts the thread the first time a watchdog is on.
    void Apply(const WatchdogSettings& settings);
    // Any thread (the watch thread, as it launches): the agent runs, held
    // in hJob (null: no job); the handle is the caller's, copied here.
    void OnAgentLaunched(HANDLE hJob) override;
    // Any thread: the agent has ended. The copy of its job goes now, so the
    // job's kill-on-close stays the launcher's to trigger.
    void OnAgentEnded() override;
    // The owner's thread, on the resume from sleep: the silence starts over.
    void OnResume();
    bool HasThread() const { return static_cast<bool>(m_hThread); }

    // The window's thread: the finding the message carries, now the caller's.
    static std::unique_ptr<WatchdogFinding> Take(LPARAM lParam);
    // The window's thread, as the window goes: frees the findings still queued.
    static void Drain(HWND hWnd, UINT uMsg);

private:
    struct Inbox {
        bool bSettings = false;
        WatchdogSettings settings;
        bool bLaunched = false;
        CHandle hJob;
        bool bEnded = false;
        bool bResumed = false;
        bool bQuit = false;
    };

    static unsigned __stdcall ThreadProc(void* pv);
    void Run();
    void Wake();
    bool TakeInbox();  // false on quit
    DWORD NextWaitMs(uint64_t nowMs) const;
    void CheckSilence(uint64_t nowMs);
    void CheckMemory(uint64_t nowMs, bool bNotified);
    void WatchMemoryOfJob();
    void Post(WatchdogFinding finding) const;

    const HWND m_hWnd;
    const UINT m_uMsg;
    const std::function<uint64_t()> m_lastMessageMs;
    CHandle m_hPort;    // created with the object, never replaced
    CHandle m_hThread;  // the owner's thread only
    // Atomic: set by the owner's thread once the thread runs; read by Wake
    // on any thread (before it, a wake has no one to wake).
    std::atomic<bool> m_bThreadStarted{false};

    // Guards m_inbox: the owner's and the watch thread write it, the
    // watchdog's thread empties it after each wake packet.
    CCriticalSection m_cs;
    Inbox m_inbox;

    // The watchdog's thread only, from here on.
    WatchdogSettings m_settings;
    CSilenceClock m_silence;
    CHandle m_hJob;
    bool m_bHasRun = false;       // an agent runs (with or without a job)
    ULONG_PTR m_nJobKey = 0;      // the current job's key on the port
    bool m_bJobOnPort = false;    // the current job reports to the port
    bool m_bNotifying = false;    // the job tells when its memory passes the bound
    bool m_bMemoryAsked = false;  // a memory restart was asked for this run
    int m_nLastMethod = -1;       // the method last told: 0 poll, 1 notification
    uint64_t m_nextPollMs = 0;
};
