#include "supervision/end_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(AgentEnd, AnUnreadableJobIsNotEmptyAndARefusedForceIsToldWhileSomethingRuns) {
    EXPECT_TRUE(JobCountsAsEmpty(true, 0));
    EXPECT_FALSE(JobCountsAsEmpty(true, 2));
    EXPECT_FALSE(JobCountsAsEmpty(false, 0));
    EXPECT_EQ(OutcomeOfForce(StopOutcome::GraceOver, 0, true), StopOutcome::GraceOver);
    EXPECT_EQ(OutcomeOfForce(StopOutcome::ForcedEarly, 5, true), StopOutcome::NotEnded);
    EXPECT_EQ(OutcomeOfForce(StopOutcome::GraceOver, 5, false), StopOutcome::EndedByItself);
}

TEST(AgentEnd, TheSupervisorGoesAfterTheAgentAtTheSessionsEnd) {
    EXPECT_EQ(SupervisorShutdownLevel(), 0x180u);
    EXPECT_LT(SupervisorShutdownLevel(0x3FF), 0x3FFu);
    EXPECT_EQ(SupervisorShutdownLevel(0x150), kLowestProgramShutdownLevel);
}

}  // namespace
