#include "ui/history_window.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "framework/app_module.h"
#include "framework/debug_trace.h"
#include "framework/handle.h"
#include "framework/message_loop.h"
#include "framework/strings.h"
#include "history/history_index.h"
#include "resource.h"
#include "ui/dpi.h"

namespace {

constexpr UINT kMsgBatch = WM_APP + 60;
// The strip's "now" moves on while the window is open; nothing ticks once
// it is closed.
constexpr UINT_PTR kClockTimer = 1;
constexpr UINT kClockMs = 60 * 1000;
constexpr wchar_t kStripClass[] = L"QuorvelTollvaneTimeline";
constexpr int64_t kHourMs = 3600 * 1000;
constexpr size_t kLinesAroundHit = 5;
constexpr size_t kMarksNamed = 20;

std::vector<std::wstring> Words(UINT id) {
    std::vector<std::wstring> words;
    const std::wstring text = LoadResString(id);
    size_t pos = 0;
    for (;;) {
        const size_t bar = text.find(L'|', pos);
        words.push_back(text.substr(pos, bar == std::wstring::npos ? std::wstring::npos : bar - pos));
        if (bar == std::wstring::npos) return words;
        pos = bar + 1;
    }
}

std::wstring Word(UINT id, size_t index) {
    const std::vector<std::wstring> words = Words(id);
    return index < words.size() ? words[index] : std::wstring();
}

std::wstring Fill(std::wstring text, const wchar_t* mark, const std::wstring& value) {
    const std::wstring key(mark);
    const size_t at = text.find(key);
    if (at != std::wstring::npos) text.replace(at, key.size(), value);
    return text;
}

int64_t NowJournalMs() {
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    return JournalMsFromFields(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                               st.wMilliseconds);
}

std::wstring TimeOfDay(int64_t ms) { return FormatHistoryTime(ms).substr(11); }

// Duration units from the string table: "d|h|min|s".
std::wstring Duration(int64_t ms) {
    const std::vector<std::wstring> units = Words(IDS_HISTORY_UNITS);
    if (units.size() < 4) return FormatDuration(ms);
    return FormatDuration(
        ms, DurationUnits{units[0].c_str(), units[1].c_str(), units[2].c_str(), units[3].c_str()});
}

// How a run ended, in the user's language.
std::wstring HowItEnded(const AgentRun& run, std::wstring_view text) {
    const std::wstring cause = Word(IDS_HISTORY_CAUSES, static_cast<size_t>(run.cause));
    switch (run.end) {
        case RunEnd::Running:
            return LoadResString(IDS_HISTORY_END_RUNNING);
        case RunEnd::ExitedByItself:
            return Fill(LoadResString(IDS_HISTORY_END_EXITED), L"{code}", DescribeRunCode(run.code, text));
        case RunEnd::AskedEndedByItself:
            return Fill(LoadResString(IDS_HISTORY_END_ASKED), L"{cause}", cause);
        case RunEnd::Forced:
            return Fill(LoadResString(IDS_HISTORY_END_FORCED), L"{cause}", cause);
        case RunEnd::EndedWithSupervisor:
            return LoadResString(IDS_HISTORY_END_SUPERVISOR);
        case RunEnd::EndedWithSession:
            return LoadResString(IDS_HISTORY_END_SESSION);
        case RunEnd::LaunchFailed:
            break;
    }
    return Fill(Fill(LoadResString(IDS_HISTORY_END_LAUNCH), L"{reason}", std::wstring(text)), L"{code}",
                std::to_wstring(run.code));
}

void SetText(HWND hWnd, const std::wstring& text) { ::SetWindowTextW(hWnd, text.c_str()); }

std::wstring WindowText(HWND hWnd) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hWnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hWnd, &text[0], static_cast<int>(text.size()))));
    return text;
}

bool PutOnClipboard(HWND hOwner, const std::wstring& text) {
    if (!::OpenClipboard(hOwner)) return false;
    ::EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL hMem = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool ok = false;
    if (hMem != nullptr) {
        if (void* p = ::GlobalLock(hMem)) {
            ::memcpy(p, text.c_str(), bytes);
            ::GlobalUnlock(hMem);
            ok = ::SetClipboardData(CF_UNICODETEXT, hMem) != nullptr;
        }
        if (!ok) ::GlobalFree(hMem);  // the clipboard owns it once set
    }
    ::CloseClipboard();
    return ok;
}

struct CPenTraits {
    using pointer = HPEN;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::DeleteObject(h); }
};
using CPenHandle = CUniqueHandle<CPenTraits>;

struct StripColors {
    COLORREF stopped, running, frame;
    COLORREF marks[4];
};

// The system's colours under high contrast: the shapes alone tell the kinds
// apart there.
StripColors ChooseStripColors() {
    if (IsHighContrastOn()) {
        const COLORREF text = ::GetSysColor(COLOR_WINDOWTEXT);
        return {::GetSysColor(COLOR_WINDOW), ::GetSysColor(COLOR_HIGHLIGHT), text, {text, text, text, text}};
    }
    return {RGB(232, 232, 232),
            RGB(46, 160, 67),
            RGB(150, 150, 150),
            {RGB(70, 70, 70), RGB(200, 30, 30), RGB(215, 110, 0), RGB(120, 60, 170)}};
}

