// The tray balloon as a listener of the agent's life: a crash loop or a
// missing agent file is told once per episode (ui/tray_rules.h).
#pragma once

#include <cwchar>
#include <string>

#include "agent/agent_supervisor.h"
#include "agent/relaunch_rules.h"
#include "framework/critical_section.h"
#include "framework/strings.h"
#include "resource.h"
#include "supervision/exit_texts.h"
#include "ui/tray_rules.h"

template <typename TTray>
class CTroubleNoticeImpl : public CAgentListener {
public:
    explicit CTroubleNoticeImpl(TTray& tray) : m_tray(tray) {}

    // Watch thread.
    void OnAgentExited(DWORD exitCode, DWORD runMs) override {
        CLockGuard lock(m_cs);
        m_episode.OnRunEnded(runMs);
        m_lastExitCode = exitCode;
    }
    void OnLaunchFailed(DWORD error) override {
        CLockGuard lock(m_cs);
        m_lastLaunchError = error;
    }
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override {
        if (reason == AgentPauseReason::LaunchFailed) {
            if (Decide([&] { return m_episode.OnLaunchFailurePause(pauseMs); }) == TroubleNotice::None)
                return;
            DWORD error = 0;
            {
                CLockGuard lock(m_cs);
                error = m_lastLaunchError;
            }
            Show(Filled(IDS_BALLOON_LAUNCH_FAILED, L"{reason}",
                        LaunchErrorText(error, m_tray.GetAgentPath())));
            return;
        }
        if (Decide([&] { return m_episode.OnCrashLoopPause(pauseMs); }) == TroubleNotice::None) return;
        DWORD exitCode = 0;
        {
            CLockGuard lock(m_cs);
            exitCode = m_lastExitCode;
        }
        // No format function reads a translated text: the values go where
        // the text has its marks.
        const std::wstring loop =
            Filled(IDS_BALLOON_CRASH_LOOP, L"%u", std::to_wstring(CRelaunchBackoff::kMaxPauseMs / 1000));
        Show(loop + L"\n" + Filled(IDS_BALLOON_LAST_EXIT, L"{code}", DescribeAgentExitCode(exitCode)));
    }
    void OnAgentMissing(const std::wstring& /*path*/) override {
        if (Decide([&] { return m_episode.OnAgentMissing(); }) == TroubleNotice::None) return;
        Show(LoadResString(IDS_BALLOON_MISSING));
    }
    // UI thread.
    void OnUserAction() {
        CLockGuard lock(m_cs);
        m_episode.OnUserAction();
    }

private:
    template <typename Step>
    TroubleNotice Decide(Step step) {
        CLockGuard lock(m_cs);
        return step();
    }
    static std::wstring Filled(UINT id, const wchar_t* mark, const std::wstring& value) {
        std::wstring text = LoadResString(id);
        const size_t at = text.find(mark);
        if (at != std::wstring::npos) text.replace(at, std::wcslen(mark), value);
        return text;
    }
    void Show(const std::wstring& text) {
        m_tray.ShowTrayBalloon(LoadResString(IDR_MAINFRAME).c_str(), text.c_str());
    }

    TTray& m_tray;
    CCriticalSection m_cs;  // guards m_episode: the watch and UI threads both step it
    CTroubleEpisode m_episode;
    DWORD m_lastExitCode = 0;     // guarded by m_cs; for the crash loop's balloon
    DWORD m_lastLaunchError = 0;  // guarded by m_cs; for the failing launch's balloon
};

class CMainDlg;
class CTroubleNotice final : public CTroubleNoticeImpl<CMainDlg> {
public:
    using CTroubleNoticeImpl<CMainDlg>::CTroubleNoticeImpl;
};
