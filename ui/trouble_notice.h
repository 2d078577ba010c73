// The tray balloon as a listener of the agent's life: a crash loop (with the
// last exit code's name), a launch that keeps failing (with the reason) or a
// missing agent file is told once per episode (ui/tray_rules.h). UI thread
// only: the window hands it the events the watch thread posted.
#pragma once

#include <cwchar>
#include <string>

#include "framework/strings.h"
#include "resource.h"
#include "supervision/agent_supervisor.h"
#include "supervision/exit_texts.h"
#include "supervision/relaunch_rules.h"
#include "ui/tray_rules.h"

template <typename TTray>
class CTroubleNoticeImpl : public CAgentListener {
public:
    // agentPath: where the system's launch error texts have "%1".
    CTroubleNoticeImpl(TTray& tray, std::wstring agentPath)
        : m_tray(tray), m_strAgentPath(std::move(agentPath)) {}

    void OnAgentExited(DWORD exitCode, DWORD runMs) override {
        m_episode.OnRunEnded(runMs);
        m_lastExitCode = exitCode;
    }
    void OnLaunchFailed(DWORD error) override { m_lastLaunchError = error; }
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override {
        if (reason == AgentPauseReason::LaunchFailed) {
            if (m_episode.OnLaunchFailurePause(pauseMs) == TroubleNotice::None) return;
            Show(Filled(IDS_BALLOON_LAUNCH_FAILED, L"{reason}",
                        LaunchErrorText(m_lastLaunchError, m_strAgentPath)));
            return;
        }
        if (m_episode.OnCrashLoopPause(pauseMs) == TroubleNotice::None) return;
        // No format function reads a translated text: the values go where
        // the text has its marks.
        const std::wstring loop =
            Filled(IDS_BALLOON_CRASH_LOOP, L"%u", std::to_wstring(CRelaunchBackoff::kMaxPauseMs / 1000));
        Show(loop + L"\n" + Filled(IDS_BALLOON_LAST_EXIT, L"{code}", DescribeAgentExitCode(m_lastExitCode)));
    }
    void OnAgentMissing(const std::wstring& /*path*/, bool /*bFolder*/) override {
        if (m_episode.OnAgentMissing() == TroubleNotice::None) return;
        Show(LoadResString(IDS_BALLOON_MISSING));
    }
    void OnUserAction() { m_episode.OnUserAction(); }

private:
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
    const std::wstring m_strAgentPath;
    CTroubleEpisode m_episode;
    DWORD m_lastExitCode = 0;     // for the crash loop's balloon
    DWORD m_lastLaunchError = 0;  // for the failing launch's balloon
};

class CMainDlg;
class CTroubleNotice final : public CTroubleNoticeImpl<CMainDlg> {
public:
    using CTroubleNoticeImpl<CMainDlg>::CTroubleNoticeImpl;
};
