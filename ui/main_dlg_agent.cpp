// The dialog as a listener of the agent's life: the Start/Restart and Stop
// buttons, the tray image and the tooltip's agent line. Called on the watch
// thread; the window calls are carried out by the UI thread.
#include "agent/relaunch_rules.h"
#include "framework/strings.h"
#include "supervision/exit_texts.h"
#include "ui/main_dlg.h"

namespace {

void ShowButtons(HWND hWnd, bool bRunning) {
    if (hWnd == nullptr) return;
    ::SetDlgItemTextW(hWnd, ID_AGENT_START, LoadResString(bRunning ? IDS_RESTART : IDS_START).c_str());
    ::SetDlgItemTextW(hWnd, ID_AGENT_STOP, LoadResString(IDS_STOP).c_str());
    ::EnableWindow(::GetDlgItem(hWnd, ID_AGENT_STOP), bRunning ? TRUE : FALSE);
}

AgentStateLine StateLine(AgentState state) {
    AgentStateLine line;
    line.state = state;
    return line;
}

}  // namespace

std::wstring CMainDlg::GetAgentPath() const { return m_strModuleDir + L"bin\\Tollvane.exe"; }
std::wstring CMainDlg::GetAgentDir() const { return m_strModuleDir + L"bin"; }

void CMainDlg::OnAgentStarted(DWORD pid) {
    // A Stop that came meanwhile is ending this agent again.
    if (m_bStopRequested) return;
    if (m_hIconRunning) SetTrayIcon(m_hIconRunning.get());
    ShowButtons(m_hWnd, true);
    AgentStateLine line = StateLine(AgentState::Running);
    line.pid = pid;
    line.at = LocalClockTime();
    ShowAgentState(line);
}

void CMainDlg::OnAgentExited(DWORD /*exitCode*/, DWORD runMs) {
    m_nQuickExits = runMs < CRelaunchBackoff::kShortRunMs ? m_nQuickExits + 1 : 0;
}

// The agent has the grace to end: Stop stays enabled, since a second Stop
// forces at once, and says what is going on.
void CMainDlg::OnAgentStopping() {
    if (m_hWnd != nullptr) ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_TIP_STOPPING).c_str());
    ShowAgentState(StateLine(AgentState::Stopping));
}

void CMainDlg::OnAgentStopEnded(StopOutcome /*outcome*/, DWORD /*elapsedMs*/) {
    if (m_hWnd != nullptr) ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_STOP).c_str());
}

// No agent runs, but the watch goes on: the buttons keep offering Restart and
// Stop, the image tells the truth.
void CMainDlg::OnLaunchFailed(DWORD error) {
    if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
    AgentStateLine line = StateLine(AgentState::CannotLaunch);
    line.reason = LaunchErrorText(error, GetAgentPath());
    ShowAgentState(line);
}

void CMainDlg::OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) {
    if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
    // A failing launch keeps its reason on the line.
    if (reason != AgentPauseReason::CrashLoop) return;
    AgentStateLine line = StateLine(AgentState::Paused);
    line.at = LocalClockTime(pauseMs);
    line.quickExits = m_nQuickExits;
    ShowAgentState(line);
}

void CMainDlg::OnAgentMissing(const std::wstring& /*path*/) {
    ShowAgentState(StateLine(AgentState::Missing));
}

void CMainDlg::OnWatchEnded() {
    ShowButtons(m_hWnd, false);
    if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
    m_nQuickExits = 0;
    if (m_agentState.state != AgentState::Missing) ShowAgentState(StateLine(AgentState::Stopped));
}
