#include "framework/sleep_free_clock.h"

#include <windows.h>

namespace {

using UnbiasedTimeProc = BOOL(WINAPI*)(PULONGLONG);

// Not in the kernel32 of the oldest systems the builds start on.
UnbiasedTimeProc UnbiasedInterruptTime() {
    static const auto proc = reinterpret_cast<UnbiasedTimeProc>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryUnbiasedInterruptTime")));
    return proc;
}

}  // namespace

uint64_t SleepFreeMs() {
    ULONGLONG hundredNs = 0;
    if (const UnbiasedTimeProc proc = UnbiasedInterruptTime(); proc != nullptr && proc(&hundredNs))
        return hundredNs / 10000;
    return ::GetTickCount64();
}
