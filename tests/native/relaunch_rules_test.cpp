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

TEST(RelaunchBackoff, ExitsRightAfterAResumeNeitherCountNorSpin) {
    CRelaunchBackoff backoff;
    Pauses(backoff, 4, 10);  // the loop was at 400 ms before the sleep
    for (int i = 0; i < 50; ++i) ASSERT_EQ(backoff.OnRunEnded(10, true), CRelaunchBackoff::kFirstPauseMs);
    EXPECT_EQ(backoff.OnRunEnded(10), 800u);  // the count goes on where it was
    EXPECT_EQ(backoff.OnRunEnded(5000, true), 0u);

    EXPECT_FALSE(IsResumeExempt(40000, 0));  // no resume yet
    EXPECT_TRUE(IsResumeExempt(40000, 40000));
    EXPECT_TRUE(IsResumeExempt(69999, 40000));
    EXPECT_FALSE(IsResumeExempt(70000, 40000));
    EXPECT_FALSE(IsResumeExempt(39000, 40000));  // ended before the resume was seen
}
