#include "supervision/launch_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(AgentLaunch, OnlyTheUsersOwnStartMayRaiseTheConsentPrompt) {
    EXPECT_EQ(FallbackForLaunchError(kErrorElevationRequired, true), LaunchFallback::ShellElevated);
    EXPECT_EQ(FallbackForLaunchError(kErrorElevationRequired, false), LaunchFallback::NeedsElevation);
    EXPECT_EQ(FallbackForLaunchError(kErrorBadExeFormat, false), LaunchFallback::Shell);
    EXPECT_EQ(FallbackForLaunchError(2, true), LaunchFallback::None);
}

}  // namespace