class CHistoryWindow final : public CMessageFilter {
public:
    static CHistoryWindow& Instance() {
        static CHistoryWindow window;
        return window;
    }

    void Show(const JournalSource& source, HWND hCommands, const HistorySelection* select);
    void Close() {
        if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    }
    HWND Handle() const { return m_hWnd; }
    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (m_hWnd == nullptr || (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd))) return FALSE;
        return ::IsDialogMessageW(m_hWnd, pMsg);
    }

private:
    CHistoryWindow() = default;
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK StripProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static bool RegisterClasses();

    LRESULT OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleStrip(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnDestroy();
    void OnCommand(int id, int code);
    LRESULT OnNotify(NMHDR* pHdr);
    void OnBatch(std::unique_ptr<HistoryBatch> batch);
    void OnRunsBatch(HistoryBatch& batch);
    void OnHitsBatch(HistoryBatch& batch);
    void OnDpiChanged(UINT dpi, const RECT* suggested);

    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
    int S(int px) const { return ::MulDiv(px, static_cast<int>(m_nDpi), 96); }
    HWND AddControl(const wchar_t* cls, int id, DWORD style, DWORD exStyle = 0,
                    const std::wstring& text = L"");
    void MakeFont();
    void SetColumns();
    void Layout();
    void UpdateStatus();
    void UpdateTimeline();
    void SelectRun(int index);
    void ShowRun(int index);
    void ShowHit(int index);
    void TrySelectPending();
    std::wstring RunCell(const AgentRun& run, int column) const;
    std::wstring HitCell(const SearchHit& hit, int column) const;
    std::wstring MarkText(const TimelineMark& mark, bool english) const;
    void PaintStrip(HWND hWnd, HDC hdc);
    void SelectMark(int mark);
    int StripPad() const { return S(8); }

    HWND m_hWnd = nullptr;
    HWND m_hTip = nullptr;
    UINT m_nDpi = 96;
    CFontHandle m_hFont;
    bool m_bFilterAdded = false;
    JournalSource m_source;
    HWND m_hCommands = nullptr;  // where the bundle's command goes
    std::unique_ptr<CHistoryIndexer> m_pIndexer;
    std::unique_ptr<CHistorySearcher> m_pSearcher;

    // What the workers have posted; UI thread only.
    std::vector<AgentRun> m_runs;  // newest first
    std::vector<std::wstring> m_texts;
    std::vector<HistoryFile> m_files;
    HistoryCounts m_counts;
    bool m_bIndexed = false;
    uint32_t m_nFilesRead = 0, m_nFilesTotal = 0;
    int m_nSelected = -1;
    bool m_bHavePending = false;
    HistorySelection m_pending;

    uint32_t m_nSearchId = 0;  // 0: no search asked
    std::vector<SearchHit> m_hits;
    std::vector<HistoryFile> m_searchFiles;
    bool m_bSearchDone = false, m_bSearchBounded = false;

    bool m_bWeek = false;
    Timeline m_timeline;
    int64_t m_stripFrom = 0, m_stripTo = 0;
    int m_nHoverMark = -1, m_nFocusMark = -1;
    std::wstring m_strTraced;  // the strip's last trace, so each layout is traced once
    std::wstring m_strCell;    // the list's cell text, alive until the next ask
    std::wstring m_strTip;
};

bool CHistoryWindow::RegisterClasses() {
    static bool bDone = false;
    if (bDone) return true;
    // The classes belong to the code's module; the icons come with the texts.
    const HINSTANCE hInst = ::GetModuleHandleW(nullptr);
    const HINSTANCE hRes = g_Module.GetResourceInstance();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WndProc;
    wc.hInstance = hInst;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kHistoryWindowClass;
    wc.hIcon =
        LoadIconAtSize(hRes, IDR_MAINFRAME, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
    wc.hIconSm =
        LoadIconAtSize(hRes, IDR_MAINFRAME, ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON));
    if (!::RegisterClassExW(&wc)) return false;
    WNDCLASSEXW strip = {};
    strip.cbSize = sizeof(strip);
    strip.style = CS_HREDRAW | CS_VREDRAW;
    strip.lpfnWndProc = &StripProc;
    strip.hInstance = hInst;
    strip.hCursor = ::LoadCursorW(nullptr, IDC_HAND);
    strip.lpszClassName = kStripClass;
    bDone = ::RegisterClassExW(&strip) != 0;
    return bDone;
}

