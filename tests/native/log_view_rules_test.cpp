#include "ui/log_view_rules.h"

#include <gtest/gtest.h>

TEST(LogViewRules, FollowsOnlyAtTheEndWithNothingSelected) {
    EXPECT_TRUE(LogViewFollows({40, 40, 3}, true));
    EXPECT_FALSE(LogViewFollows({40, 40, 3}, false));
    EXPECT_FALSE(LogViewFollows({10, 20, 3}, true));
}

TEST(LogViewRules, ATrimAboveKeepsTheReaderOnTheSameTextOrAtTheTop) {
    const LogViewPlace after = PlaceAfterDrop({100, 120, 9}, 30, 2);
    EXPECT_EQ(after.selStart, 70u);
    EXPECT_EQ(after.selEnd, 90u);
    EXPECT_EQ(after.firstLine, 7u);
    // The selection's start went with the trim: what is left of it stays selected.
    const LogViewPlace cut = PlaceAfterDrop({10, 50, 1}, 30, 3);
    EXPECT_EQ(cut.selStart, 0u);
    EXPECT_EQ(cut.selEnd, 20u);
    EXPECT_EQ(cut.firstLine, 0u);
}
