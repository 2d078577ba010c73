// The main dialog: its message map, initialisation and command handlers.
#include "ui/main_dlg.h"

#include "host/agent_host.h"
#include "journal/journal.h"
#include "framework/app_module.h"
#include "framework/file_identity.h"
#include "framework/strings.h"
#include "supervision/agent_events.h"
#include "ui/about_dlg.h"
#include "ui/output_view.h"
#include "ui/trouble_notice.h"
#include "watchdog/agent_watchdog.h"

namespace {
constexpr WPARAM kKeyA = 0x41;
constexpr WPARAM kKeyNumpad1 = 0x61;  // what Ctrl+A can arrive as on some layouts

bool IsCtlColorMessage(UINT uMsg) {
    switch (uMsg) {
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLORLISTBOX:
            return true;
        default:
            return false;
    }
}
}  // namespace

CMainDlg::CMainDlg(bool bStartHidden)
    : m_bStartHidden(bStartHidden ? TRUE : FALSE), m_bWindowShown(bStartHidden ? FALSE : TRUE) {
    ApplyLogColours();
}

CMainDlg::~CMainDlg() {
    // A window that outlives its object would call into freed memory.
    if (IsWindow()) DestroyWindow();
    RemoveTrayIcon();
    // The host goes before the poster its watch thread calls.
    m_pHost.reset();
}

BOOL CMainDlg::ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD dwMsgMapID) {
    if (dwMsgMapID != 0) return FALSE;
    switch (uMsg) {
        case WM_INITDIALOG:
            lResult = OnInitDialog();
            return TRUE;
        case WM_WINDOWPOSCHANGING:
            // Left unhandled on purpose: the default processing that follows is
            // what enforces the minimum tracking size.
            OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam));
            return FALSE;
        case WM_CLOSE:
            lResult = OnClose();
            return TRUE;
        case WM_COMMAND:
            if (ProcessCommand(LOWORD(wParam), lResult)) return TRUE;
            break;
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) != m_hLogEdit || m_hLogEdit == nullptr) break;
            lResult = OnLogContextMenu(lParam);
            return TRUE;
        case WM_APP_OUTPUT:
            OnOutputReady(false);
            EndSilenceNote();
            lResult = 0;
            return TRUE;
        case WM_APP_WATCHDOG:
            if (const std::unique_ptr<WatchdogFinding> spFinding = CAgentWatchdog::Take(lParam))
                OnWatchdogFinding(*spFinding);
            lResult = 0;
            return TRUE;
        case WM_APP_WATCHDOG_SETTINGS:
            OnWatchdogSettings();
            lResult = 0;
            return TRUE;
        case WM_POWERBROADCAST:
            OnPowerBroadcast(wParam);
            lResult = TRUE;
            return TRUE;
        case WM_APP_JOURNAL:
            OnJournalTrouble();
            lResult = 0;
            return TRUE;
        case WM_APP_DIAGNOSTICS:
            OnDiagnosticsDone(static_cast<DWORD>(wParam));
            lResult = 0;
            return TRUE;
        case WM_APP_AGENT_EVENT:
            if (const std::unique_ptr<AgentEvent> spEvent = CAgentEventPoster::Take(lParam))
                OnAgentEvent(*spEvent);
            lResult = 0;
            return TRUE;
        case WM_TIMER:
            if (wParam != IDT_OUTPUT_SYNC) break;
            OnOutputReady(true);
            lResult = 0;
            return TRUE;
        case WM_QUERYENDSESSION:
            // A console agent ends with the session by itself: nothing may
            // start it again from here on.
            if (m_pHost) m_pHost->HoldLaunches(true);
            lResult = TRUE;
            return TRUE;
        case WM_ENDSESSION:
            if (m_pHost && !m_bExiting) {
                if (wParam)
                    m_pHost->EndSession(m_hWnd);
                else
                    m_pHost->HoldLaunches(false);  // the session goes on after all
            }
            // Asked to close (an installer, servicing: the Restart Manager),
            // not signed out: the process ends by itself, as after Exit.
            if (wParam && (lParam & ENDSESSION_CLOSEAPP) != 0 && !m_bExiting) FinishAfterSessionEnd();
            lResult = 0;
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        case WM_DPICHANGED:
            lResult = OnDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        case WM_SYSCOLORCHANGE:
            OnSystemColoursChanged();
            return FALSE;
        case WM_SETTINGCHANGE:
            // A high-contrast theme switched on or off, or the scale changed.
            OnSystemColoursChanged();
            FollowTaskbarDpi();
            return FALSE;
        case WM_DISPLAYCHANGE:
            FollowTaskbarDpi();
            return FALSE;
        default:
            break;
    }
    if (m_logFind.IsFindMessage(uMsg)) {
        m_logFind.OnFindMessage(m_hWnd, m_hLogEdit);
        lResult = 0;
        return TRUE;
    }
    if (IsCtlColorMessage(uMsg)) {
        lResult = OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    }
    if (ProcessTrayMessage(hWnd, uMsg, wParam, lParam, lResult)) return TRUE;
    return ProcessResizeMessage(hWnd, uMsg, wParam, lParam, lResult);
}