void CHistoryWindow::Show(const JournalSource& source, HWND hCommands, const HistorySelection* select) {
    m_hCommands = hCommands;
    if (select != nullptr) {
        m_pending = *select;
        m_bHavePending = true;
    }
    if (m_hWnd == nullptr) {
        if (!RegisterClasses()) return;
        m_source = source;
        m_nDpi = PrimaryMonitorDpi();
        m_hWnd = ::CreateWindowExW(WS_EX_CONTROLPARENT, kHistoryWindowClass,
                                   LoadResString(IDS_HISTORY_TITLE).c_str(),
                                   WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                                   S(760), S(560), nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (m_hWnd == nullptr) return;
        if (!m_bFilterAdded) {
            // The filter stays for the process; it does nothing without the window.
            if (CMessageLoop* pLoop = g_Module.GetMessageLoop()) pLoop->AddMessageFilter(this);
            m_bFilterAdded = true;
        }
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    } else {
        if (::IsIconic(m_hWnd)) ::ShowWindow(m_hWnd, SW_RESTORE);
        TrySelectPending();
    }
    ::SetForegroundWindow(m_hWnd);
}

LRESULT CALLBACK CHistoryWindow::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    try {
        CHistoryWindow& self = Instance();
        if (uMsg == WM_NCCREATE) self.m_hWnd = hWnd;
        if (hWnd == self.m_hWnd) return self.OnMessage(uMsg, wParam, lParam);
    } catch (...) {
        DebugTrace(L"history: an exception in the window");
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CHistoryWindow::StripProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    try {
        return Instance().HandleStrip(hWnd, uMsg, wParam, lParam);
    } catch (...) {
        DebugTrace(L"history: an exception in the timeline");
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CHistoryWindow::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_CREATE:
            OnCreate();
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        case WM_SIZE:
            Layout();
            UpdateTimeline();
            return 0;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{S(480), S(380)};
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_TIMER:
            if (wParam == kClockTimer) UpdateTimeline();
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
        case WM_THEMECHANGED:
            ::InvalidateRect(Item(IDC_HISTORY_STRIP), nullptr, TRUE);
            break;
        case kMsgBatch:
            OnBatch(TakeHistoryBatch(lParam));
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
}

HWND CHistoryWindow::AddControl(const wchar_t* cls, int id, DWORD style, DWORD exStyle,
                                const std::wstring& text) {
    HWND hCtl = ::CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                  m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    return hCtl;
}

void CHistoryWindow::OnCreate() {
    m_nDpi = WindowDpi(m_hWnd);
    // In tab order.
    AddControl(WC_STATICW, IDC_HISTORY_SEARCH_LABEL, SS_LEFT | SS_CENTERIMAGE, 0,
               LoadResString(IDS_HISTORY_SEARCH_LABEL));
    AddControl(WC_EDITW, IDC_HISTORY_SEARCH, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
    AddControl(WC_BUTTONW, IDC_HISTORY_FIND, WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
               LoadResString(IDS_HISTORY_FIND));
    AddControl(WC_BUTTONW, IDC_HISTORY_DAY, WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0,
               LoadResString(IDS_HISTORY_DAY));
    AddControl(WC_BUTTONW, IDC_HISTORY_WEEK, BS_AUTORADIOBUTTON, 0, LoadResString(IDS_HISTORY_WEEK));
    ::SendMessageW(Item(IDC_HISTORY_DAY), BM_SETCHECK, BST_CHECKED, 0);
    AddControl(kStripClass, IDC_HISTORY_STRIP, WS_TABSTOP | WS_GROUP, 0, LoadResString(IDS_HISTORY_STRIP));
    AddControl(WC_STATICW, IDC_HISTORY_RUNS_LABEL, SS_LEFT, 0, LoadResString(IDS_HISTORY_RUNS_LABEL));
    const DWORD listStyle = WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
    AddControl(WC_LISTVIEWW, IDC_HISTORY_RUNS, listStyle, WS_EX_CLIENTEDGE);
    AddControl(WC_STATICW, IDC_HISTORY_HITS_LABEL, SS_LEFT, 0, LoadResString(IDS_HISTORY_HITS_LABEL));
    AddControl(WC_LISTVIEWW, IDC_HISTORY_HITS, listStyle, WS_EX_CLIENTEDGE);
    AddControl(WC_STATICW, IDC_HISTORY_DETAIL_LABEL, SS_LEFT, 0, LoadResString(IDS_HISTORY_DETAIL_LABEL));
    AddControl(
        WC_EDITW, IDC_HISTORY_DETAIL,
        WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
        WS_EX_CLIENTEDGE);
    AddControl(WC_BUTTONW, IDC_HISTORY_COPY, WS_TABSTOP, 0, LoadResString(IDS_HISTORY_COPY));
    AddControl(WC_BUTTONW, IDC_HISTORY_SAVE_DIAGNOSTICS, WS_TABSTOP, 0,
               LoadResString(IDS_LOG_SAVE_DIAGNOSTICS));
    AddControl(WC_STATICW, IDC_HISTORY_STATUS, SS_LEFT | SS_ENDELLIPSIS | SS_CENTERIMAGE);
    for (int id : {IDC_HISTORY_HITS_LABEL, IDC_HISTORY_HITS}) ::ShowWindow(Item(id), SW_HIDE);
    for (int id : {IDC_HISTORY_RUNS, IDC_HISTORY_HITS})
        ListView_SetExtendedListViewStyle(Item(id), LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);

    m_hTip =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0,
                          0, 0, 0, m_hWnd, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_HISTORY_STRIP));
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(m_hTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

    MakeFont();
    SetColumns();
    Layout();
    UpdateStatus();
    ::SetTimer(m_hWnd, kClockTimer, kClockMs, nullptr);

    m_pIndexer = std::make_unique<CHistoryIndexer>(m_source);
    m_pSearcher = std::make_unique<CHistorySearcher>(m_source);
    if (m_source.folder.empty() || !m_pIndexer->Start(m_hWnd, kMsgBatch)) m_bIndexed = true;
    m_pSearcher->Start(m_hWnd, kMsgBatch);
    UpdateTimeline();
}

void CHistoryWindow::OnDestroy() {
    ::KillTimer(m_hWnd, kClockTimer);
    // The workers end before the window's state goes; what they posted and
    // the window never took is freed with the queue's messages below.
    m_pIndexer.reset();
    m_pSearcher.reset();
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, kMsgBatch, kMsgBatch, PM_REMOVE)) TakeHistoryBatch(msg.lParam);
    m_hWnd = nullptr;
    m_hTip = nullptr;
    m_hFont.reset();
    m_runs.clear();
    m_runs.shrink_to_fit();
    m_texts.clear();
    m_files.clear();
    m_hits.clear();
    m_searchFiles.clear();
    m_counts = HistoryCounts();
    m_bIndexed = false;
    m_nSelected = m_nHoverMark = m_nFocusMark = -1;
    m_nSearchId = 0;
    m_timeline = Timeline();
    m_strTraced.clear();
}

