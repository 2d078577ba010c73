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

class CJournal;
class CJournalEventSink;

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

    // The view gets the output; then the pipe server and the agent start.
    // The agent is launched only while the pipe's name is ours.
    void Begin(const OutputViewTarget& view);
    // True when the pipe's name is too long for the system to create: the
    // agent runs, but its output cannot arrive. Known from Begin on.
    bool IsOutputImpossible() const { return m_bOutputImpossible; }
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
    // agent's last events precede "supervisor exiting".
    void ExitByUser();
    // The window goes: from here on the pipe readers keep their text.
    void DetachView();

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

private:
    void CloseJournal();

    const std::wstring m_strAgentPath;
    // The journal, shared with the output sink (whose readers may outlive
    // this object) and the event sink.
    std::shared_ptr<CJournal> m_spJournal;
    std::unique_ptr<CJournalEventSink> m_pJournalSink;
    // Shared with the pipe readers; it outlives the window for them.
    std::shared_ptr<COutputSink> m_spOutput;
    CHandle m_hPipeThread;  // a mark only; never waited on
    bool m_bOutputImpossible = false;
    // Last, so it goes first: the watch thread calls the sinks above.
    std::unique_ptr<CAgentSupervisor> m_pSupervisor;
};
