// The tray tooltip: the title, the agent's state, the supervisor's notes.
// UI thread only; written when a state changes, never on a timer.
#include "framework/strings.h"
#include "ui/main_dlg.h"

namespace {

TrayTipTexts LoadTrayTipTexts() {
    TrayTipTexts texts;
    texts.title = LoadResString(IDS_TRAY_TIP);
    texts.running = LoadResString(IDS_TIP_RUNNING);
    texts.stopping = LoadResString(IDS_TIP_STOPPING);
    texts.paused = LoadResString(IDS_TIP_PAUSED);
    texts.stopped = LoadResString(IDS_TIP_STOPPED);
    texts.missing = LoadResString(IDS_TIP_MISSING);
    texts.cannotLaunch = LoadResString(IDS_TIP_CANNOT_LAUNCH);
    return texts;
}

}  // namespace

// The local time of day delayMs from now.
ClockTime LocalClockTime(DWORD delayMs) {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER at = {};
    at.LowPart = now.dwLowDateTime;
    at.HighPart = now.dwHighDateTime;
    at.QuadPart += static_cast<ULONGLONG>(delayMs) * 10000;
    FILETIME utc = {}, local = {};
    utc.dwLowDateTime = at.LowPart;
    utc.dwHighDateTime = at.HighPart;
    SYSTEMTIME st = {};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) ::GetLocalTime(&st);
    return ClockTime{st.wHour, st.wMinute, st.wSecond};
}

void CMainDlg::ShowAgentState(AgentStateLine line) {
    m_agentState = std::move(line);
    RefreshTrayTip();
}

void CMainDlg::SetTrayNote(UINT textId, std::wstring text) {
    if (text.empty())
        m_trayNotes.erase(textId);
    else
        m_trayNotes[textId] = std::move(text);
    RefreshTrayTip();
}

void CMainDlg::RefreshTrayTip() {
    SetTrayTip(BuildTrayTip(LoadTrayTipTexts(), m_agentState, m_trayNotes).c_str());
}
