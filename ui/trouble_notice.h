// The tray balloon, told the agent's life record by record: a crash and a
// crash loop (the exit code's name and the run time: "Agent stopped: access
// violation after 2 h 13 min"), a launch that keeps failing (with the
// reason) or a missing agent file is told once per episode
// (ui/tray_rules.h). A balloon about a run names it, so that clicking the
// balloon opens the history at that run. UI thread only: the window hands it
// the events the watch thread posted.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/strings.h"
#include "framework/text_fill.h"
#include "resource.h"
#include "supervision/agent_event.h"
#include "supervision/exit_texts.h"
#include "supervision/relaunch_rules.h"
#include "history/history_rules.h"
#include "ui/history_window.h"
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
            case AgentEvent::Kind::Started:
                m_run = HistorySelection{NowJournalMs(), event.pid};
                m_bAsked = false;
                break;
            case AgentEvent::Kind::Stopping:
                m_bAsked = true;
                break;
            case AgentEvent::Kind::Exited:
                m_episode.OnRunEnded(event.runMs);
                m_lastExitCode = event.exitCode;
                m_lastRunMs = event.runMs;
                if (m_episode.OnExit(m_bAsked, event.exitCode) != TroubleNotice::None)
                    Show(StoppedLine(), &m_run);
                break;
            case AgentEvent::Kind::LaunchFailed:
                m_lastLaunchError = event.error;
                break;
            case AgentEvent::Kind::Paused:
                OnPaused(event.pauseMs, event.reason);
                break;
            case AgentEvent::Kind::Missing:
                if (m_episode.OnAgentMissing() != TroubleNotice::None)
                    Show(LoadResString(IDS_BALLOON_MISSING), nullptr);
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
                        LaunchErrorText(m_lastLaunchError, m_strAgentPath)),
                 nullptr);
            return;
        }
        if (m_episode.OnCrashLoopPause(pauseMs) == TroubleNotice::None) return;
        // No format function reads a translated text: the values go where
        // the text has its marks.
        const std::wstring loop =
            Filled(IDS_BALLOON_CRASH_LOOP, L"%u", std::to_wstring(CRelaunchBackoff::kMaxPauseMs / 1000));
        Show(StoppedLine() + L"\n" + loop, &m_run);
    }
    // "Agent stopped: access violation after 2 h 13 min", of the last run.
    std::wstring StoppedLine() const {
        std::wstring code = AgentExitCodeName(m_lastExitCode);
        if (code.empty())
            code = Filled(IDS_BALLOON_EXIT_CODE, L"{code}", DescribeAgentExitCode(m_lastExitCode));
        return FillMark(Filled(IDS_BALLOON_STOPPED, L"{code}", code), L"{time}", RunTimeText(m_lastRunMs));
    }
    static std::wstring RunTimeText(uint32_t ms) {
        // The history's units: "d|h|min|s".
        std::vector<std::wstring> units;
        const std::wstring words = LoadResString(IDS_HISTORY_UNITS);
        for (size_t from = 0; from <= words.size();) {
            const size_t bar = std::min(words.find(L'|', from), words.size());
            units.push_back(words.substr(from, bar - from));
            from = bar + 1;
        }
        if (units.size() < 4) return FormatDuration(ms);
        return FormatDuration(
            ms, DurationUnits{units[0].c_str(), units[1].c_str(), units[2].c_str(), units[3].c_str()});
    }
    static int64_t NowJournalMs() {
        SYSTEMTIME st = {};
        ::GetLocalTime(&st);
        return JournalMsFromFields(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                   st.wMilliseconds);
    }
    static std::wstring Filled(UINT id, const wchar_t* mark, const std::wstring& value) {
        return FillMark(LoadResString(id), mark, value);
    }
    void Show(const std::wstring& text, const HistorySelection* pRun) { m_tray.ShowBalloon(text, pRun); }

    TTray& m_tray;
    const std::wstring m_strAgentPath;
    CTroubleEpisode m_episode;
    uint32_t m_lastExitCode = 0;  // for the crash's and the crash loop's balloon
    uint32_t m_lastRunMs = 0;
    uint32_t m_lastLaunchError = 0;  // for the failing launch's balloon
    HistorySelection m_run;          // the last run started: its start and pid
    bool m_bAsked = false;           // Stop, Restart or Exit asked that run to end
};

class CMainDlg;
class CTroubleNotice final : public CTroubleNoticeImpl<CMainDlg> {
public:
    using CTroubleNoticeImpl<CMainDlg>::CTroubleNoticeImpl;
};
