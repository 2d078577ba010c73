// The tray as the window keeps it: the menu, prepared each time it opens,
// and the tooltip (the title, the agent's state, the supervisor's notes),
// written when a state changes, never on a timer. UI thread only.
#include "framework/strings.h"
#include "ui/main_dlg.h"
#include "ui/tray_rules.h"

void PrepareTrayMenu(HMENU hMenu, bool bStopRequested, bool bWindowShown) {
    for (const TrayMenuItem& item : TrayMenuItems(bStopRequested, bWindowShown)) {
        const std::wstring text = LoadResString(item.textId);
        ::ModifyMenuW(hMenu, item.id, MF_BYCOMMAND | MF_STRING, item.id, text.c_str());
        // Disabled, not greyed; and after the text, since rewriting the text
        // re-enables the item.
        if (item.setsState)
            ::EnableMenuItem(hMenu, item.id, MF_BYCOMMAND | (item.enabled ? MF_ENABLED : MF_DISABLED));
    }
}

void CMainDlg::UpdateTrayMenu(HMENU hMenu) {
    PrepareTrayMenu(hMenu, IsAgentStopRequested(), IsMainWindowShown());
}

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
