// The dialog as a listener of the agent's life: the Start/Restart and Stop
// buttons and the tray image. Called on the watch thread; the window calls
// are carried out by the UI thread.
#include "framework/strings.h"
#include "ui/main_dlg.h"

namespace {

void ShowButtons(HWND hWnd, bool bRunning) {
    if (hWnd == nullptr) return;
    ::SetDlgItemTextW(hWnd, ID_AGENT_START, LoadResString(bRunning ? IDS_RESTART : IDS_START).c_str());
    ::EnableWindow(::GetDlgItem(hWnd, ID_AGENT_STOP), bRunning ? TRUE : FALSE);
}

}  // namespace

std::wstring CMainDlg::GetAgentPath() const { return m_strModuleDir + L"bin\\Tollvane.exe"; }
std::wstring CMainDlg::GetAgentDir() const { return m_strModuleDir + L"bin"; }

void CMainDlg::OnAgentStarted(DWORD /*pid*/) {
    // A Stop that came meanwhile is ending this agent again.
    if (m_bStopRequested) return;
    if (m_hIconRunning) SetTrayIcon(m_hIconRunning.get());
    ShowButtons(m_hWnd, true);
}

// No agent runs, but the watch goes on: the buttons keep offering Restart and
// Stop, the image tells the truth.
void CMainDlg::OnLaunchFailed(DWORD /*error*/) {
    if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
}

void CMainDlg::OnRelaunchPaused(DWORD /*pauseMs*/, AgentPauseReason /*reason*/) {
    if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
}

void CMainDlg::OnWatchEnded() {
    ShowButtons(m_hWnd, false);
    if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
}
