// The agent's life as records a window can be posted: the watch thread posts
// one per event, the window's thread delivers it to its own listeners. The
// message owns its record: the poster lets go of it only once the post has
// succeeded, the window deletes it when it has handled it, and drains what
// is still queued when it goes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "supervision/agent_supervisor.h"

struct AgentEvent {
    enum class Kind {
        Started,
        Exited,
        Stopping,
        StopEnded,
        LaunchFailed,
        Paused,
        Missing,
        PipeHeld,
        WatchEnded
    };
    Kind kind = Kind::WatchEnded;
    DWORD pid = 0;
    DWORD exitCode = 0;
    DWORD runMs = 0;
    DWORD error = 0;
    DWORD pauseMs = 0;
    AgentPauseReason reason = AgentPauseReason::CrashLoop;
    bool bFlag = false;  // Missing: the path is a folder; PipeHeld: held (else ours again)
    StopOutcome outcome = StopOutcome::EndedByItself;
    DWORD elapsedMs = 0;
    std::wstring path;
};

// Calls the listener's method that the record stands for.
void DeliverAgentEvent(const AgentEvent& event, CAgentListener& listener);

// Listens on the watch thread and posts each event to a window as message
// uMsg, the record's address in lParam. Never calls into the window.
class CAgentEventPoster final : public CAgentListener {
public:
    CAgentEventPoster(HWND hWnd, UINT uMsg) : m_hWnd(hWnd), m_uMsg(uMsg) {}

    void OnAgentStarted(DWORD pid) override;
    void OnAgentExited(DWORD exitCode, DWORD runMs) override;
    void OnAgentStopping() override;
    void OnAgentStopEnded(StopOutcome outcome, DWORD elapsedMs) override;
    void OnLaunchFailed(DWORD error) override;
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override;
    void OnAgentMissing(const std::wstring& path, bool bFolder) override;
    void OnOutputPipeHeld(bool bHeld) override;
    void OnWatchEnded() override;

    // The window's thread, with a message of uMsg: the record, now the caller's.
    static std::unique_ptr<AgentEvent> Take(LPARAM lParam);
    // The window's thread, as the window goes: frees the records still queued.
    static void Drain(HWND hWnd, UINT uMsg);

private:
    void Post(AgentEvent event);

    const HWND m_hWnd;  // read-only after construction
    const UINT m_uMsg;  // read-only after construction
};
