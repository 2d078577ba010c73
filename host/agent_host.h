// The supervisor without its window: the journal, the output sink and the
// pipe server that feeds it, the agent's supervision, and the user's commands
// as the journal records them. The window holds one, attaches its view, and
// listens to the agent's life through posted messages.
//
// Threads: every member function runs on the UI thread. The journal's sink
// hears the watch thread first, so the journal has each event before the
// window does.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "framework/handle.h"
#include "output/output_sink.h"
#include "supervision/agent_supervisor.h"
#include "watchdog/watchdog_front.h"

class CJournal;
class CJournalEventSink;
class CPipeServer;

// Where the watchdogs post: their findings and the settings key's changes.
struct WatchdogTarget {
    HWND hWnd = nullptr;
    UINT uFindingMsg = 0;
    UINT uSettingsMsg = 0;
};

class CAgentHost {
public:
    // How long Exit waits for the journal's queue to reach the disk.
    static constexpr DWORD kJournalPatienceMs = 5000;

    // moduleDir: the supervisor's folder, with its trailing backslash; the
    // agent is bin\Tollvane.exe in it. windowSink hears of the agent's
    // life after the journal; it must outlive this object.
    CAgentHost(const std::wstring& moduleDir, CAgentEventSink& windowSink);
    // Ends supervision (a bounded wait, CAgentSupervisor::kJoinBoundMs), then
    // lets go of the journal and the sink, which pipe readers may still hold.
    ~CAgentHost();
    CAgentHost(const CAgentHost&) = delete;
    CAgentHost& operator=(const CAgentHost&) = delete;

    // How long the end of the session waits for the journal's queue: the
    // system gives a window about five seconds, and the agent's end comes first.
    static constexpr DWORD kSessionEndJournalMs = 1500;

    // The view gets the output, the watchdogs their settings; then the pipe
    // server and the agent start. The agent is launched only while the
    // pipe's name is ours.
    void Begin(const OutputViewTarget& view, const WatchdogTarget& watch = {});
    // True when the pipe's name is too long for the system to create: the
    // agent runs, but its output cannot arrive. Known from Begin on.
    bool IsOutputImpossible() const { return m_bOutputImpossible; }
    // True when the pipe server's thread could not start (error): no output
    // arrives, and the agent is started without waiting for the pipe.
    bool HasNoPipeServer() const { return m_nPipeServerError != 0; }
    DWORD PipeServerError() const { return m_nPipeServerError; }
    // The session is about to end: launch nothing from here on; or, when it
    // did not end after all (bHold false), go on as before.
    void HoldLaunches(bool bHold);
    // The session ends: a last journal line, the agent ended without grace,
    // the journal written out; bounded by the system's patience.
    void EndSession(HWND hWnd);
    // The user's commands: into the journal, then to the supervisor.
    void StartByUser();
    void StopByUser();
    // Exit: ends the agent and the watch, then writes the journal out. The
    // agent's last events, and its last messages, precede "supervisor
    // exiting". In two steps, so the window serves its messages meanwhile:
    // BeginExit asks the watch to end and returns; once HasWatchEnded (or
    // the caller's patience is over) FinishExit ends the rest.
    void ExitByUser();
    void BeginExit();
    bool HasWatchEnded() const;
    void FinishExit();
    // The window goes: from here on the pipe readers keep their text.
    void DetachView();

    // The watchdogs: their settings, the menu's choices, the key changed
    // elsewhere; a finding of the watchdog's thread (into the journal; a
    // restart goes the user's Restart's way, the ask and the grace first).
    const WatchdogSettings& Watching() const { return m_watchdogs.Settings(); }
    void ChooseSilentMinutes(uint32_t minutes);
    void ChooseMemoryMb(uint32_t megabytes);
    void OnWatchdogSettingsChanged();
    void OnWatchdogFinding(const WatchdogFinding& finding);
    // WM_POWERBROADCAST: the journal marks both; after the resume the
    // silence starts over and early exits do not count as a crash loop.
    void OnSleep();
    void OnResume();

    bool IsStopRequested() const;
    const std::wstring& AgentPath() const { return m_strAgentPath; }
    // What the window keeps from the start: the sink its view syncs from,
    // and the journal whose folder and trouble it shows. Handed once.
    struct WindowShare {
        std::shared_ptr<COutputSink> spOutput;
        std::shared_ptr<const CJournal> spJournal;
    };
    WindowShare ShareWithWindow() const { return {m_spOutput, m_spJournal}; }
    // hWnd hears of each change of the journal's trouble by message, and
    // once now, for a trouble that came before.
    void WatchJournal(HWND hWnd, UINT message);

    // How long the end waits for the pipe readers to hand over what an ended
    // agent wrote last.
    static constexpr DWORD kReaderDrainMs = 1000;

private:
    void CloseJournal();
    // Into the journal; and the sink stamps messages while silence is watched.
    void NoteWatchdogLines(const std::vector<std::wstring>& lines);
    // Waits, within bound, for the readers of the ended agent's messages.
    void DrainReaders(DWORD bound);

    const std::wstring m_strAgentPath;
    // The journal, shared with the output sink (whose readers may outlive
    // this object) and the event sink.
    std::shared_ptr<CJournal> m_spJournal;
    std::unique_ptr<CJournalEventSink> m_pJournalSink;
    // Shared with the pipe readers; it outlives the window for them.
    std::shared_ptr<COutputSink> m_spOutput;
    CHandle m_hPipeThread;                        // a mark only; never waited on
    std::shared_ptr<CPipeServer> m_spPipeServer;  // null when there is none
    bool m_bOutputImpossible = false;
    // Before the supervisor, which calls the watchdog's job observer.
    CWatchdogFront m_watchdogs;
    DWORD m_nPipeServerError = 0;
    bool m_bLaunchesHeld = false;  // from the session's end being asked on
    // Last, so it goes first: the watch thread calls the sinks above.
    std::unique_ptr<CAgentSupervisor> m_pSupervisor;
};