void CHistoryWindow::MakeFont() {
    NONCLIENTMETRICSW ncm = {};
    // The size Windows XP knows: without the padded border's field.
    ncm.cbSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof(ncm.lfMessageFont);
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, ncm.cbSize, &ncm, 0)) return;
    HDC hdc = ::GetDC(nullptr);
    const int systemDpi = hdc != nullptr ? ::GetDeviceCaps(hdc, LOGPIXELSY) : 96;
    if (hdc != nullptr) ::ReleaseDC(nullptr, hdc);
    ncm.lfMessageFont.lfHeight = ::MulDiv(ncm.lfMessageFont.lfHeight, static_cast<int>(m_nDpi), systemDpi);
    m_hFont.reset(::CreateFontIndirectW(&ncm.lfMessageFont));
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT))
        ::SendMessageW(hChild, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont.get()), TRUE);
}

void CHistoryWindow::SetColumns() {
    const struct {
        int id;
        UINT names;
        std::vector<int> widths;
    } lists[] = {{IDC_HISTORY_RUNS, IDS_HISTORY_COLUMNS, {128, 128, 66, 340, 50, 46}},
                 {IDC_HISTORY_HITS, IDS_HISTORY_HIT_COLUMNS, {150, 150, 420}}};
    for (const auto& list : lists) {
        const HWND hList = Item(list.id);
        const std::vector<std::wstring> names = Words(list.names);
        for (size_t i = 0; i < list.widths.size(); ++i) {
            std::wstring name = i < names.size() ? names[i] : std::wstring();
            LVCOLUMNW col = {};
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.cx = S(list.widths[i]);
            col.pszText = &name[0];
            if (::SendMessageW(hList, LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)) == FALSE)
                ::SendMessageW(hList, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
        }
    }
}

void CHistoryWindow::Layout() {
    RECT rc = {};
    ::GetClientRect(m_hWnd, &rc);
    const int m = S(8), h = S(24), label = S(18), cx = rc.right, cy = rc.bottom;
    const auto place = [&](int id, int x, int y, int w, int hh) {
        ::MoveWindow(Item(id), x, y, std::max(w, 0), std::max(hh, 0), TRUE);
    };
    const int radio = S(90), find = S(80), labelW = S(70);
    place(IDC_HISTORY_WEEK, cx - m - radio, m, radio, h);
    place(IDC_HISTORY_DAY, cx - m - 2 * radio, m, radio, h);
    place(IDC_HISTORY_SEARCH_LABEL, m, m, labelW, h);
    const int editX = m + labelW, findX = cx - m - 2 * radio - m - find;
    place(IDC_HISTORY_SEARCH, editX, m, findX - m / 2 - editX, h);
    place(IDC_HISTORY_FIND, findX, m, find, h);
    const int stripY = m + h + m / 2, stripH = S(44);
    place(IDC_HISTORY_STRIP, m, stripY, cx - 2 * m, stripH);
    const int bottomY = cy - m - h;
    const int save = S(130);
    place(IDC_HISTORY_COPY, cx - m - find, bottomY, find, h);
    place(IDC_HISTORY_SAVE_DIAGNOSTICS, cx - 2 * m - find - save, bottomY, save, h);
    place(IDC_HISTORY_STATUS, m, bottomY, cx - 4 * m - find - save, h);
    const bool bHits = m_nSearchId != 0;
    int y = stripY + stripH + m / 2;
    const int room = bottomY - m / 2 - y - (bHits ? 3 : 2) * label;
    const int runsH = room * (bHits ? 40 : 55) / 100, hitsH = bHits ? room * 25 / 100 : 0;
    const struct {
        int labelId, id, height;
    } areas[] = {{IDC_HISTORY_RUNS_LABEL, IDC_HISTORY_RUNS, runsH},
                 {IDC_HISTORY_HITS_LABEL, IDC_HISTORY_HITS, hitsH},
                 {IDC_HISTORY_DETAIL_LABEL, IDC_HISTORY_DETAIL, room - runsH - hitsH}};
    for (const auto& area : areas) {
        const bool bShown = area.id != IDC_HISTORY_HITS || bHits;
        ::ShowWindow(Item(area.labelId), bShown ? SW_SHOWNA : SW_HIDE);
        ::ShowWindow(Item(area.id), bShown ? SW_SHOWNA : SW_HIDE);
        if (!bShown) continue;
        place(area.labelId, m, y, cx - 2 * m, label);
        place(area.id, m, y + label, cx - 2 * m, area.height);
        y += label + area.height;
    }
}

