// Find in the log view, as the system's editors do it: Ctrl+F opens the
// system's modeless Find dialog (up or down, match case), F3 and Shift+F3
// find the next and the previous match of the last text, a match is selected
// and scrolled into view, and a text that is not there is said in a message
// box.
//
// Threads: UI thread only. The dialog's record lives here as long as the
// dialog does.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

class CLogFind {
public:
    CLogFind();
    ~CLogFind();
    CLogFind(const CLogFind&) = delete;
    CLogFind& operator=(const CLogFind&) = delete;

    // Ctrl+F: the dialog, seeded with the selection when it is part of one
    // line; brought forward when it is open already.
    void Open(HWND hOwner, HWND hEdit);
    // F3 (bDown) and Shift+F3: the last text again; the dialog when there is
    // none yet.
    void FindAgain(HWND hOwner, HWND hEdit, bool bDown);
    // The owner's message map hands it what the dialog sends.
    bool IsFindMessage(UINT uMsg) const { return uMsg != 0 && uMsg == m_uFindMsg; }
    void OnFindMessage(HWND hOwner, HWND hEdit);
    // The message loop's filter: the dialog's own keys (Tab, Enter, Esc).
    bool PreTranslate(MSG* pMsg) const;
    HWND Dialog() const { return m_hDlg; }
    // Whether the key is Ctrl+F, F3 or Shift+F3 for the window, and acts.
    bool OnKey(const MSG& msg, HWND hOwner, HWND hEdit);

private:
    // Selects the next match; says so when there is none. False then.
    bool Search(HWND hOwner, HWND hEdit, bool bDown);

    const UINT m_uFindMsg;  // registered FINDMSGSTRINGW
    FINDREPLACEW m_fr;
    wchar_t m_szWhat[256] = {};
    HWND m_hDlg = nullptr;
};
