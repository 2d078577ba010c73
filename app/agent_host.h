// The supervisor without its window: the journal, the output sink and the
// pipe server that feeds it, the agent's supervision, and the user's commands
// as the journal records them. The window holds one, attaches its view, and
// listens to the agent's life through posted messages.
//
// Threads: every member function runs on the UI thread. The journal listener
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
class CAgentJournalListener;

class CAgentHost {
public:
    // How long Exit waits for the journal's queue to reach the disk.
    static constexpr DWORD kJournalPatienceMs = 5000;

    // moduleDir: the supervisor's folder, with its trailing backslash; the
    // agent is bin\Tollvane.exe in it. windowListener hears of the agent's
    // life after the journal; it must outlive this object.
    CAgentHost(const std::wstring& moduleDir, CAgentListener& windowListener);
    // Ends supervision (a bounded wait, CAgentSupervisor::kJoinBoundMs), then
    // lets go of the journal and the sink, which pipe readers may still hold.
    ~CAgentHost();
    CAgentHost(const CAgentHost&) = delete;
    CAgentHost& operator=(const CAgentHost&) = delete;

    // The view gets the output; then the pipe server and the agent start.
    void Begin(const OutputViewTarget& view);
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
    COutputSink& Output() { return *m_spOutput; }
    // Where the journal's files are; empty when the system does not say.
    const std::wstring& JournalFolder() const;

private:
    void CloseJournal();

    const std::wstring m_strAgentPath;
    // The journal, shared with the output sink (whose readers may outlive
    // this object) and the event listener.
    std::shared_ptr<CJournal> m_spJournal;
    std::unique_ptr<CAgentJournalListener> m_pJournalListener;
    // Shared with the pipe readers; it outlives the window for them.
    std::shared_ptr<COutputSink> m_spOutput;
    CHandle m_hPipeThread;  // a mark only; never waited on
    // Last, so it goes first: the watch thread calls the listeners above.
    std::unique_ptr<CAgentSupervisor> m_pSupervisor;
};