void CHistoryWindow::OnDpiChanged(UINT dpi, const RECT* suggested) {
    m_nDpi = dpi;
    if (suggested != nullptr)
        ::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    MakeFont();
    SetColumns();
    Layout();
    UpdateTimeline();
}

void CHistoryWindow::OnCommand(int id, int code) {
    switch (id) {
        case IDOK:  // Enter: in the search box it searches
        case IDC_HISTORY_FIND: {
            if (id == IDOK && ::GetFocus() != Item(IDC_HISTORY_SEARCH)) return;
            const std::wstring text = WindowText(Item(IDC_HISTORY_SEARCH));
            m_hits.clear();
            m_bSearchDone = m_bSearchBounded = false;
            ListView_SetItemCountEx(Item(IDC_HISTORY_HITS), 0, 0);
            m_nSearchId = text.empty() ? 0 : m_pSearcher->Search(text);
            Layout();
            UpdateStatus();
            return;
        }
        case IDCANCEL:  // Esc closes, as a dialog's Cancel does
            ::DestroyWindow(m_hWnd);
            return;
        case IDC_HISTORY_DAY:
        case IDC_HISTORY_WEEK:
            if (code == BN_CLICKED) {
                m_bWeek = id == IDC_HISTORY_WEEK;
                UpdateTimeline();
            }
            return;
        case IDC_HISTORY_COPY:
            PutOnClipboard(m_hWnd, WindowText(Item(IDC_HISTORY_DETAIL)));
            return;
        case IDC_HISTORY_SAVE_DIAGNOSTICS:
            // The main dialog makes the bundle; with this window in front, its
            // Save dialog comes over this one.
            if (m_hCommands != nullptr)
                ::PostMessageW(m_hCommands, WM_COMMAND, MAKEWPARAM(ID_LOG_SAVE_DIAGNOSTICS, 0), 0);
            return;
        default:
            return;
    }
}

std::wstring CHistoryWindow::RunCell(const AgentRun& run, int column) const {
    const std::wstring_view text = run.text < m_texts.size() ? std::wstring_view(m_texts[run.text]) : L"";
    switch (column) {
        case 0:
            return run.startMs == 0 ? LoadResString(IDS_HISTORY_UNKNOWN_START)
                                    : FormatHistoryTime(run.startMs);
        case 1:
            return run.end == RunEnd::Running ? std::wstring() : FormatHistoryTime(run.endMs);
        case 2:
            if (run.startMs == 0 || run.end == RunEnd::LaunchFailed) return std::wstring();
            return Duration((run.end == RunEnd::Running ? std::max(NowJournalMs(), run.endMs) : run.endMs) -
                            run.startMs);
        case 3:
            return HowItEnded(run, text);
        case 4:
            return run.end == RunEnd::LaunchFailed ? std::wstring() : std::to_wstring(run.pid);
        default:
            return std::to_wstring(run.lines);
    }
}

std::wstring CHistoryWindow::HitCell(const SearchHit& hit, int column) const {
    if (column == 0) return hit.ms == 0 ? std::wstring() : FormatHistoryTime(hit.ms, true);
    if (column == 2) return hit.text;
    const int run = hit.ms == 0 ? -1 : RunAtTime(m_runs, hit.ms);
    if (run < 0) return L"—";
    return L"pid " + std::to_wstring(m_runs[static_cast<size_t>(run)].pid) + L", " +
           RunCell(m_runs[static_cast<size_t>(run)], 0);
}

LRESULT CHistoryWindow::OnNotify(NMHDR* pHdr) {
    const int id = static_cast<int>(pHdr->idFrom);
    if (pHdr->code == TTN_GETDISPINFOW) {
        auto* pInfo = reinterpret_cast<NMTTDISPINFOW*>(pHdr);
        m_strTip =
            m_nHoverMark >= 0 ? MarkText(m_timeline.marks[static_cast<size_t>(m_nHoverMark)], false) : L"";
        pInfo->lpszText = &m_strTip[0];
        return 0;
    }
    if (id != IDC_HISTORY_RUNS && id != IDC_HISTORY_HITS) return 0;
    if (pHdr->code == LVN_GETDISPINFOW) {
        auto* pInfo = reinterpret_cast<NMLVDISPINFOW*>(pHdr);
        const size_t item = static_cast<size_t>(pInfo->item.iItem);
        if ((pInfo->item.mask & LVIF_TEXT) == 0) return 0;
        if (id == IDC_HISTORY_RUNS)
            m_strCell = item < m_runs.size() ? RunCell(m_runs[item], pInfo->item.iSubItem) : L"";
        else
            m_strCell = item < m_hits.size() ? HitCell(m_hits[item], pInfo->item.iSubItem) : L"";
        lstrcpynW(pInfo->item.pszText, m_strCell.c_str(), pInfo->item.cchTextMax);
        return 0;
    }
    if (pHdr->code == LVN_ITEMCHANGED) {
        const auto* pChange = reinterpret_cast<NMLISTVIEW*>(pHdr);
        if (pChange->iItem < 0 || (pChange->uNewState & LVIS_SELECTED) == 0 ||
            (pChange->uOldState & LVIS_SELECTED) != 0)
            return 0;
        if (id == IDC_HISTORY_RUNS)
            ShowRun(pChange->iItem);
        else
            ShowHit(pChange->iItem);
    }
    return 0;
}

