// A 64-bit millisecond count from the 32-bit one that wraps every 49.7 days,
// for systems that have no GetTickCount64 (Windows XP). No Win32 here.
#pragma once

#include <cstdint>

// The 64-bit count after last once the 32-bit count reads now: a count lower
// than last's low half means it wrapped since. Right as long as the count is
// read at least once per wrap.
inline uint64_t ExtendTickCount(uint64_t last, uint32_t now) {
    uint64_t wraps = last >> 32;
    if (now < static_cast<uint32_t>(last)) ++wraps;
    return (wraps << 32) | now;
}
