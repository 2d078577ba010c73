// The supervisor's one window and the home of its whole state.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "agent/agent_supervisor.h"
#include "framework/critical_section.h"
#include "framework/dialog_impl.h"
#include "framework/dialog_resize.h"
#include "framework/handle.h"
#include "framework/message_loop.h"
#include "resource.h"
#include "ui/tray_icon.h"
#include "ui/tray_tip_rules.h"

class COutputSink;
class CJournal;
class CAgentJournalListener;
class CTroubleNotice;

// Posted by the output sink when text is waiting for the log view.
constexpr UINT WM_APP_OUTPUT = WM_APP + 1;
// The timer that brings a sync back once input and painting have been handled.
constexpr UINT_PTR IDT_OUTPUT_SYNC = 0x4F53;

// The local time of day delayMs from now, for the tooltip.
ClockTime LocalClockTime(DWORD delayMs = 0);

class CMainDlg : public CDialogImpl<CMainDlg>,
                 public CTrayIconImpl<CMainDlg>,
                 public CMessageFilter,
                 public CDialogResize<CMainDlg>,
                 public CAgentSupervisor,
                 public CAgentListener {
public:
    enum { IDD = IDD_MAINDLG };

    explicit CMainDlg(bool bStartHidden);
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                              DWORD dwMsgMapID) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Tray hooks (ui/main_dlg.cpp, ui/main_dlg_tray.cpp).
    void ShowMainWindow(bool bShow) override;
    void UpdateTrayMenu(HMENU hMenu) override;
    bool IsMainWindowShown() const;

    // ---- Layout (ui/layout_rules.cpp): the resize table for CDialogResize ----
    static const DlgResizeEntry* GetDlgResizeMap() { return MainDlgResizeMap(); }

    // ---- Agent supervision: CAgentSupervisor (agent/agent_watch.cpp) keeps
    // the agent running; the dialog listens (ui/main_dlg_agent.cpp) ----
    std::wstring GetAgentPath() const override;
    std::wstring GetAgentDir() const override;
    void OnAgentStarted(DWORD pid) override;
    void OnAgentExited(DWORD exitCode, DWORD runMs) override;
    void OnAgentStopping() override;
    void OnAgentStopEnded(StopOutcome outcome, DWORD elapsedMs) override;
    void OnLaunchFailed(DWORD error) override;
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override;
    void OnAgentMissing(const std::wstring& path) override;
    void OnWatchEnded() override;

    // ---- The tray tooltip (ui/main_dlg_tip.cpp); UI thread only ----
    // The agent's line, under the title.
    void ShowAgentState(AgentStateLine line);
    // A line about the supervisor itself under the agent's, in the slot of
    // its string id (textId); an empty text removes it.
    void SetTrayNote(UINT textId, std::wstring text);
    void RefreshTrayTip();

    // ---- Output (agent/pipe_server.cpp, agent/output_view.cpp) ----
    void StartPipeServer();
    void OnOutputReady(bool bFromTimer);

    // ---- The log view's context menu (ui/main_dlg_log.cpp) ----
    void InitLogMenu();
    LRESULT OnLogContextMenu(LPARAM lParam);
    void OnLogCopy();
    void OnLogSelectAll();
    void OnLogSaveAs();
    // The view's text as UTF-8 with a byte-order mark; false when not written.
    bool SaveLogText(const std::wstring& path);
    void OnLogOpenFolder();
    void OnLogClear();

private:
    // Message handlers (ui/main_dlg.cpp).
    LRESULT OnInitDialog();
    LRESULT OnWindowPosChanging(WINDOWPOS* pPos);
    LRESULT OnClose();
    LRESULT OnCtlColor(HDC hdc, HWND hCtl);
    LRESULT OnHide();
    LRESULT OnAgentStart();
    LRESULT OnAgentStop();
    LRESULT OnShowWindow();
    LRESULT OnAppAbout();
    LRESULT OnAppExit();
    LRESULT OnDestroy();
    BOOL ProcessCommand(WORD id, LRESULT& lResult);
    void SetInitialTexts();
    void StartJournal();
    void CloseJournal();
    // A user's command: into the journal, and the end of a trouble episode.
    void NoteUserCommand(const wchar_t* text);
    void LoadIcons();
    std::wstring ReadModuleDir() const;

public:
    // Threads: unless a member says otherwise it is touched by the UI thread
    // only, or written in OnInitDialog before any worker thread starts and
    // read-only after.
    HWND m_hLogEdit = nullptr;
    CIconHandle m_hIconLarge;  // the window's big icon, owned for its life
    CBrushHandle m_hLogBrush;
    COLORREF m_crLogText = 0;
    CHandle m_hPipeThread;        // a mark only; never waited on
    CIconHandle m_hIconRunning;   // read by the watch thread
    CIconHandle m_hIconStopped;   // read by the watch thread; may be empty
    std::wstring m_strModuleDir;  // with its trailing backslash
    std::wstring m_strPipeName;
    // Output sink shared with the pipe readers; it outlives the dialog for them.
    std::shared_ptr<COutputSink> m_spOutput;

    // The agent's journal, shared with the output sink (whose readers may
    // outlive the dialog) and its event listener; created in OnInitDialog.
    std::shared_ptr<CJournal> m_spJournal;
    std::unique_ptr<CAgentJournalListener> m_pJournalListener;
    std::unique_ptr<CTroubleNotice> m_pTroubleNotice;
    // m_hWnd is read by the watch thread (through the listener calls) for its
    // button updates; Exit waits for that thread before the window is destroyed.

    // Set when Exit begins: a Start still queued behind it must not bring the
    // agent back while Exit waits for the watch thread. UI thread only.
    bool m_bExiting = false;

    // What the tooltip says; UI thread only.
    AgentStateLine m_agentState;
    TrayNotes m_trayNotes;
    // Runs in a row too short to count as settled, for the pause's line.
    unsigned m_nQuickExits = 0;

    const BOOL m_bStartHidden;
    BOOL m_bWindowShown;  // UI thread only
};
