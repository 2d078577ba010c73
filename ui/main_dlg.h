// The supervisor's one window and the home of its whole state.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "framework/critical_section.h"
#include "framework/dialog_impl.h"
#include "framework/dialog_resize.h"
#include "framework/handle.h"
#include "framework/message_loop.h"
#include "resource.h"
#include "ui/tray_icon.h"

class COutputSink;

// Posted by the output sink when text is waiting for the log view.
constexpr UINT WM_APP_OUTPUT = WM_APP + 1;
// The timer that brings a sync back once input and painting have been handled.
constexpr UINT_PTR IDT_OUTPUT_SYNC = 0x4F53;

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
    bool IsMainWindowShown() const;

    // ---- Layout (ui/layout_rules.cpp): the resize table for CDialogResize ----
    static const DlgResizeEntry* GetDlgResizeMap() { return MainDlgResizeMap(); }

    // ---- Agent supervision (agent/agent_watch.cpp, agent/process_tree.cpp) ----
    void StartAgent();
    // Stop and Exit: keep the agent stopped, end a back-off wait, end the tree.
    void StopAgent();
    // A handle of our own on the watch thread for Exit's wait; empty when none.
    CHandle DuplicateWatchThread();
    void WatchAgent();
    static unsigned __stdcall WatchAgentThreadProc(void* pv);
    std::wstring GetAgentPath() const;
    std::wstring GetAgentDir() const;
    void KillAgentTree();

    // ---- Output (agent/pipe_server.cpp, agent/output_view.cpp) ----
    void StartPipeServer();
    void OnOutputReady(bool bFromTimer);

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

    // Atomic; written by the UI thread (Start, Stop, Exit), read by the watch
    // thread before every launch and again right after it.
    std::atomic<BOOL> m_bStopRequested{TRUE};
    // Guards m_hWatchThread and m_nStartRequests: the test-and-create in
    // StartAgent and the watch thread's decision to end are exclusive. Never
    // held across a window call: the watch thread's button updates are
    // carried out by the UI thread, which may be waiting for this lock.
    CCriticalSection m_csAgent;
    HANDLE m_hWatchThread = nullptr;  // guarded by m_csAgent; closed by the watch thread as it ends
    unsigned m_nStartRequests = 0;    // guarded by m_csAgent; counts StartAgent calls
    // Manual-reset; created by the first StartAgent before any watch thread
    // exists and never replaced. Set by Start/Stop/Exit to end a back-off
    // wait, reset by the watch thread at the top of each cycle.
    CHandle m_hWakeEvent;
    // m_hWnd is read by the watch thread for its button updates; Exit waits
    // for that thread before the window is destroyed.

    // Set when Exit begins: a Start still queued behind it must not bring the
    // agent back while Exit waits for the watch thread. UI thread only.
    bool m_bExiting = false;

    const BOOL m_bStartHidden;
    BOOL m_bWindowShown;  // UI thread only
};
