#include "app/tick_rules.h"

#include <gtest/gtest.h>

TEST(TickCount, CountsTheWrapsOfTheThirtyTwoBitCount) {
    EXPECT_EQ(ExtendTickCount(0, 5), 5u);
    EXPECT_EQ(ExtendTickCount(5, 5), 5u);
    // Just before and just after a wrap, then the next one.
    EXPECT_EQ(ExtendTickCount(0xFFFFFFF0u, 0xFFFFFFFFu), 0xFFFFFFFFu);
    const uint64_t wrapped = ExtendTickCount(0xFFFFFFFFu, 3);
    EXPECT_EQ(wrapped, 0x100000003u);
    EXPECT_EQ(ExtendTickCount(wrapped, 0x80000000u), 0x180000000u);
    EXPECT_EQ(ExtendTickCount(0x180000000u, 1), 0x200000001u);
}