BOOL CMainDlg::ProcessCommand(WORD id, LRESULT& lResult) {
    lResult = 0;
    if (OnWatchdogCommand(id)) return TRUE;
    switch (id) {
        case ID_HIDE:
            OnHide();
            return TRUE;
        case ID_AGENT_START:
            OnAgentStart();
            return TRUE;
        case ID_AGENT_STOP:
            OnAgentStop();
            return TRUE;
        case ID_SHOW_WINDOW:
            OnShowWindow();
            return TRUE;
        case ID_APP_ABOUT:
            OnAppAbout();
            return TRUE;
        case ID_APP_HISTORY:
            OnAppHistory();
            return TRUE;
        case ID_APP_EXIT:
            OnAppExit();
            return TRUE;
        case ID_LOG_COPY:
            OnLogCopy();
            return TRUE;
        case ID_LOG_SELECT_ALL:
            OnLogSelectAll();
            return TRUE;
        case ID_LOG_SAVE_AS:
            OnLogSaveAs();
            return TRUE;
        case ID_LOG_OPEN_FOLDER:
            OnLogOpenFolder();
            return TRUE;
        case ID_LOG_CLEAR:
            OnLogClear();
            return TRUE;
        case ID_LOG_SAVE_DIAGNOSTICS: {
            // The history window sends it too: the Save dialog goes over the
            // window in front.
            const HWND hHistory = HistoryWindowHandle();
            OnLogSaveDiagnostics(hHistory != nullptr && ::GetForegroundWindow() == hHistory ? hHistory
                                                                                            : m_hWnd);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

BOOL CMainDlg::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (::GetKeyState(VK_CONTROL) & 0x80) != 0 &&
        (pMsg->wParam == kKeyA || pMsg->wParam == kKeyNumpad1)) {
        ::SendMessageW(m_hLogEdit, EM_SETSEL, 0, -1);
        ::SendMessageW(m_hLogEdit, EM_SCROLLCARET, 0, 0);
    }
    if (m_logFind.OnKey(*pMsg, m_hWnd, m_hLogEdit)) return TRUE;
    if (m_logFind.PreTranslate(pMsg)) return TRUE;
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

std::wstring CMainDlg::ReadModuleDir() const {
    const std::wstring path = GetOwnModulePath(nullptr);
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

void CMainDlg::SetInitialTexts() {
    ::SetWindowTextW(m_hWnd, LoadResString(IDR_MAINFRAME).c_str());
    ::SetDlgItemTextW(m_hWnd, IDC_LOG_LABEL, LoadResString(IDS_LOG_LABEL).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_START,
                      LoadResString(IsAgentStopRequested() ? IDS_START : IDS_RESTART).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_STOP).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_HIDE, LoadResString(IDS_HIDE).c_str());
}

LRESULT CMainDlg::OnInitDialog() {
    InitDpi();
    CenterDialog();
    LoadWindowIcons();
    LoadTrayIcons();
    InitDialogResize(true, true, WS_CLIPCHILDREN);
    AddTrayIcon(m_hWnd, LoadResString(IDS_TRAY_TIP).c_str(), m_hIconRunning.get(), m_hIconStopped.get());
    RefreshTrayTip();
    m_hLogEdit = GetDlgItem(IDC_LOG_EDIT);
    InitLogMenu();
    m_strModuleDir = ReadModuleDir();
    SetInitialTexts();

    m_pEventPoster = std::make_unique<CAgentEventPoster>(m_hWnd, WM_APP_AGENT_EVENT);
    m_pHost = std::make_unique<CAgentHost>(m_strModuleDir, *m_pEventPoster);
    CAgentHost::WindowShare share = m_pHost->ShareWithWindow();
    m_spOutput = std::move(share.spOutput);
    m_spJournal = std::move(share.spJournal);
    // Before the agent starts; its events reach the window as messages.
    m_pTroubleNotice = std::make_unique<CTroubleNotice>(*this, m_pHost->AgentPath());
    m_pHost->Begin(LogViewTarget(m_hWnd, m_hLogEdit),
                   WatchdogTarget{m_hWnd, WM_APP_WATCHDOG, WM_APP_WATCHDOG_SETTINGS});
    ShowWatching();
    m_pHost->WatchJournal(m_hWnd, WM_APP_JOURNAL);
    if (m_pHost->IsOutputImpossible()) ShowPipeTooLong();
    if (m_pHost->HasNoPipeServer()) ShowNoPipeServer(m_pHost->PipeServerError());
    RegisterForRestart();

    if (CMessageLoop* pLoop = g_Module.GetMessageLoop()) pLoop->AddMessageFilter(this);
    // Started hidden, no control takes the focus yet: the log's caret would
    // blink in a window nobody sees, a wake-up twice a second for as long as
    // the supervisor runs. The first activation focuses the log as usual.
    return m_bStartHidden ? FALSE : TRUE;
}

LRESULT CMainDlg::OnWindowPosChanging(WINDOWPOS* pPos) {
    // Under "starthide" nothing may show the window until the tray does,
    // nor make it the active window: a window nobody sees would take the
    // keyboard from the window the user is in.
    if (pPos != nullptr && m_bStartHidden && !m_bWindowShown && (pPos->flags & SWP_SHOWWINDOW) != 0)
        pPos->flags = (pPos->flags & ~SWP_SHOWWINDOW) | SWP_NOACTIVATE | SWP_NOZORDER;
    return 1;
}

LRESULT CMainDlg::OnClose() {
    ShowWindow(SW_HIDE);
    return 1;
}

LRESULT CMainDlg::OnHide() {
    ShowWindow(SW_HIDE);
    return 0;
}

LRESULT CMainDlg::OnCtlColor(HDC hdc, HWND hCtl) {
    if (hCtl == nullptr || ::GetDlgCtrlID(hCtl) != IDC_LOG_EDIT) return 0;
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, m_crLogText);
    return reinterpret_cast<LRESULT>(m_hLogBrush.get());
}

LRESULT CMainDlg::OnAgentStart() {
    if (m_bExiting || !m_pHost) return 0;
    m_pHost->StartByUser();
    // A user's command ends a trouble episode.
    if (m_pTroubleNotice) m_pTroubleNotice->OnUserAction();
    OnWatchdogUserAction();
    return 0;
}

LRESULT CMainDlg::OnAgentStop() {
    if (!m_pHost) return 0;
    m_pHost->StopByUser();
    if (m_pTroubleNotice) m_pTroubleNotice->OnUserAction();
    OnWatchdogUserAction();
    return 0;
}

LRESULT CMainDlg::OnShowWindow() {
    ShowMainWindow(!IsMainWindowShown());
    return 0;
}

LRESULT CMainDlg::OnAppAbout() {
    ShowAboutBox(::GetActiveWindow());
    return 0;
}

LRESULT CMainDlg::OnAppHistory() {
    ShowHistory(nullptr);
    return 0;
}

void CMainDlg::ShowHistory(const HistorySelection* pSelect) {
    if (!m_spJournal) return;
    ShowHistoryWindow(JournalSource{m_spJournal->Folder(), m_spJournal->FileName()}, m_hWnd, pSelect);
}

LRESULT CMainDlg::OnAppExit() {
    // A second Exit queued behind the first has nothing to add.
    if (m_bExiting) return 0;
    m_bExiting = true;
    if (m_pTroubleNotice) m_pTroubleNotice->OnUserAction();
    OnWatchdogUserAction();
    // Gone from the screen at once; the end that follows may take the grace.
    ShowWindow(SW_HIDE);
    RemoveTrayIcon();
    if (m_pHost) {
        m_pHost->BeginExit();
        // The agent's windows may send to ours while they close (a broadcast
        // waits for every top-level window): messages are served meanwhile.
        ServeMessagesUntil([this] { return m_pHost->HasWatchEnded(); }, CAgentSupervisor::kJoinBoundMs);
        m_pHost->FinishExit();
    }
    DestroyWindow();
    ::PostQuitMessage(1);
    return 0;
}

void CMainDlg::ServeMessagesUntil(const std::function<bool()>& done, DWORD boundMs) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= boundMs) return;
        // Woken by any message, else it looks again every 20 ms.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(20, boundMs - waited), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns it
                return;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CMainDlg::FinishAfterSessionEnd() {
    m_bExiting = true;
    RemoveTrayIcon();
    m_pHost.reset();  // its end was written by EndSession; the watch is joined
    DestroyWindow();
    ::PostQuitMessage(1);
}

