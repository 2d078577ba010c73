#include "supervision/agent_events.h"

#include "framework/debug_trace.h"

void CAgentEventPoster::OnAgentEvent(const AgentEvent& event) {
    try {
        auto spEvent = std::make_unique<AgentEvent>(event);
        if (::PostMessageW(m_hWnd, m_uMsg, 0, reinterpret_cast<LPARAM>(spEvent.get())))
            spEvent.release();  // the message owns it now
        else
            DebugTrace(L"agent event lost: the window's queue refused it");
    } catch (...) {
        // Out of memory: the window misses this event, the watch goes on.
    }
}

std::unique_ptr<AgentEvent> CAgentEventPoster::Take(LPARAM lParam) {
    return std::unique_ptr<AgentEvent>(reinterpret_cast<AgentEvent*>(lParam));
}

void CAgentEventPoster::Drain(HWND hWnd, UINT uMsg) {
    MSG msg;
    while (::PeekMessageW(&msg, hWnd, uMsg, uMsg, PM_REMOVE)) Take(msg.lParam);
}
