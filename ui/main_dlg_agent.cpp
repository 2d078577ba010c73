// The agent's life as the window shows it: the Start/Restart and Stop
// buttons, the tray image and the trouble balloon. The watch thread posts
// each event; this runs on the UI thread as the message is handled.
#include "app/agent_host.h"
#include "framework/strings.h"
#include "supervision/agent_events.h"
#include "ui/main_dlg.h"
#include "ui/trouble_notice.h"

bool CMainDlg::IsAgentStopRequested() const { return !m_pHost || m_pHost->IsStopRequested(); }

void CMainDlg::ShowAgentButtons(bool bRunning) {
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_START, LoadResString(bRunning ? IDS_RESTART : IDS_START).c_str());
    ::EnableWindow(::GetDlgItem(m_hWnd, ID_AGENT_STOP), bRunning ? TRUE : FALSE);
}

void CMainDlg::OnAgentEvent(const AgentEvent& event) {
    switch (event.kind) {
        case AgentEvent::Kind::Started:
            // A Stop that came meanwhile is ending this agent again.
            if (IsAgentStopRequested()) break;
            if (m_hIconRunning) SetTrayIcon(m_hIconRunning.get());
            ShowAgentButtons(true);
            break;
        case AgentEvent::Kind::LaunchFailed:
        case AgentEvent::Kind::Paused:
            // No agent runs, but the watch goes on: the buttons keep offering
            // Restart and Stop, the image tells the truth.
            if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
            break;
        case AgentEvent::Kind::WatchEnded:
            ShowAgentButtons(false);
            if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
            break;
        case AgentEvent::Kind::Exited:
        case AgentEvent::Kind::Missing:
            break;
    }
    if (m_pTroubleNotice) DeliverAgentEvent(event, *m_pTroubleNotice);
}
