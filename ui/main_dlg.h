// The supervisor's one window: the dialog, its tray icon, its layout and the
// log view. What runs the agent, feeds the view and keeps the journal is the
// window-less CAgentHost, which the dialog holds and listens to.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "framework/dialog_impl.h"
#include "framework/dialog_resize.h"
#include "framework/handle.h"
#include "framework/message_loop.h"
#include "resource.h"
#include "ui/dpi_rules.h"
#include "ui/history_window.h"
#include "ui/layout_rules.h"
#include "ui/log_find.h"
#include "ui/tray_icon.h"
#include "ui/tray_tip_rules.h"

class CAgentEventPoster;
class CAgentHost;
class CJournal;
class COutputSink;
class CTroubleNotice;
struct AgentEvent;

// Posted by the output sink when text is waiting for the log view.
constexpr UINT WM_APP_OUTPUT = WM_APP + 1;
// Posted by the journal's writer when it can no longer write, or can again.
constexpr UINT WM_APP_JOURNAL = WM_APP + 40;
// Posted by the watch thread for each event of the agent's life; lParam is
// an AgentEvent the message owns.
constexpr UINT WM_APP_AGENT_EVENT = WM_APP + 2;
// Posted by the thread that writes a diagnostics bundle when it is done;
// wParam is 0 or the system's error.
constexpr UINT WM_APP_DIAGNOSTICS = WM_APP + 41;
// The timer that brings a sync back once input and painting have been handled.
constexpr UINT_PTR IDT_OUTPUT_SYNC = 0x4F53;

// The local time of day delayMs from now, for the tooltip.
ClockTime LocalClockTime(DWORD delayMs = 0);

class CMainDlg : public CDialogImpl<CMainDlg>,
                 public CTrayIconImpl<CMainDlg>,
                 public CMessageFilter,
                 public CDialogResize<CMainDlg> {
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
    // A click on the balloon: the history, at the run the balloon named.
    void OnTrayBalloonClicked() override;
    // A balloon with the product's title; pRun: the run it is about, if any.
    void ShowBalloon(const std::wstring& text, const HistorySelection* pRun);
    bool IsMainWindowShown() const;

    // ---- Layout (ui/layout_rules.cpp): the resize table for CDialogResize ----
    static const DlgResizeEntry* GetDlgResizeMap() { return MainDlgResizeMap(); }

    // ---- The agent's life as the window shows it (ui/main_dlg_agent.cpp) ----
    // True while no agent is wanted: before the host exists, after a Stop.
    bool IsAgentStopRequested() const;
    void OnAgentEvent(const AgentEvent& event);
    // The supervisor's notes about the output pipe: a balloon once, and a
    // tooltip line for as long as it holds.
    void ShowPipeHeld(bool bHeld);
    void ShowPipeTooLong();

    // ---- The tray tooltip (ui/main_dlg_tray.cpp); UI thread only ----
    // The agent's line, under the title.
    void ShowAgentState(AgentStateLine line);
    // A line about the supervisor itself under the agent's, in the slot of
    // its string id (textId); an empty text removes it.
    void SetTrayNote(UINT textId, std::wstring text);
    void RefreshTrayTip();

    // ---- Output (ui/output_view.cpp) ----
    COutputSink* Output();
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
    // Save diagnostics: where the user picks, then written on a thread of its
    // own; hOwner is the window the Save dialog belongs to.
    void OnLogSaveDiagnostics(HWND hOwner);
    void OnDiagnosticsDone(DWORD error);
    // WM_APP_JOURNAL: once per trouble, a line in the view says what the
    // journal cannot do.
    void OnJournalTrouble();

    // ---- The history window (ui/history_window.cpp) ----
    // Opens it on this supervisor's journal, or brings it forward; with
    // pSelect, that run is selected once it has been read.
    void ShowHistory(const HistorySelection* pSelect);

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
    LRESULT OnAppHistory();
    LRESULT OnAppExit();
    LRESULT OnDestroy();
    BOOL ProcessCommand(WORD id, LRESULT& lResult);
    void SetInitialTexts();
    void ShowAgentButtons(bool bRunning);
    std::wstring ReadModuleDir() const;

    // DPI and theme (ui/main_dlg_dpi.cpp).
    void InitDpi();
    LRESULT OnDpiChanged(UINT dpi, const RECT* pSuggested);
    void RelayoutForDpi(UINT dpi);
    void LoadWindowIcons();
    void LoadTrayIcons();
    void FollowTaskbarDpi();
    void ApplyLogColours();
    void OnSystemColoursChanged();

private:
    // Everything below is touched by the UI thread only; no worker thread
    // calls into the dialog, they post to it.
    HWND m_hLogEdit = nullptr;
    // The window's icons at the window's DPI; replaced when it changes.
    CIconHandle m_hIconLarge;
    CIconHandle m_hIconSmall;
    CBrushHandle m_hLogBrush;  // the log view's background; see ApplyLogColours
    COLORREF m_crLogText = 0;
    // The tray images at the primary monitor's DPI (the taskbar's), which
    // may differ from the window's; replaced when it changes.
    CIconHandle m_hIconRunning;
    CIconHandle m_hIconStopped;  // may be empty
    UINT m_uDpi = 96;            // the DPI the window is laid out for
    UINT m_uTrayDpi = 96;        // the DPI the tray images were loaded for
    // The main dialog's template, read once, to lay the window out again at
    // another DPI; empty if it could not be read (then only the window moves).
    DialogTemplateInfo m_template;
    // The controls' font at m_uDpi once the DPI has changed; until then the
    // dialog manager's own.
    CFontHandle m_hDialogFont;
    std::wstring m_strModuleDir;  // with its trailing backslash

    // Posts the agent's events to this window; created before the host,
    // which the watch thread calls it through, and destroyed after it.
    std::unique_ptr<CAgentEventPoster> m_pEventPoster;
    // The agent, its output and its journal; created in OnInitDialog, ended
    // at Exit or when the window goes.
    std::unique_ptr<CAgentHost> m_pHost;
    // The host's output sink and journal, shared with it from the start and
    // let go of with it.
    std::shared_ptr<COutputSink> m_spOutput;
    std::shared_ptr<const CJournal> m_spJournal;
    std::unique_ptr<CTroubleNotice> m_pTroubleNotice;
    int m_nJournalTroubleSaid = 0;  // the JournalTrouble the view last heard of
    // How the agent is held, as the journal words it; for the diagnostics.
    std::wstring m_strHeld;
    // The bundle being written, while one is; one at a time.
    std::wstring m_strDiagnosticsPath;
    HWND m_hDiagnosticsOwner = nullptr;
    // The run the last balloon named, for its click.
    HistorySelection m_balloonRun;
    bool m_bBalloonNamesRun = false;
    // Ctrl+F, F3 and Shift+F3 in the log view.
    CLogFind m_logFind;

    // Set when Exit begins: a Start still queued behind it must not bring the
    // agent back.
    bool m_bExiting = false;

    // What the tooltip says; UI thread only.
    AgentStateLine m_agentState;
    TrayNotes m_trayNotes;
    // Runs in a row too short to count as settled, for the pause's line.
    unsigned m_nQuickExits = 0;

    const BOOL m_bStartHidden;
    BOOL m_bWindowShown;
};

// Sets the tray menu's texts and Stop's state for the agent's and the
// window's state; the dialog calls it each time the menu opens.
void PrepareTrayMenu(HMENU hMenu, bool bStopRequested, bool bWindowShown);
