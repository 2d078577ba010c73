// The agent's events carried to a window: the poster copies each record the
// watch thread hands it and posts the copy; the window's thread takes it
// from the message. The message owns its record: the poster lets go of it
// only once the post has succeeded, the window deletes it when it has
// handled it, and drains what is still queued when it goes.
#pragma once

#include <windows.h>

#include <memory>

#include "supervision/agent_event.h"

// A sink on the watch thread that posts each event to a window as message
// uMsg, the record's address in lParam. Never calls into the window.
class CAgentEventPoster final : public CAgentEventSink {
public:
    CAgentEventPoster(HWND hWnd, UINT uMsg) : m_hWnd(hWnd), m_uMsg(uMsg) {}

    void OnAgentEvent(const AgentEvent& event) override;

    // The window's thread, with a message of uMsg: the record, now the caller's.
    static std::unique_ptr<AgentEvent> Take(LPARAM lParam);
    // The window's thread, as the window goes: frees the records still queued.
    static void Drain(HWND hWnd, UINT uMsg);

private:
    const HWND m_hWnd;  // read-only after construction
    const UINT m_uMsg;  // read-only after construction
};
