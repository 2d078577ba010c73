#include "ui/tray_group_rules.h"

#include <gtest/gtest.h>

namespace {

// The resource's menu: Start, Stop, Show Window, separator, About, Exit.
const std::vector<unsigned> kBase = {32786, 32787, 32790, 0, 57664, 57665};
const std::vector<TrayGroupEntry> kGroup = {{190, 32840, 5}, {191, 32850, 6}, {199, 32860, 0}};

TEST(TrayGroup, GoesBetweenShowWindowAndAboutSetOffBySeparators) {
    const std::vector<TrayMenuSlot> expected = {{32786, false}, {32787, false}, {32790, false}, {0, false},
                                                {190, true},    {191, true},    {32860, false}, {0, false},
                                                {57664, false}, {57665, false}};
    EXPECT_EQ(TrayMenuWithGroup(kBase, 57664, kGroup), expected);
    EXPECT_EQ(TrayGroupPosition(kBase, 57664), 4u);
    // Without a separator before About, the group brings its own.
    const std::vector<TrayMenuSlot> bare = TrayMenuWithGroup({32790, 57664}, 57664, {{190, 32840, 5}});
    EXPECT_EQ(bare, (std::vector<TrayMenuSlot>{
                        {32790, false}, {0, false}, {190, true}, {0, false}, {57664, false}}));
    // Beside an entry the resource has in that place (History…), one group.
    const std::vector<unsigned> withHistory = {32786, 32787, 32790, 0, 32820, 0, 57664, 57665};
    EXPECT_EQ(TrayGroupPosition(withHistory, 57664), 5u);
    EXPECT_EQ(TrayMenuWithGroup(withHistory, 57664, {{190, 32840, 5}, {191, 32850, 6}}),
              (std::vector<TrayMenuSlot>{{32786, false},
                                         {32787, false},
                                         {32790, false},
                                         {0, false},
                                         {32820, false},
                                         {190, true},
                                         {191, true},
                                         {0, false},
                                         {57664, false},
                                         {57665, false}}));
    // No group, no change.
    EXPECT_EQ(TrayMenuWithGroup(kBase, 57664, {}).size(), kBase.size());
}

TEST(TrayGroup, ACommandNamesItsEntryAndChoice) {
    size_t entry = 9, choice = 9;
    EXPECT_TRUE(FindGroupChoice(kGroup, 32844, entry, choice));
    EXPECT_EQ(entry, 0u);
    EXPECT_EQ(choice, 4u);
    EXPECT_TRUE(FindGroupChoice(kGroup, 32850, entry, choice));
    EXPECT_EQ(entry, 1u);
    EXPECT_EQ(choice, 0u);
    EXPECT_TRUE(FindGroupChoice(kGroup, 32860, entry, choice));
    EXPECT_EQ(entry, 2u);
    EXPECT_FALSE(FindGroupChoice(kGroup, 32845, entry, choice));
    EXPECT_FALSE(FindGroupChoice(kGroup, 32856, entry, choice));
    const uint32_t choices[] = {0, 1, 5, 15, 60};
    EXPECT_EQ(CheckedChoice(choices, 5, 15), 3);
    EXPECT_EQ(CheckedChoice(choices, 5, 10), -1);
}

}  // namespace
