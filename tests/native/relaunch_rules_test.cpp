#include "supervision/relaunch_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> Pauses(CRelaunchBackoff& backoff, int runs, uint32_t runMs) {
    std::vector<uint32_t> pauses;
    for (int i = 0; i < runs; ++i) pauses.push_back(backoff.OnRunEnded(runMs));
    return pauses;
}

TEST(RelaunchBackoff, RelaunchesAtOnceAfterRunsOfASecondOrMore) {
    CRelaunchBackoff backoff;
    EXPECT_EQ(Pauses(backoff, 5, 1000), std::vector<uint32_t>(5, 0));
    EXPECT_EQ(backoff.OnRunEnded(3600000), 0u);
}

TEST(RelaunchBackoff, ShortRunsInARowDoubleThePauseUpToTheCap) {
    CRelaunchBackoff backoff;
    const std::vector<uint32_t> expected = {0,    100,  200,   400,   800,   1600,
                                            3200, 6400, 10000, 10000, 10000, 10000};
    EXPECT_EQ(Pauses(backoff, 12, 0), expected);
    // Stays capped however long the failures go on.
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(backoff.OnRunEnded(999), 10000u);
}

TEST(RelaunchBackoff, ALongRunOrAResetStartsOver) {
    CRelaunchBackoff backoff;
    Pauses(backoff, 6, 10);
    EXPECT_EQ(backoff.OnRunEnded(1500), 0u);
    EXPECT_EQ(Pauses(backoff, 3, 10), (std::vector<uint32_t>{0, 100, 200}));
    backoff.Reset();
    EXPECT_EQ(Pauses(backoff, 2, 10), (std::vector<uint32_t>{0, 100}));
}

}  // namespace
