#include "framework/wait.h"

namespace {
// Removes and dispatches one message the way its window expects it.
void DispatchOne(const MSG& peeked) {
    MSG msg = {};
    const bool unicode = peeked.hwnd == nullptr || ::IsWindowUnicode(peeked.hwnd);
    const BOOL got = unicode ? ::GetMessageW(&msg, nullptr, 0, 0) : ::GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) return;
    ::TranslateMessage(&msg);
    if (unicode)
        ::DispatchMessageW(&msg);
    else
        ::DispatchMessageA(&msg);
}
}  // namespace

BOOL AtlWaitWithMessageLoop(HANDLE hObject) { return AtlWaitWithMessageLoop(hObject, INFINITE); }

BOOL AtlWaitWithMessageLoop(HANDLE hObject, DWORD timeoutMs) {
    // Elapsed time by unsigned difference, right across the tick count's wrap.
    const DWORD start = ::GetTickCount();
    auto expired = [&] { return timeoutMs != INFINITE && ::GetTickCount() - start >= timeoutMs; };
    for (;;) {
        DWORD leftMs = INFINITE;
        if (timeoutMs != INFINITE) {
            const DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= timeoutMs) return FALSE;
            leftMs = timeoutMs - elapsed;
        }
        const DWORD result =
            ::MsgWaitForMultipleObjectsEx(1, &hObject, leftMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) return TRUE;
        if (result == WAIT_TIMEOUT) continue;
        if (result != WAIT_OBJECT_0 + 1) return FALSE;
        MSG msg = {};
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            DispatchOne(msg);
            if (::WaitForSingleObject(hObject, 0) == WAIT_OBJECT_0) return TRUE;
            if (expired()) return FALSE;
        }
    }
}
