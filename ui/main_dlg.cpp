// The main dialog: its message map, initialisation and command handlers.
#include "ui/main_dlg.h"

#include "agent/journal.h"
#include "agent/journal_events.h"
#include "agent/journal_rules.h"
#include "agent/output_sink.h"
#include "app/instance_guard.h"
#include "app/name_rules.h"
#include "framework/app_module.h"
#include "framework/debug_trace.h"
#include "framework/strings.h"
#include "framework/wait.h"
#include "ui/about_dlg.h"
#include "ui/trouble_notice.h"

namespace {
constexpr DWORD kModulePathCapacity = 4096;
constexpr WPARAM kKeyA = 0x41;
constexpr WPARAM kKeyNumpad1 = 0x61;  // what Ctrl+A can arrive as on some layouts
// How long Exit waits for the agent to end before it leaves without it: the
// grace an asked agent has, then as long again as a forced end may take.
constexpr DWORD kExitPatienceMs = kStopGraceMs + 5000;
// How long Exit waits for the journal's queue to reach the disk.
constexpr DWORD kJournalPatienceMs = 5000;
#ifdef _WIN64
constexpr const wchar_t* kArchitecture = L"64-bit";
#else
constexpr const wchar_t* kArchitecture = L"32-bit";
#endif

HICON LoadIconAtSize(int id, int cxMetric, int cyMetric) {
    return static_cast<HICON>(::LoadImageW(g_Module.GetResourceInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                           ::GetSystemMetrics(cxMetric), ::GetSystemMetrics(cyMetric),
                                           LR_DEFAULTCOLOR));
}

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
    : m_hLogBrush(::CreateSolidBrush(RGB(255, 255, 255))),
      m_bStartHidden(bStartHidden ? TRUE : FALSE),
      m_bWindowShown(bStartHidden ? FALSE : TRUE) {
    // The buttons and the icon follow the agent from the first start on.
    AddAgentListener(this);
}

CMainDlg::~CMainDlg() {
    // A window that outlives its object would call into freed memory.
    if (IsWindow()) DestroyWindow();
    RemoveTrayIcon();
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
            lResult = 0;
            return TRUE;
        case WM_TIMER:
            if (wParam != IDT_OUTPUT_SYNC) break;
            OnOutputReady(true);
            lResult = 0;
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            break;
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
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

void CMainDlg::LoadIcons() {
    m_hIconLarge.reset(LoadIconAtSize(IDR_MAINFRAME, SM_CXICON, SM_CYICON));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIconLarge.get()));
    m_hIconRunning.reset(LoadIconAtSize(IDR_MAINFRAME, SM_CXSMICON, SM_CYSMICON));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconRunning.get()));
    m_hIconStopped.reset(LoadIconAtSize(IDI_AGENT_STOPPED, SM_CXSMICON, SM_CYSMICON));
}

std::wstring CMainDlg::ReadModuleDir() const {
    std::wstring path(kModulePathCapacity, L'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], kModulePathCapacity);
    path.resize(n < kModulePathCapacity ? n : kModulePathCapacity - 1);
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

void CMainDlg::SetInitialTexts() {
    ::SetWindowTextW(m_hWnd, LoadResString(IDR_MAINFRAME).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_START,
                      LoadResString(m_bStopRequested ? IDS_START : IDS_RESTART).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_AGENT_STOP, LoadResString(IDS_STOP).c_str());
    ::SetDlgItemTextW(m_hWnd, ID_HIDE, LoadResString(IDS_HIDE).c_str());
}

LRESULT CMainDlg::OnInitDialog() {
    CenterDialog();
    LoadIcons();
    InitDialogResize(true, true, WS_CLIPCHILDREN);
    AddTrayIcon(m_hWnd, LoadResString(IDS_TRAY_TIP).c_str(), m_hIconRunning.get(), m_hIconStopped.get());
    RefreshTrayTip();
    m_hLogEdit = GetDlgItem(IDC_LOG_EDIT);
    InitLogMenu();
    m_strModuleDir = ReadModuleDir();
    m_strPipeName = MakePipeName(GetAgentPath());
    SetInitialTexts();

    StartJournal();
    m_pTroubleNotice = std::make_unique<CTroubleNotice>(*this);
    AddAgentListener(m_pTroubleNotice.get());

    // The sink exists before the pipe server, which exists before the agent:
    // the agent may connect and write at once.
    m_spOutput = std::make_shared<COutputSink>();
    m_spOutput->Attach(m_hWnd, m_hLogEdit);
    m_spOutput->SetJournal(m_spJournal);
    StartPipeServer();
    StartAgent();

    if (CMessageLoop* pLoop = g_Module.GetMessageLoop()) pLoop->AddMessageFilter(this);
    // Started hidden, no control takes the focus yet: the log's caret would
    // blink in a window nobody sees, a wake-up twice a second for as long as
    // the supervisor runs. The first activation focuses the log as usual.
    return m_bStartHidden ? FALSE : TRUE;
}

void CMainDlg::StartJournal() {
    std::wstring folder = m_strModuleDir;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    m_spJournal =
        std::make_shared<CJournal>(CJournal::DefaultFolder(), JournalFileName(CanonicalPath(folder)));
    m_spJournal->Start();
    m_pJournalListener = std::make_unique<CAgentJournalListener>(m_spJournal, GetAgentPath());
    AddAgentListener(m_pJournalListener.get());
    m_pJournalListener->Note(std::wstring(L"supervisor started: version ") + TOLLVANE_VERSION_LABEL + L", " +
                             kArchitecture + L", agent " + GetAgentPath());
}

// The last entry, after the watch thread's; then the queue is written out.
void CMainDlg::CloseJournal() {
    if (!m_spJournal) return;
    m_pJournalListener->Note(L"supervisor exiting");
    m_spJournal->Close(kJournalPatienceMs);
}

void CMainDlg::NoteUserCommand(const wchar_t* text) {
    if (m_pJournalListener) m_pJournalListener->Note(text);
    if (m_pTroubleNotice) m_pTroubleNotice->OnUserAction();
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
    if (m_bExiting) return 0;
    NoteUserCommand(m_bStopRequested ? L"Start by the user" : L"Restart by the user");
    StartAgent();
    return 0;
}

LRESULT CMainDlg::OnAgentStop() {
    NoteUserCommand(L"Stop by the user");
    StopAgent();
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

LRESULT CMainDlg::OnAppExit() {
    // A second Exit dispatched inside the wait below has nothing to add.
    if (m_bExiting) return 0;
    m_bExiting = true;
    NoteUserCommand(L"Exit by the user");
    StopAgent();
    // The watch thread's last button and icon updates are sent to this
    // thread, so the wait has to keep dispatching.
    CHandle watchThread = DuplicateWatchThread();
    if (watchThread && !AtlWaitWithMessageLoop(watchThread.get(), kExitPatienceMs)) {
        // An agent neither the tree walk nor the launch handle could end
        // keeps the watch thread waiting. The thread still points at this
        // dialog, so the orderly teardown cannot run: leave at once, taking
        // the icon down first.
        DebugTrace(L"Exit: the agent did not end; leaving without it");
        RemoveTrayIcon();
        CloseJournal();
        ::ExitProcess(1);
    }
    // The watch thread's last events are queued by now; the readers' later
    // ones are dropped.
    CloseJournal();
    DestroyWindow();
    ::PostQuitMessage(1);
    return 0;
}

LRESULT CMainDlg::OnDestroy() {
    // From here on the pipe readers keep their text to themselves.
    if (m_spOutput) m_spOutput->Detach();
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