LRESULT CMainDlg::OnDestroy() {
    // The history window's readers end before the journal they read goes.
    CloseHistoryWindow();
    // From here on the pipe readers keep their text to themselves. The host
    // ends supervision before the records still queued are freed: after its
    // end no more are posted.
    if (m_pHost) m_pHost->DetachView();
    m_pHost.reset();
    m_spOutput.reset();
    m_spJournal.reset();
    CAgentEventPoster::Drain(m_hWnd, WM_APP_AGENT_EVENT);
    CAgentWatchdog::Drain(m_hWnd, WM_APP_WATCHDOG);
    return 0;
}

bool CMainDlg::IsMainWindowShown() const {
    return ::IsWindowVisible(m_hWnd) && !::IsIconic(m_hWnd) && m_bWindowShown;
}

void CMainDlg::ShowMainWindow(bool bShow) {
    if (!bShow) {
        ShowWindow(SW_HIDE);
        return;
    }
    const LRESULT lines = ::SendMessageW(m_hLogEdit, EM_GETLINECOUNT, 0, 0);
    ::SendMessageW(m_hLogEdit, EM_LINESCROLL, 0, lines);
    m_bWindowShown = TRUE;

    HWND foreground = ::GetForegroundWindow();
    const DWORD foregroundThread = ::GetWindowThreadProcessId(foreground, nullptr);
    const DWORD ownThread = ::GetCurrentThreadId();
    ::AttachThreadInput(foregroundThread, ownThread, TRUE);
    if (!::IsWindowVisible(m_hWnd)) ShowWindow(SW_SHOW);
    if (::IsIconic(m_hWnd)) ShowWindow(SW_RESTORE);
    ::SetForegroundWindow(m_hWnd);
    ::AttachThreadInput(foregroundThread, ownThread, FALSE);
}
