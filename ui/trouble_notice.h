// The tray balloon, told the agent's life record by record: a crash loop (with the
// last exit code's name), a launch that keeps failing (with the reason) or a
// missing agent file is told once per episode (ui/tray_rules.h). UI thread
// only: the window hands it the events the watch thread posted.
#pragma once

#include <string>

#include "framework/strings.h"
#include "framework/text_fill.h"
#include "resource.h"
#include "supervision/agent_event.h"
#include "supervision/exit_texts.h"
#include "supervision/relaunch_rules.h"
#include "ui/tray_rules.h"

template <typename TTray>
class CTroubleNoticeImpl {
public:
    // agentPath: where the system's launch error texts have "%1".
    CTroubleNoticeImpl(TTray& tray, std::wstring agentPath)
        : m_tray(tray), m_strAgentPath(std::move(agentPath)) {}

    // The events that make or end an episode; the others pass by.
    void OnAgentEvent(const AgentEvent& event) {
        switch (event.kind) {
            case AgentEvent::Kind::Exited:
                m_episode.OnRunEnded(event.runMs);
                m_lastExitCode = event.exitCode;
                break;
            case AgentEvent::Kind::LaunchFailed:
                m_lastLaunchError = event.error;
                break;
            case AgentEvent::Kind::Paused:
                OnPaused(event.pauseMs, event.reason);
                break;
            case AgentEvent::Kind::Missing:
                if (m_episode.OnAgentMissing() != TroubleNotice::None)
                    Show(LoadResString(IDS_BALLOON_MISSING));
                break;
            default:
                break;
        }
    }
    void OnUserAction() { m_episode.OnUserAction(); }

private:
    void OnPaused(DWORD pauseMs, AgentPauseReason reason) {
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
    static std::wstring Filled(UINT id, const wchar_t* mark, const std::wstring& value) {
        return FillMark(LoadResString(id), mark, value);
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
