#include "framework/message_loop.h"

#include <algorithm>

namespace {
constexpr UINT kSystemTimer = 0x0118;

template <typename T>
void EraseOne(std::vector<T*>& items, T* item) {
    auto it = std::find(items.begin(), items.end(), item);
    if (it != items.end()) items.erase(it);
}
}  // namespace

void CMessageLoop::AddMessageFilter(CMessageFilter* pFilter) { m_filters.push_back(pFilter); }
void CMessageLoop::RemoveMessageFilter(CMessageFilter* pFilter) { EraseOne(m_filters, pFilter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* pHandler) { m_idleHandlers.push_back(pHandler); }
void CMessageLoop::RemoveIdleHandler(CIdleHandler* pHandler) { EraseOne(m_idleHandlers, pHandler); }

bool CMessageLoop::IsIdleMessage(const MSG& msg) {
    switch (msg.message) {
        case WM_MOUSEMOVE:
        case WM_NCMOUSEMOVE:
        case WM_PAINT:
        case kSystemTimer:
            return false;
        default:
            return true;
    }
}

BOOL CMessageLoop::OnIdle() {
    // A copy, so a handler may unregister itself.
    const std::vector<CIdleHandler*> handlers = m_idleHandlers;
    for (CIdleHandler* handler : handlers) handler->OnIdle();
    return FALSE;
}

BOOL CMessageLoop::PreTranslateMessage(MSG* pMsg) {
    // The last registered filter sees the message first.
    for (auto it = m_filters.rbegin(); it != m_filters.rend(); ++it) {
        if ((*it)->PreTranslateMessage(pMsg)) return TRUE;
    }
    return FALSE;
}

int CMessageLoop::Run() {
    MSG msg = {};
    bool idle = true;
    for (;;) {
        while (idle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle()) idle = false;
        }
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) break;
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (IsIdleMessage(msg)) idle = true;
    }
    return static_cast<int>(msg.wParam);
}
