// The tray balloon as a listener of the agent's life: a crash loop or a
// missing agent file is told once per episode (ui/tray_rules.h). UI thread
// only: the window hands it the events the watch thread posted.
#pragma once

#include <string>

#include "supervision/agent_supervisor.h"
#include "supervision/relaunch_rules.h"
#include "framework/strings.h"
#include "resource.h"
#include "ui/tray_rules.h"

template <typename TTray>
class CTroubleNoticeImpl : public CAgentListener {
public:
    explicit CTroubleNoticeImpl(TTray& tray) : m_tray(tray) {}

    void OnAgentExited(DWORD /*exitCode*/, DWORD runMs) override { m_episode.OnRunEnded(runMs); }
    void OnRelaunchPaused(DWORD pauseMs, AgentPauseReason reason) override {
        if (reason != AgentPauseReason::CrashLoop) return;
        if (m_episode.OnCrashLoopPause(pauseMs) == TroubleNotice::None) return;
        // The number goes where the text has "%u"; no format function reads
        // a translated text.
        std::wstring text = LoadResString(IDS_BALLOON_CRASH_LOOP);
        const size_t at = text.find(L"%u");
        if (at != std::wstring::npos)
            text.replace(at, 2, std::to_wstring(CRelaunchBackoff::kMaxPauseMs / 1000));
        Show(text.c_str());
    }
    void OnAgentMissing(const std::wstring& /*path*/, bool /*bFolder*/) override {
        if (m_episode.OnAgentMissing() == TroubleNotice::None) return;
        Show(LoadResString(IDS_BALLOON_MISSING).c_str());
    }
    void OnUserAction() { m_episode.OnUserAction(); }

private:
    void Show(const wchar_t* text) { m_tray.ShowTrayBalloon(LoadResString(IDR_MAINFRAME).c_str(), text); }

    TTray& m_tray;
    CTroubleEpisode m_episode;
};

class CMainDlg;
class CTroubleNotice final : public CTroubleNoticeImpl<CMainDlg> {
public:
    using CTroubleNoticeImpl<CMainDlg>::CTroubleNoticeImpl;
};
