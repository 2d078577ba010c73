// The log view's own context menu: Copy, Select All, Save As..., Open Log
// Folder, Save diagnostics..., Clear. It replaces the edit control's menu,
// which offers editing a read-only view cannot do.
#include "ui/main_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include "diagnostics/bundle_runs.h"
#include "diagnostics/diagnostics_bundle.h"
#include "host/agent_host.h"
#include "journal/journal.h"
#include "output/output_sink.h"
#include "framework/debug_trace.h"
#include "framework/handle.h"
#include "framework/strings.h"
#include "framework/text_fill.h"
#include "framework/utf8.h"
#include "ui/diagnostics_save.h"
#include "ui/log_text_rules.h"

namespace {
constexpr UINT_PTR kLogSubclassId = 1;

std::wstring WindowText(HWND hWnd) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hWnd)) + 1, L'\0');
    const int n = ::GetWindowTextW(hWnd, &text[0], static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// The selection as the view shows it, one line end a line, as Unicode text.
void CopySelection(HWND hEdit) {
    DWORD start = 0, end = 0;
    ::SendMessageW(hEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const std::wstring view = WindowText(hEdit);
    if (end <= start || end > view.size()) return;
    const std::wstring text = ViewTextAsLines(std::wstring_view(view).substr(start, end - start));
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL hData = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (hData == nullptr) return;
    if (void* p = ::GlobalLock(hData)) {
        ::memcpy(p, text.c_str(), bytes);
        ::GlobalUnlock(hData);
    }
    if (::OpenClipboard(hEdit)) {
        ::EmptyClipboard();
        // The clipboard owns the memory once it took it.
        if (::SetClipboardData(CF_UNICODETEXT, hData) != nullptr) hData = nullptr;
        ::CloseClipboard();
    }
    if (hData != nullptr) ::GlobalFree(hData);
}

// The edit control keeps its menu to itself; this hands the request to the
// dialog instead. Its copy (Ctrl+C, Ctrl+Insert) becomes the view's lines.
LRESULT CALLBACK LogEditProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                             DWORD_PTR /*data*/) {
    if (uMsg == WM_CONTEXTMENU) return ::SendMessageW(::GetParent(hWnd), WM_CONTEXTMENU, wParam, lParam);
    if (uMsg == WM_COPY) {
        CopySelection(hWnd);
        return 0;
    }
    if (uMsg == WM_NCDESTROY) ::RemoveWindowSubclass(hWnd, &LogEditProc, kLogSubclassId);
    return ::DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

}  // namespace

void CMainDlg::InitLogMenu() {
    if (m_hLogEdit != nullptr) ::SetWindowSubclass(m_hLogEdit, &LogEditProc, kLogSubclassId, 0);
}

LRESULT CMainDlg::OnLogContextMenu(LPARAM lParam) {
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (lParam == -1) {
        // From the keyboard: at the view's top left corner.
        RECT rc = {};
        ::GetWindowRect(m_hLogEdit, &rc);
        pt = POINT{rc.left + 8, rc.top + 8};
    }
    CMenuHandle menu(::CreatePopupMenu());
    if (!menu) return 0;
    DWORD selStart = 0, selEnd = 0;
    ::SendMessageW(m_hLogEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                   reinterpret_cast<LPARAM>(&selEnd));
    const struct {
        UINT id;
        UINT textId;
        bool enabled;
    } items[] = {{ID_LOG_COPY, IDS_LOG_COPY, selEnd > selStart},
                 {ID_LOG_SELECT_ALL, IDS_LOG_SELECT_ALL, true},
                 {0, 0, true},
                 {ID_LOG_SAVE_AS, IDS_LOG_SAVE_AS, true},
                 {ID_LOG_OPEN_FOLDER, IDS_LOG_OPEN_FOLDER, m_spJournal && !m_spJournal->Folder().empty()},
                 {ID_APP_HISTORY, IDS_LOG_HISTORY, m_spJournal && !m_spJournal->Folder().empty()},
                 {ID_LOG_SAVE_DIAGNOSTICS, IDS_LOG_SAVE_DIAGNOSTICS, m_strDiagnosticsPath.empty()},
                 {0, 0, true},
                 {ID_LOG_CLEAR, IDS_LOG_CLEAR, true}};
    for (const auto& item : items) {
        if (item.id == 0) {
            ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
            continue;
        }
        ::AppendMenuW(menu.get(), MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED), item.id,
                      LoadResString(item.textId).c_str());
    }
    // The command arrives as WM_COMMAND, like the buttons'.
    ::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd,
                     nullptr);
    return 0;
}

