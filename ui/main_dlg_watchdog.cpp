// The watchdogs in the window: the tray menu's group with their choices, the
// tooltip's line and note, a balloon per episode, and the power messages.
#include <algorithm>
#include <vector>

#include "framework/strings.h"
#include "framework/text_fill.h"
#include "host/agent_host.h"
#include "ui/main_dlg.h"
#include "ui/tray_group_rules.h"
#include "watchdog/agent_watchdog.h"

namespace {

constexpr bool k64Bit = sizeof(void*) == 8;

// The tray menu's group between Show Window and About. One more entry is
// one more row here.
const std::vector<TrayGroupEntry>& TrayGroup() {
    static const std::vector<TrayGroupEntry> group = {
        {IDS_MENU_RESTART_SILENT, ID_WATCH_SILENT_FIRST, kSilentMinuteChoices.size()},
        {IDS_MENU_RESTART_MEMORY, ID_WATCH_MEMORY_FIRST, MemoryChoiceCount(k64Bit)},
    };
    return group;
}
constexpr size_t kSilenceEntry = 0;
constexpr size_t kMemoryEntry = 1;

std::wstring ChoiceText(size_t entry, size_t choice) {
    const uint32_t value = entry == kSilenceEntry ? kSilentMinuteChoices[choice] : kMemoryMbChoices[choice];
    if (value == 0) return LoadResString(IDS_WATCH_OFF);
    if (entry == kMemoryEntry) return MemoryAmount(value);
    return FillMark(LoadResString(IDS_WATCH_MINUTES), L"{n}", std::to_wstring(value));
}

// A submenu of radio choices, the one in effect checked (none for a value
// set elsewhere that the menu does not offer).
HMENU MakeChoices(size_t entry, const TrayGroupEntry& row, const WatchdogSettings& settings) {
    HMENU hSub = ::CreatePopupMenu();
    if (hSub == nullptr) return nullptr;
    for (size_t i = 0; i < row.choiceCount; ++i)
        ::AppendMenuW(hSub, MF_STRING, row.firstCommand + i, ChoiceText(entry, i).c_str());
    const int checked =
        entry == kSilenceEntry
            ? (settings.silentSeconds % 60 == 0
                   ? CheckedChoice(kSilentMinuteChoices.data(), row.choiceCount, settings.silentSeconds / 60)
                   : -1)
            : CheckedChoice(kMemoryMbChoices.data(), row.choiceCount, settings.memoryMb);
    if (checked >= 0) {
        const UINT id = row.firstCommand + static_cast<UINT>(checked);
        ::CheckMenuRadioItem(hSub, row.firstCommand,
                             row.firstCommand + static_cast<UINT>(row.choiceCount) - 1, id, MF_BYCOMMAND);
    }
    return hSub;
}

// A clock time ms ago (LocalClockTime looks ahead only).
ClockTime LocalClockTimeAgo(uint64_t ms) {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER at = {};
    at.LowPart = now.dwLowDateTime;
    at.HighPart = now.dwHighDateTime;
    at.QuadPart -= std::min<ULONGLONG>(at.QuadPart, ms * 10000);
    FILETIME utc = {}, local = {};
    utc.dwLowDateTime = at.LowPart;
    utc.dwHighDateTime = at.HighPart;
    SYSTEMTIME st = {};
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) ::GetLocalTime(&st);
    return ClockTime{st.wHour, st.wMinute, st.wSecond};
}

}  // namespace

void CMainDlg::AddTrayGroup(HMENU hMenu) {
    if (!m_pHost) return;
    std::vector<unsigned> base;
    const int count = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < count; ++i)
        base.push_back(::GetMenuItemID(hMenu, i) == UINT(-1) ? 0 : ::GetMenuItemID(hMenu, i));
    const std::vector<TrayMenuSlot> layout = TrayMenuWithGroup(base, ID_APP_ABOUT, TrayGroup());
    size_t next = 0;  // the base item the walk has reached
    for (size_t at = 0; at < layout.size(); ++at) {
        const TrayMenuSlot& slot = layout[at];
        if (!slot.bSubmenu && next < base.size() && base[next] == slot.id) {
            ++next;
            continue;
        }
        const UINT pos = static_cast<UINT>(at);
        if (slot.id == 0) {
            ::InsertMenuW(hMenu, pos, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
            continue;
        }
        for (size_t entry = 0; entry < TrayGroup().size(); ++entry) {
            const TrayGroupEntry& row = TrayGroup()[entry];
            if (row.textId != slot.id) continue;
            if (HMENU hSub = MakeChoices(entry, row, m_pHost->Watching()))
                ::InsertMenuW(hMenu, pos, MF_BYPOSITION | MF_POPUP | MF_STRING,
                              reinterpret_cast<UINT_PTR>(hSub), LoadResString(row.textId).c_str());
        }
    }
}

