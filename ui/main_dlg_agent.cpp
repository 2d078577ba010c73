// The agent's life as the window shows it: the Start/Restart and Stop
// buttons, the tray image, the tooltip's agent line and the trouble balloon.
// The watch thread posts each event; this runs on the UI thread as the
// message is handled.
#include "host/agent_host.h"
#include "names/name_rules.h"
#include "framework/strings.h"
#include "framework/text_fill.h"
#include "journal/journal_event_rules.h"
#include "supervision/agent_events.h"
#include "supervision/exit_texts.h"
#include "supervision/relaunch_rules.h"
#include "ui/main_dlg.h"
#include "ui/trouble_notice.h"

namespace {
// Not after a crash or a hang: those the user (or sign-in) starts again.
constexpr DWORD kRestartFlags = RESTART_NO_CRASH | RESTART_NO_HANG;

AgentStateLine StateLine(AgentState state) {
    AgentStateLine line;
    line.state = state;
    return line;
}

}  // namespace

bool CMainDlg::IsAgentStopRequested() const { return !m_pHost || m_pHost->IsStopRequested(); }

void CMainDlg::ShowAgentButtons(bool bRunning) {
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_START, LoadResString(bRunning ? IDS_RESTART : IDS_START).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_STOP).c_str());
    ::EnableWindow(::GetDlgItem(m_hWnd, ID_AGENT_STOP), bRunning ? TRUE : FALSE);
}

void CMainDlg::OnAgentEvent(const AgentEvent& event) {
    switch (event.kind) {
        case AgentEvent::Kind::Started: {
            // A Stop that came meanwhile is ending this agent again.
            if (IsAgentStopRequested()) break;
            if (m_hIconRunning) SetTrayIcon(m_hIconRunning.get());
            ShowAgentButtons(true);
            AgentStateLine line = StateLine(AgentState::Running);
            line.pid = event.pid;
            line.at = LocalClockTime();
            ShowAgentState(line);
            break;
        }
        case AgentEvent::Kind::Exited:
            m_nQuickExits = event.runMs < CRelaunchBackoff::kShortRunMs ? m_nQuickExits + 1 : 0;
            break;
        case AgentEvent::Kind::Stopping:
            // The agent has the grace to end: Stop stays enabled, since a
            // second Stop forces at once, and says what is going on.
            ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_TIP_STOPPING).c_str());
            ShowAgentState(StateLine(AgentState::Stopping));
            break;
        case AgentEvent::Kind::StopEnded:
            ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_STOP).c_str());
            // "Stopping…" only while something still runs: a force the
            // system refused. What comes next (a launch, the watch's end)
            // says what follows.
            if (event.outcome != StopOutcome::NotEnded) ShowAgentState(StateLine(AgentState::Stopped));
            break;
        case AgentEvent::Kind::LaunchFailed: {
            // No agent runs, but the watch goes on: the buttons keep offering
            // Restart and Stop, the image tells the truth.
            if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
            AgentStateLine line = StateLine(AgentState::CannotLaunch);
            line.reason = LaunchErrorText(event.error, m_pHost ? m_pHost->AgentPath() : std::wstring());
            ShowAgentState(line);
            break;
        }
        case AgentEvent::Kind::NeedsElevation: {
            // The watch ends, and the line stays until the user's Start.
            AgentStateLine line = StateLine(AgentState::CannotLaunch);
            line.reason = LoadResString(IDS_REASON_NEEDS_ADMIN);
            ShowAgentState(line);
            break;
        }
        case AgentEvent::Kind::Paused:
            if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
            // A failing launch keeps its reason on the line.
            if (event.reason == AgentPauseReason::CrashLoop) {
                AgentStateLine line = StateLine(AgentState::Paused);
                line.at = LocalClockTime(event.pauseMs);
                line.quickExits = m_nQuickExits;
                ShowAgentState(line);
            }
            break;
        case AgentEvent::Kind::Missing:
            ShowAgentState(StateLine(AgentState::Missing));
            break;
        case AgentEvent::Kind::WatchEnded:
            ShowAgentButtons(false);
            if (m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
            m_nQuickExits = 0;
            // Why the watch ended stays on the line: a missing agent file, or
            // one that asks for administrator rights.
            if (m_agentState.state != AgentState::Missing &&
                !(m_agentState.state == AgentState::CannotLaunch &&
                  m_agentState.reason == LoadResString(IDS_REASON_NEEDS_ADMIN)))
                ShowAgentState(StateLine(AgentState::Stopped));
            break;
        case AgentEvent::Kind::PipeHeld:
            ShowPipeHeld(event.bFlag);
            break;
        case AgentEvent::Kind::WatchFailed:
            ShowNotWatched(event.error);
            break;
        case AgentEvent::Kind::Held:
            // For the diagnostics: the journal's own words.
            m_strHeld = JournalEventLine(event, SystemWords());
            break;
        default:
            break;  // the journal's alone
    }
    if (m_pTroubleNotice) m_pTroubleNotice->OnAgentEvent(event);
}

void CMainDlg::ShowPipeHeld(bool bHeld) {
    const std::wstring text = bHeld ? LoadResString(IDS_NOTE_PIPE_HELD) : std::wstring();
    // No agent runs while the name is another's.
    if (bHeld && m_hIconStopped) SetTrayIcon(m_hIconStopped.get());
    SetTrayNote(IDS_NOTE_PIPE_HELD, text);
    if (bHeld) ShowBalloon(text, nullptr);
}

void CMainDlg::ShowPipeTooLong() {
    // The folder's length that the pipe name allows: what the name adds to
    // the folder's path is the same for every installation.
    const size_t limit = kMaxPipeNameChars - MakePipeName(L"\\bin\\Tollvane.exe").size();
    const std::wstring text =
        FillMark(LoadResString(IDS_NOTE_PIPE_TOO_LONG), L"{limit}", std::to_wstring(limit));
    SetTrayNote(IDS_NOTE_PIPE_TOO_LONG, text);
    ShowBalloon(text, nullptr);
}

void CMainDlg::ShowBalloon(const std::wstring& text, const HistorySelection* pRun) {
    m_bBalloonNamesRun = pRun != nullptr;
    if (pRun != nullptr) m_balloonRun = *pRun;
    ShowTrayBalloon(LoadResString(IDR_MAINFRAME).c_str(), text.c_str());
}

void CMainDlg::ShowNoPipeServer(DWORD error) {
    const std::wstring text =
        FillMark(LoadResString(IDS_NOTE_NO_PIPE_SERVER), L"{error}", std::to_wstring(error));
    SetTrayNote(IDS_NOTE_NO_PIPE_SERVER, text);
    if (m_spOutput) m_spOutput->AppendNotice(text);
}

void CMainDlg::ShowNotWatched(DWORD error) {
    const std::wstring text =
        FillMark(LoadResString(IDS_NOTE_NOT_WATCHED), L"{error}", std::to_wstring(error));
    SetTrayNote(IDS_NOTE_NOT_WATCHED, text);
    if (m_spOutput) m_spOutput->AppendNotice(text);
}

void CMainDlg::RegisterForRestart() {
    // Looked up: the 32-bit build runs on Windows XP, which lacks the call.
    using RegisterFn = HRESULT(WINAPI*)(PCWSTR, DWORD);
    const auto pRegister = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "RegisterApplicationRestart")));
    if (pRegister != nullptr) pRegister(L"starthide", kRestartFlags);
}

void CMainDlg::OnTrayBalloonClicked() { ShowHistory(m_bBalloonNamesRun ? &m_balloonRun : nullptr); }