void CMainDlg::OnLogCopy() { ::SendMessageW(m_hLogEdit, WM_COPY, 0, 0); }

void CMainDlg::OnLogSelectAll() { ::SendMessageW(m_hLogEdit, EM_SETSEL, 0, -1); }

void CMainDlg::OnLogSaveAs() {
    std::wstring filter = LoadResString(IDS_LOG_SAVE_FILTER);
    for (wchar_t& ch : filter) {
        if (ch == L'|') ch = L'\0';
    }
    filter.push_back(L'\0');
    wchar_t file[MAX_PATH] = L"Tollvane-log.txt";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (!::GetSaveFileNameW(&ofn)) return;
    SaveLogText(file);
}

bool CMainDlg::SaveLogText(const std::wstring& path) {
    const std::string bytes = "\xEF\xBB\xBF" + ToUtf8(ViewTextAsLines(WindowText(m_hLogEdit)));
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const bool ok =
        file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    if (!ok) DebugTrace(L"Save As failed: " + path);
    return ok;
}

void CMainDlg::OnLogOpenFolder() {
    if (!m_spJournal || m_spJournal->Folder().empty()) return;
    const std::wstring& folder = m_spJournal->Folder();
    // Nothing may have been written yet.
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    ::ShellExecuteW(m_hWnd, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CMainDlg::OnJournalTrouble() {
    if (!m_spJournal || !m_spOutput) return;
    const CJournal& journal = *m_spJournal;
    const JournalTrouble trouble = journal.Trouble();
    if (static_cast<int>(trouble) == m_nJournalTroubleSaid) return;
    m_nJournalTroubleSaid = static_cast<int>(trouble);
    // The tooltip's note lasts as long as the trouble; the view's line stays.
    if (trouble == JournalTrouble::None) {
        SetTrayNote(IDS_TIP_JOURNAL_FAILING, std::wstring());
        return;
    }
    const std::wstring error = std::to_wstring(journal.TroubleError());
    UINT tipId = IDS_TIP_JOURNAL_FAILING, lineId = IDS_JOURNAL_CANNOT_WRITE;
    if (trouble == JournalTrouble::NoFolder) {
        tipId = IDS_TIP_JOURNAL_OFF;
        lineId = IDS_JOURNAL_NO_FOLDER;
    } else if (trouble == JournalTrouble::Stopped) {
        tipId = IDS_TIP_JOURNAL_STOPPED;
        lineId = IDS_JOURNAL_STOPPED;
    }
    SetTrayNote(IDS_TIP_JOURNAL_FAILING, FillMark(LoadResString(tipId), L"{error}", error));
    m_spOutput->AppendNotice(
        FillMark(FillMark(LoadResString(lineId), L"{path}", journal.FilePath()), L"{error}", error));
}

void CMainDlg::OnLogClear() {
    if (COutputSink* pOutput = Output()) pOutput->Clear();
}

void CMainDlg::OnLogSaveDiagnostics(HWND hOwner) {
    if (!m_strDiagnosticsPath.empty()) return;  // one bundle at a time
    const std::wstring path = AskDiagnosticsPath(hOwner);
    if (path.empty()) return;
    DiagnosticsRequest request;
    request.zipPath = path;
    if (m_spJournal && !m_spJournal->Folder().empty()) {
        request.journalFolder = m_spJournal->Folder();
        request.journalFileName = m_spJournal->FileName();
        request.readRuns = &ReadBundleRuns;
    }
    DiagnosticsFacts& facts = request.facts;
    facts.productVersion = L"" TOLLVANE_FILE_VERSION_STR;
    facts.build = std::wstring(TOLLVANE_VERSION_LABEL) + (sizeof(void*) == 8 ? L", 64-bit" : L", 32-bit");
    facts.dpi = m_uDpi;
    if (m_pHost) facts.agentPath = m_pHost->AgentPath();
    facts.held = m_strHeld;
    if (!StartDiagnosticsBundle(std::move(request), m_hWnd, WM_APP_DIAGNOSTICS)) {
        SayDiagnosticsFailed(hOwner, path, ::GetLastError());
        return;
    }
    m_strDiagnosticsPath = path;
    m_hDiagnosticsOwner = hOwner;
}

void CMainDlg::OnDiagnosticsDone(DWORD error) {
    const std::wstring path = std::move(m_strDiagnosticsPath);
    m_strDiagnosticsPath.clear();
    if (error != 0) {
        DebugTrace(L"diagnostics not saved: " + path);
        SayDiagnosticsFailed(::IsWindow(m_hDiagnosticsOwner) ? m_hDiagnosticsOwner : m_hWnd, path, error);
    }
    m_hDiagnosticsOwner = nullptr;
}