void CHistoryWindow::OnBatch(std::unique_ptr<HistoryBatch> batch) {
    if (!batch) return;
    if (batch->kind == HistoryBatch::Runs)
        OnRunsBatch(*batch);
    else
        OnHitsBatch(*batch);
    UpdateStatus();
}

void CHistoryWindow::OnRunsBatch(HistoryBatch& batch) {
    const HWND hList = Item(IDC_HISTORY_RUNS);
    if (batch.bReset) {
        if (m_nSelected >= 0 && !m_bHavePending) {
            // Read again from the start (a rotation): the same run is selected again.
            m_pending = HistorySelection{m_runs[static_cast<size_t>(m_nSelected)].startMs,
                                         m_runs[static_cast<size_t>(m_nSelected)].pid};
            m_bHavePending = true;
        }
        m_runs.clear();
        m_nSelected = -1;
    }
    if (!batch.texts.empty()) m_texts = std::move(batch.texts);
    if (!batch.files.empty()) m_files = std::move(batch.files);
    m_counts = batch.counts;
    m_bIndexed = m_bIndexed || batch.bIndexed;
    m_nFilesRead = batch.filesRead;
    m_nFilesTotal = batch.filesTotal;
    int shift = 0;
    if (batch.bFront) {
        if (batch.bReplaceFront && !m_runs.empty()) {
            m_runs.erase(m_runs.begin());
            shift = -1;
        }
        m_runs.insert(m_runs.begin(), batch.runs.begin(), batch.runs.end());
        shift += static_cast<int>(batch.runs.size());
    } else {
        m_runs.insert(m_runs.end(), batch.runs.begin(), batch.runs.end());
    }
    ListView_SetItemCountEx(hList, static_cast<int>(m_runs.size()), LVSICF_NOSCROLL);
    if (m_nSelected >= 0 && shift != 0) {
        // The selected run keeps its selection as newer ones come in front.
        const int was = m_nSelected;
        m_nSelected = std::min(was + shift, static_cast<int>(m_runs.size()) - 1);
        ListView_SetItemState(hList, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        SelectRun(m_nSelected);
    }
    ::InvalidateRect(hList, nullptr, FALSE);
    TrySelectPending();
    UpdateTimeline();
}

void CHistoryWindow::OnHitsBatch(HistoryBatch& batch) {
    if (batch.searchId != m_nSearchId) return;  // an older search's
    if (!batch.files.empty()) m_searchFiles = std::move(batch.files);
    m_hits.insert(m_hits.end(), std::make_move_iterator(batch.hits.begin()),
                  std::make_move_iterator(batch.hits.end()));
    m_bSearchDone = batch.bSearchDone;
    m_bSearchBounded = batch.bBounded;
    ListView_SetItemCountEx(Item(IDC_HISTORY_HITS), static_cast<int>(m_hits.size()), LVSICF_NOSCROLL);
}

void CHistoryWindow::UpdateStatus() {
    std::wstring text;
    if (m_source.folder.empty()) {
        text = LoadResString(IDS_HISTORY_NO_JOURNAL);
    } else if (!m_bIndexed) {
        text = Fill(Fill(LoadResString(IDS_HISTORY_READING), L"{done}", std::to_wstring(m_nFilesRead)),
                    L"{total}", std::to_wstring(m_nFilesTotal));
    } else {
        text = Fill(Fill(LoadResString(IDS_HISTORY_READ), L"{runs}", std::to_wstring(m_runs.size())),
                    L"{files}", std::to_wstring(m_counts.files));
        if (m_counts.unknownLines != 0 || m_counts.heldFiles != 0 || m_counts.failedFiles != 0)
            text += Fill(
                Fill(LoadResString(IDS_HISTORY_SKIPPED), L"{lines}", std::to_wstring(m_counts.unknownLines)),
                L"{held}", std::to_wstring(m_counts.heldFiles + m_counts.failedFiles));
    }
    if (m_nSearchId != 0) {
        const std::wstring count = std::to_wstring(m_hits.size());
        text += L" — " + (!m_bSearchDone     ? LoadResString(IDS_HISTORY_SEARCHING)
                          : m_bSearchBounded ? Fill(LoadResString(IDS_HISTORY_BOUNDED), L"{count}", count)
                                             : Fill(LoadResString(IDS_HISTORY_HITS), L"{count}", count));
    }
    SetText(Item(IDC_HISTORY_STATUS), text);
}

void CHistoryWindow::SelectRun(int index) {
    const HWND hList = Item(IDC_HISTORY_RUNS);
    ListView_SetItemState(hList, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(hList, index, FALSE);
}

void CHistoryWindow::TrySelectPending() {
    if (!m_bHavePending) return;
    const int run = FindRun(m_runs, m_pending.startMs, m_pending.pid);
    if (run < 0) return;
    m_bHavePending = false;
    SelectRun(run);
}

void CHistoryWindow::ShowRun(int index) {
    if (index < 0 || static_cast<size_t>(index) >= m_runs.size()) return;
    m_nSelected = index;
    const AgentRun& run = m_runs[static_cast<size_t>(index)];
    std::wstring summary = LoadResString(IDS_HISTORY_SUMMARY);
    summary = Fill(summary, L"{pid}", std::to_wstring(run.pid));
    summary = Fill(summary, L"{start}", RunCell(run, 0));
    summary = Fill(summary, L"{end}", run.end == RunEnd::Running ? L"—" : RunCell(run, 1));
    summary = Fill(summary, L"{time}", RunCell(run, 2));
    summary = Fill(summary, L"{how}", RunCell(run, 3));
    summary = Fill(summary, L"{lines}", std::to_wstring(run.lines));
    const RunTail tail = ReadRunTail(m_source, m_files, run);
    std::wstring text = summary + L"\r\n\r\n" + LoadResString(IDS_HISTORY_LAST_LINES) + L"\r\n";
    for (const std::wstring& line : tail.lines) text += line + L"\r\n";
    text += L"\r\n" + LoadResString(IDS_HISTORY_END_LINE) + L"\r\n" + tail.endLine + L"\r\n";
    if (tail.bUnreadable) text += LoadResString(IDS_HISTORY_UNREADABLE) + L"\r\n";
    SetText(Item(IDC_HISTORY_DETAIL), text);
    ::InvalidateRect(Item(IDC_HISTORY_STRIP), nullptr, FALSE);
}

void CHistoryWindow::ShowHit(int index) {
    if (index < 0 || static_cast<size_t>(index) >= m_hits.size()) return;
    const SearchHit& hit = m_hits[static_cast<size_t>(index)];
    size_t at = 0;
    const std::vector<std::wstring> lines =
        ReadLinesAround(m_source, m_searchFiles, hit.at, kLinesAroundHit, kLinesAroundHit, at);
    std::wstring text = HitCell(hit, 1) + L"\r\n\r\n";
    for (size_t i = 0; i < lines.size(); ++i) text += (i == at ? L"> " : L"  ") + lines[i] + L"\r\n";
    if (lines.empty()) text += LoadResString(IDS_HISTORY_UNREADABLE);
    SetText(Item(IDC_HISTORY_DETAIL), text);
}

std::wstring CHistoryWindow::MarkText(const TimelineMark& mark, bool english) const {
    const AgentRun& run = m_runs[static_cast<size_t>(mark.run)];
    const std::wstring kind =
        english ? MarkKindName(mark.kind) : Word(IDS_HISTORY_MARKS, static_cast<size_t>(mark.kind));
    std::wstring text =
        (m_bWeek ? FormatHistoryTime(run.endMs).substr(5) : TimeOfDay(run.endMs)) + L" " + kind;
    if (run.end != RunEnd::LaunchFailed) text += L" pid " + std::to_wstring(run.pid);
    if (mark.count > 1) text += L" x" + std::to_wstring(mark.count);
    if (!english) {
        text = LoadResString(IDS_HISTORY_MARK_TIP);
        text = Fill(Fill(text, L"{time}", FormatHistoryTime(run.endMs)), L"{kind}", kind);
        text = Fill(Fill(text, L"{pid}", std::to_wstring(run.pid)), L"{how}", RunCell(run, 3));
        if (mark.count > 1) text += L" (x" + std::to_wstring(mark.count) + L")";
    }
    return text;
}

void CHistoryWindow::UpdateTimeline() {
    const HWND hStrip = Item(IDC_HISTORY_STRIP);
    if (hStrip == nullptr) return;
    RECT rc = {};
    ::GetClientRect(hStrip, &rc);
    m_stripTo = NowJournalMs();
    m_stripFrom = m_stripTo - (m_bWeek ? 7 * 24 : 24) * kHourMs;
    m_timeline = LayOutTimeline(m_runs, m_stripFrom, m_stripTo, rc.right - 2 * StripPad());
    m_nHoverMark = m_nFocusMark = -1;
    // The strip's name says what it shows, newest end first, for a screen
    // reader; the same words go to the debugger channel for the tests.
    std::wstring name = LoadResString(IDS_HISTORY_STRIP) + L", " +
                        LoadResString(m_bWeek ? IDS_HISTORY_WEEK : IDS_HISTORY_DAY);
    name.erase(std::remove(name.begin(), name.end(), L'&'), name.end());
    std::wstring trace = std::wstring(L"history strip ") + (m_bWeek ? L"7 d" : L"24 h") + L": " +
                         std::to_wstring(m_timeline.marks.size()) + L" marks";
    size_t named = 0;
    for (size_t i = m_timeline.marks.size(); i-- > 0 && named < kMarksNamed; ++named) {
        name += (named == 0 ? L": " : L"; ") + MarkText(m_timeline.marks[i], false);
        trace += (named == 0 ? L": " : L"; ") + MarkText(m_timeline.marks[i], true);
    }
    SetText(hStrip, name);
    if (trace != m_strTraced && m_bIndexed) {
        m_strTraced = trace;
        DebugTrace(trace);
    }
    ::InvalidateRect(hStrip, nullptr, TRUE);
}

void CHistoryWindow::SelectMark(int mark) {
    if (mark < 0 || static_cast<size_t>(mark) >= m_timeline.marks.size()) return;
    m_nFocusMark = mark;
    const int run = m_timeline.marks[static_cast<size_t>(mark)].run;
    ListView_SetItemState(Item(IDC_HISTORY_RUNS), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    SelectRun(run);
}

LRESULT CHistoryWindow::HandleStrip(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC hdc = ::BeginPaint(hWnd, &ps);
            PaintStrip(hWnd, hdc);
            ::EndPaint(hWnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            ::InvalidateRect(hWnd, nullptr, FALSE);
            return 0;
        case WM_LBUTTONDOWN: {
            ::SetFocus(hWnd);
            SelectMark(MarkAt(m_timeline, static_cast<short>(LOWORD(lParam)) - StripPad(), S(6)));
            return 0;
        }
        case WM_MOUSEMOVE: {
            const int mark = MarkAt(m_timeline, static_cast<short>(LOWORD(lParam)) - StripPad(), S(6));
            if (mark != m_nHoverMark) {
                m_nHoverMark = mark;
                ::SendMessageW(m_hTip, TTM_UPDATE, 0, 0);
            }
            return 0;
        }
        case WM_KEYDOWN: {
            const int n = static_cast<int>(m_timeline.marks.size());
            if (n == 0) return 0;
            int mark = m_nFocusMark < 0 ? n : m_nFocusMark;
            if (wParam == VK_LEFT) mark = std::max(mark - 1, 0);
            if (wParam == VK_RIGHT) mark = std::min(mark + 1, n - 1);
            if (wParam == VK_HOME) mark = 0;
            if (wParam == VK_END) mark = n - 1;
            if (mark < n) SelectMark(mark);
            ::InvalidateRect(hWnd, nullptr, FALSE);
            return 0;
        }
        default:
            return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
}

void CHistoryWindow::PaintStrip(HWND hWnd, HDC hdc) {
    RECT rc = {};
    ::GetClientRect(hWnd, &rc);
    const StripColors colors = ChooseStripColors();
    const int pad = StripPad();
    const auto fill = [&](RECT r, COLORREF c) {
        CBrushHandle brush(::CreateSolidBrush(c));
        ::FillRect(hdc, &r, brush.get());
    };
    fill(rc, ::GetSysColor(COLOR_BTNFACE));
    const int barTop = rc.bottom / 2 - S(8), barBottom = rc.bottom / 2 + S(8);
    fill(RECT{pad, barTop, rc.right - pad, barBottom}, colors.stopped);
    for (const TimelineSpan& span : m_timeline.running)
        fill(RECT{pad + span.x0, barTop, pad + span.x1, barBottom}, colors.running);
    // Ticks every 6 hours (every day on the week's strip).
    const int64_t tick = (m_bWeek ? 24 : 6) * kHourMs;
    const int width = rc.right - 2 * pad;
    for (int64_t t = m_stripTo - tick; t > m_stripFrom && width > 0; t -= tick) {
        const int x = pad + static_cast<int>((t - m_stripFrom) * width / (m_stripTo - m_stripFrom));
        fill(RECT{x, barBottom, x + 1, barBottom + S(4)}, colors.frame);
    }
    const HGDIOBJ oldPen = ::GetCurrentObject(hdc, OBJ_PEN), oldBrush = ::GetCurrentObject(hdc, OBJ_BRUSH);
    const int r = S(5), cy = rc.bottom / 2;
    const int selectedRun = m_nSelected;
    for (const TimelineMark& mark : m_timeline.marks) {
        const COLORREF c = colors.marks[static_cast<size_t>(mark.kind)];
        const int x = pad + mark.x;
        CPenHandle pen(::CreatePen(PS_SOLID, std::max(1, S(2)), c));
        CBrushHandle brush(::CreateSolidBrush(c));
        ::SelectObject(hdc, pen.get());
        ::SelectObject(hdc, brush.get());
        switch (mark.kind) {
            case MarkKind::Clean:
                ::Ellipse(hdc, x - r + 1, cy - r + 1, x + r, cy + r);
                break;
            case MarkKind::Crashed:
                ::MoveToEx(hdc, x - r, cy - r, nullptr);
                ::LineTo(hdc, x + r, cy + r);
                ::MoveToEx(hdc, x + r, cy - r, nullptr);
                ::LineTo(hdc, x - r, cy + r);
                break;
            case MarkKind::Forced:
                ::Rectangle(hdc, x - r, cy - r, x + r, cy + r);
                break;
            case MarkKind::LaunchFailed: {
                const POINT tri[] = {{x - r, cy - r}, {x + r, cy - r}, {x, cy + r}};
                ::SelectObject(hdc, ::GetStockObject(NULL_BRUSH));
                ::Polygon(hdc, tri, 3);
                break;
            }
        }
        ::SelectObject(hdc, oldPen);
        ::SelectObject(hdc, oldBrush);
        if (mark.run == selectedRun) {
            RECT ring{x - r - S(3), cy - r - S(3), x + r + S(3), cy + r + S(3)};
            CBrushHandle frame(::CreateSolidBrush(colors.frame));
            ::FrameRect(hdc, &ring, frame.get());
        }
    }
    if (::GetFocus() == hWnd) {
        RECT focus = rc;
        ::InflateRect(&focus, -1, -1);
        ::DrawFocusRect(hdc, &focus);
    }
}

}  // namespace

void ShowHistoryWindow(const JournalSource& source, HWND hCommands, const HistorySelection* select) {
    CHistoryWindow::Instance().Show(source, hCommands, select);
}

void CloseHistoryWindow() { CHistoryWindow::Instance().Close(); }

HWND HistoryWindowHandle() { return CHistoryWindow::Instance().Handle(); }
