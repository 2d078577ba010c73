// Whether the agent may be launched as far as its output pipe is concerned:
// only while the pipe's name is ours. An agent launched while another
// program holds the name would write to that program. The pipe server says
// what it found; the watch thread waits on it.
//
// Threads: the pipe server's thread calls Open and SetHeldElsewhere; the
// watch thread reads. Each state is one atomic word and the event follows it.
#pragma once

#include <windows.h>

#include <atomic>

#include "framework/handle.h"

class CLaunchGate {
public:
    CLaunchGate() : m_hOpen(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    CLaunchGate(const CLaunchGate&) = delete;
    CLaunchGate& operator=(const CLaunchGate&) = delete;

    // The name is ours: launches may go ahead.
    void Open() {
        m_bHeldElsewhere = false;
        m_bOpen = true;
        if (m_hOpen) ::SetEvent(m_hOpen.get());
    }
    // Another program created the name first.
    void SetHeldElsewhere() {
        m_bOpen = false;
        if (m_hOpen) ::ResetEvent(m_hOpen.get());
        m_bHeldElsewhere = true;
    }
    bool IsOpen() const { return m_bOpen; }
    // False while the server has not tried yet, so a start is not told as a wait.
    bool IsHeldElsewhere() const { return m_bHeldElsewhere; }
    // Set while open; never replaced.
    HANDLE OpenEvent() const { return m_hOpen.get(); }

private:
    std::atomic<bool> m_bOpen{false};
    std::atomic<bool> m_bHeldElsewhere{false};
    const CHandle m_hOpen;  // manual-reset
};
