// GetTickCount64 as the statically linked threads runtime imports it. That
// import alone would keep both programs from loading on Windows XP, which has
// no such export; defining the import's slot here links the runtime to this
// function instead, which calls the system's where there is one and counts
// the 32-bit count's wraps where there is not. Linked into each executable
// as an object of its own: from a library it would come too late to stand in.
#include <windows.h>

#include <atomic>

#include "app/tick_rules.h"

namespace {

using TickCount64Proc = ULONGLONG(WINAPI*)();

// Looked up once; a race only looks it up twice.
TickCount64Proc SystemTickCount64() {
    static std::atomic<TickCount64Proc> s_proc{nullptr};
    static std::atomic<bool> s_resolved{false};
    if (!s_resolved.load(std::memory_order_acquire)) {
        if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll"))
            s_proc.store(reinterpret_cast<TickCount64Proc>(
                             reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount64"))),
                         std::memory_order_relaxed);
        s_resolved.store(true, std::memory_order_release);
    }
    return s_proc.load(std::memory_order_relaxed);
}

// The last count handed out: its wraps above, GetTickCount's reading below.
std::atomic<uint64_t> g_lastTicks{0};

ULONGLONG WINAPI TickCount64() {
    if (const TickCount64Proc proc = SystemTickCount64()) return proc();
    uint64_t last = g_lastTicks.load();
    for (;;) {
        const uint64_t next = ExtendTickCount(last, ::GetTickCount());
        if (g_lastTicks.compare_exchange_weak(last, next)) return next;
    }
}

}  // namespace

#if defined(__MINGW32__)
// The slot the runtime calls through, under the name the import library
// would give it (the 32-bit name carries the stdcall decoration).
#if defined(_WIN64)
#define TICK_COUNT64_SLOT "__imp_GetTickCount64"
#else
#define TICK_COUNT64_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" ULONGLONG(WINAPI* g_tickCount64Slot)() __asm__(TICK_COUNT64_SLOT);
ULONGLONG(WINAPI* g_tickCount64Slot)() = &TickCount64;
#endif
