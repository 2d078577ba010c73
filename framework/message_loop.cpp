#include "framework/message_loop.h"

void CMessageLoop::AddMessageFilter(CMessageFilter* pFilter) { m_filters.push_back(pFilter); }

BOOL CMessageLoop::PreTranslateMessage(MSG* pMsg) {
    // The last registered filter sees the message first.
    for (auto it = m_filters.rbegin(); it != m_filters.rend(); ++it) {
        if ((*it)->PreTranslateMessage(pMsg)) return TRUE;
    }
    return FALSE;
}

int CMessageLoop::Run() {
    MSG msg = {};
    for (;;) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) break;
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
