#include "supervision/agent_events.h"

#include <memory>

#include "framework/debug_trace.h"

void DeliverAgentEvent(const AgentEvent& event, CAgentListener& listener) {
    switch (event.kind) {
        case AgentEvent::Kind::Started:
            listener.OnAgentStarted(event.pid);
            break;
        case AgentEvent::Kind::Exited:
            listener.OnAgentExited(event.exitCode, event.runMs);
            break;
        case AgentEvent::Kind::Stopping:
            listener.OnAgentStopping();
            break;
        case AgentEvent::Kind::StopEnded:
            listener.OnAgentStopEnded(event.outcome, event.elapsedMs);
            break;
        case AgentEvent::Kind::LaunchFailed:
            listener.OnLaunchFailed(event.error);
            break;
        case AgentEvent::Kind::Paused:
            listener.OnRelaunchPaused(event.pauseMs, event.reason);
            break;
        case AgentEvent::Kind::Missing:
            listener.OnAgentMissing(event.path, event.bFlag);
            break;
        case AgentEvent::Kind::PipeHeld:
            listener.OnOutputPipeHeld(event.bFlag);
            break;
        case AgentEvent::Kind::WatchEnded:
            listener.OnWatchEnded();
            break;
    }
}

void CAgentEventPoster::Post(AgentEvent event) {
    try {
        auto spEvent = std::make_unique<AgentEvent>(std::move(event));
        if (::PostMessageW(m_hWnd, m_uMsg, 0, reinterpret_cast<LPARAM>(spEvent.get())))
            spEvent.release();  // the message owns it now
        else
            DebugTrace(L"agent event lost: the window's queue refused it");
    } catch (...) {
        // Out of memory: the window misses this event, the watch goes on.
    }
}

void CAgentEventPoster::OnAgentStarted(DWORD pid) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::Started;
    e.pid = pid;
    Post(std::move(e));
}

void CAgentEventPoster::OnAgentExited(DWORD exitCode, DWORD runMs) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::Exited;
    e.exitCode = exitCode;
    e.runMs = runMs;
    Post(std::move(e));
}

void CAgentEventPoster::OnAgentStopping() {
    AgentEvent e;
    e.kind = AgentEvent::Kind::Stopping;
    Post(std::move(e));
}

void CAgentEventPoster::OnAgentStopEnded(StopOutcome outcome, DWORD elapsedMs) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::StopEnded;
    e.outcome = outcome;
    e.elapsedMs = elapsedMs;
    Post(std::move(e));
}

void CAgentEventPoster::OnLaunchFailed(DWORD error) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::LaunchFailed;
    e.error = error;
    Post(std::move(e));
}

void CAgentEventPoster::OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::Paused;
    e.pauseMs = pauseMs;
    e.reason = reason;
    Post(std::move(e));
}

void CAgentEventPoster::OnAgentMissing(const std::wstring& path, bool bFolder) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::Missing;
    e.bFlag = bFolder;
    try {
        e.path = path;
    } catch (...) {
    }
    Post(std::move(e));
}

void CAgentEventPoster::OnOutputPipeHeld(bool bHeld) {
    AgentEvent e;
    e.kind = AgentEvent::Kind::PipeHeld;
    e.bFlag = bHeld;
    Post(std::move(e));
}

void CAgentEventPoster::OnWatchEnded() {
    AgentEvent e;
    e.kind = AgentEvent::Kind::WatchEnded;
    Post(std::move(e));
}

std::unique_ptr<AgentEvent> CAgentEventPoster::Take(LPARAM lParam) {
    return std::unique_ptr<AgentEvent>(reinterpret_cast<AgentEvent*>(lParam));
}

void CAgentEventPoster::Drain(HWND hWnd, UINT uMsg) {
    MSG msg;
    while (::PeekMessageW(&msg, hWnd, uMsg, uMsg, PM_REMOVE)) Take(msg.lParam);
}
