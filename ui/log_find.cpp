#include "ui/log_find.h"

#include "framework/strings.h"
#include "framework/text_fill.h"
#include "resource.h"
#include "ui/log_text_rules.h"

namespace {
std::wstring WindowText(HWND hWnd) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hWnd)) + 1, L'\0');
    const int n = ::GetWindowTextW(hWnd, &text[0], static_cast<int>(text.size()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

void Fold(std::wstring& text) {
    if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
}

void GetSelection(HWND hEdit, DWORD& start, DWORD& end) {
    start = end = 0;
    ::SendMessageW(hEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
}
}  // namespace

CLogFind::CLogFind() : m_uFindMsg(::RegisterWindowMessageW(FINDMSGSTRINGW)), m_fr() {
    m_fr.lStructSize = sizeof(m_fr);
    m_fr.Flags = FR_DOWN;
}

CLogFind::~CLogFind() {
    // Gone already when its owner went first.
    if (m_hDlg != nullptr && ::IsWindow(m_hDlg)) ::DestroyWindow(m_hDlg);
}

void CLogFind::Open(HWND hOwner, HWND hEdit) {
    if (m_hDlg != nullptr) {
        ::SetActiveWindow(m_hDlg);
        return;
    }
    DWORD start = 0, end = 0;
    GetSelection(hEdit, start, end);
    if (end > start) {
        const std::wstring selected = WindowText(hEdit).substr(start, end - start);
        if (selected.size() < ARRAYSIZE(m_szWhat) && selected.find_first_of(L"\r\n") == std::wstring::npos)
            ::lstrcpynW(m_szWhat, selected.c_str(), ARRAYSIZE(m_szWhat));
    }
    m_fr.hwndOwner = hOwner;
    m_fr.lpstrFindWhat = m_szWhat;
    m_fr.wFindWhatLen = static_cast<WORD>(sizeof(m_szWhat));
    // Whole words are the editors' business, not a log's.
    m_fr.Flags = (m_fr.Flags & (FR_DOWN | FR_MATCHCASE)) | FR_HIDEWHOLEWORD;
    m_hDlg = ::FindTextW(&m_fr);
}

void CLogFind::FindAgain(HWND hOwner, HWND hEdit, bool bDown) {
    if (m_szWhat[0] == L'\0') {
        Open(hOwner, hEdit);
        return;
    }
    Search(hOwner, hEdit, bDown);
}

void CLogFind::OnFindMessage(HWND hOwner, HWND hEdit) {
    if (m_fr.Flags & FR_DIALOGTERM) {
        m_hDlg = nullptr;
        return;
    }
    if (m_fr.Flags & FR_FINDNEXT) Search(hOwner, hEdit, (m_fr.Flags & FR_DOWN) != 0);
}

bool CLogFind::PreTranslate(MSG* pMsg) const {
    return m_hDlg != nullptr && ::IsDialogMessageW(m_hDlg, pMsg) != FALSE;
}

bool CLogFind::OnKey(const MSG& msg, HWND hOwner, HWND hEdit) {
    if (msg.message != WM_KEYDOWN) return false;
    // In the window and in the Find dialog, as the editors have it.
    const bool bOurs = msg.hwnd == hOwner || ::IsChild(hOwner, msg.hwnd) ||
                       (m_hDlg != nullptr && (msg.hwnd == m_hDlg || ::IsChild(m_hDlg, msg.hwnd)));
    if (!bOurs) return false;
    const bool bCtrl = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    const bool bShift = (::GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (msg.wParam == 'F' && bCtrl && !bShift) {
        Open(hOwner, hEdit);
        return true;
    }
    if (msg.wParam == VK_F3 && !bCtrl) {
        FindAgain(hOwner, hEdit, !bShift);
        return true;
    }
    return false;
}

bool CLogFind::Search(HWND hOwner, HWND hEdit, bool bDown) {
    std::wstring text = WindowText(hEdit);
    std::wstring what = m_szWhat;
    if (!(m_fr.Flags & FR_MATCHCASE)) {
        Fold(text);
        Fold(what);
    }
    DWORD start = 0, end = 0;
    GetSelection(hEdit, start, end);
    const size_t at = FindInViewText(text, what, start, end, bDown);
    if (at == std::wstring::npos) {
        const std::wstring message = FillMark(LoadResString(IDS_FIND_CANNOT_FIND), L"{text}", m_szWhat);
        // Over the Find dialog while it is open, as the editors do.
        ::MessageBoxW(m_hDlg != nullptr ? m_hDlg : hOwner, message.c_str(),
                      LoadResString(IDR_MAINFRAME).c_str(), MB_OK | MB_ICONINFORMATION);
        return false;
    }
    ::SendMessageW(hEdit, EM_SETSEL, at, at + what.size());
    ::SendMessageW(hEdit, EM_SCROLLCARET, 0, 0);
    return true;
}