bool CMainDlg::OnWatchdogCommand(WORD id) {
    size_t entry = 0, choice = 0;
    if (!FindGroupChoice(TrayGroup(), id, entry, choice)) return false;
    if (!m_pHost) return true;
    if (entry == kSilenceEntry)
        m_pHost->ChooseSilentMinutes(kSilentMinuteChoices[choice]);
    else
        m_pHost->ChooseMemoryMb(kMemoryMbChoices[choice]);
    // A new bound is a new watch: a balloon may tell of it again.
    m_bSilenceBalloonShown = m_bMemoryBalloonShown = false;
    ShowWatching();
    return true;
}

void CMainDlg::OnWatchdogSettings() {
    if (!m_pHost) return;
    m_pHost->OnWatchdogSettingsChanged();
    ShowWatching();
}

void CMainDlg::ShowWatching() {
    if (!m_pHost) return;
    const WatchingTexts texts{LoadResString(IDS_TIP_WATCHING), LoadResString(IDS_TIP_WATCH_SILENCE),
                              LoadResString(IDS_TIP_WATCH_MEMORY)};
    SetTrayNote(IDS_TIP_WATCHING, WatchingLine(texts, m_pHost->Watching()));
    if (m_pHost->Watching().silentSeconds == 0) EndSilenceNote();
}

void CMainDlg::OnWatchdogFinding(const WatchdogFinding& finding) {
    if (!m_pHost) return;
    const bool bWasStopped = m_pHost->IsStopRequested();
    m_pHost->OnWatchdogFinding(finding);
    if (bWasStopped) return;
    const std::wstring title = LoadResString(IDR_MAINFRAME);
    if (finding.kind == WatchdogFinding::Kind::Silent) {
        // Kept through the restarts of one silence, until the agent speaks.
        if (!m_bSilentNoted) {
            m_bSilentNoted = true;
            SetTrayNote(IDS_NOTE_SILENT, FillMark(LoadResString(IDS_NOTE_SILENT), L"{time}",
                                                  HourMinute(LocalClockTimeAgo(finding.silentForMs))));
        }
        if (!m_bSilenceBalloonShown) {
            m_bSilenceBalloonShown = true;
            ShowTrayBalloon(title.c_str(), FillMark(LoadResString(IDS_BALLOON_SILENT), L"{amount}",
                                                    SilenceAmount(finding.silentSeconds))
                                               .c_str());
        }
    } else if (finding.kind == WatchdogFinding::Kind::OverMemory && !m_bMemoryBalloonShown) {
        m_bMemoryBalloonShown = true;
        const std::wstring text = FillMark(
            FillMark(LoadResString(IDS_BALLOON_MEMORY), L"{amount}", BytesAmount(finding.totalBytes)),
            L"{bound}", MemoryAmount(finding.boundMb));
        ShowTrayBalloon(title.c_str(), text.c_str());
    }
}

void CMainDlg::EndSilenceNote() {
    if (!m_bSilentNoted) return;
    m_bSilentNoted = false;
    SetTrayNote(IDS_NOTE_SILENT, std::wstring());
}

void CMainDlg::OnWatchdogUserAction() { m_bSilenceBalloonShown = m_bMemoryBalloonShown = false; }

void CMainDlg::OnPowerBroadcast(WPARAM event) {
    if (!m_pHost) return;
    // An automatic resume comes first; a resume by the user may follow it.
    // Either is one resume, told once.
    switch (event) {
        case PBT_APMSUSPEND:
            m_bResumeTold = false;
            m_pHost->OnSleep();
            break;
        case PBT_APMRESUMEAUTOMATIC:
        case PBT_APMRESUMESUSPEND:
            if (m_bResumeTold && event == PBT_APMRESUMESUSPEND) {
                m_bResumeTold = false;
                break;
            }
            m_bResumeTold = event == PBT_APMRESUMEAUTOMATIC;
            m_pHost->OnResume();
            break;
        default:
            break;
    }
}
