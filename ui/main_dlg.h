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
#include "ui/dpi_rules.h"
#include "ui/tray_icon.h"

class COutputSink;
class CJournal;
class CAgentJournalListener;
class CTroubleNotice;

// Posted by the output sink when text is waiting for the log view.
constexpr UINT WM_APP_OUTPUT = WM_APP + 1;
// The timer that brings a sync back once input and painting have been handled.
constexpr UINT_PTR IDT_OUTPUT_SYNC = 0x4F53;

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
    void OnLaunchFailed(DWORD error) override;
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override;
    void OnWatchEnded() override;

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

public:
    // Threads: unless a member says otherwise it is touched by the UI thread
    // only, or written in OnInitDialog before any worker thread starts and
    // read-only after.
    HWND m_hLogEdit = nullptr;
    // The window's icons at the window's DPI; replaced when it changes.
    CIconHandle m_hIconLarge;
    CIconHandle m_hIconSmall;
    CBrushHandle m_hLogBrush;  // the log view's background; see ApplyLogColours
    COLORREF m_crLogText = 0;
    CHandle m_hPipeThread;  // a mark only; never waited on
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

    const BOOL m_bStartHidden;
    BOOL m_bWindowShown;  // UI thread only
};
