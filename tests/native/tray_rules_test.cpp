#include "ui/tray_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "res/resource.h"

namespace {

constexpr unsigned kIconId = IDR_TRAY_MENU;

TEST(TrayActionFor, RightReleaseOpensTheMenuAndDoubleClickShowsTheWindow) {
    EXPECT_EQ(TrayActionFor(kIconId, 0x0205, kIconId), TrayAction::OpenMenu);
    EXPECT_EQ(TrayActionFor(kIconId, 0x0203, kIconId), TrayAction::ShowWindow);
    // Only the low word is the mouse message.
    EXPECT_EQ(TrayActionFor(kIconId, 0x7FFF0205, kIconId), TrayAction::OpenMenu);
    EXPECT_EQ(TrayActionFor(kIconId, -65536 + 0x0203, kIconId), TrayAction::ShowWindow);
    EXPECT_EQ(TrayActionFor(kIconId, 0x0405, kIconId), TrayAction::BalloonClicked);
    EXPECT_EQ(TrayActionFor(203, 0x0405, kIconId), TrayAction::None);
}

TEST(TrayActionFor, IgnoresOtherMouseEventsAndOtherIcons) {
    // Move, left down/up (a single click), right down, middle down/up/double-click.
    for (std::intptr_t m : {0x0200, 0x0201, 0x0202, 0x0204, 0x0206, 0x0207, 0x0208, 0x0209})
        EXPECT_EQ(TrayActionFor(kIconId, m, kIconId), TrayAction::None) << std::hex << m;
    EXPECT_EQ(TrayActionFor(203, 0x0205, kIconId), TrayAction::None);
    EXPECT_EQ(TrayActionFor(0, 0x0203, kIconId), TrayAction::None);
    // An id that only matches in its low word is another icon.
    EXPECT_EQ(TrayActionFor(0x10000u + kIconId, 0x0203, kIconId), TrayAction::None);
}

const TrayMenuItem& Item(const std::array<TrayMenuItem, 6>& items, unsigned id) {
    for (const auto& item : items)
        if (item.id == id) return item;
    ADD_FAILURE() << "no item " << id;
    return items[0];
}

TEST(TrayMenuItems, AgentStoppedWindowHidden) {
    const auto items = TrayMenuItems(/*stopRequested=*/true, /*windowShown=*/false);
    EXPECT_EQ(Item(items, ID_AGENT_START).textId, static_cast<unsigned>(IDS_START));
    EXPECT_EQ(Item(items, ID_AGENT_STOP).textId, static_cast<unsigned>(IDS_STOP));
    EXPECT_TRUE(Item(items, ID_AGENT_STOP).setsState);
    EXPECT_FALSE(Item(items, ID_AGENT_STOP).enabled);
    EXPECT_EQ(Item(items, ID_SHOW_WINDOW).textId, static_cast<unsigned>(IDS_SHOW_WINDOW));
    EXPECT_EQ(Item(items, ID_APP_ABOUT).textId, static_cast<unsigned>(IDS_ABOUT));
    EXPECT_EQ(Item(items, ID_APP_EXIT).textId, static_cast<unsigned>(IDS_EXIT));
    EXPECT_EQ(Item(items, ID_APP_HISTORY).textId, static_cast<unsigned>(IDS_HISTORY_MENU));
    EXPECT_TRUE(Item(items, ID_APP_HISTORY).enabled);
}

TEST(TrayMenuLayout, TheFirstEntriesKeepTheirOrderAndTheAddedGroupSitsBetweenSeparatorsBeforeAbout) {
    const auto& layout = kTrayMenuLayout;
    std::vector<unsigned> first;
    for (unsigned id : layout)
        if (id == ID_AGENT_START || id == ID_AGENT_STOP || id == ID_SHOW_WINDOW || id == ID_APP_ABOUT ||
            id == ID_APP_EXIT || id == 0)
            first.push_back(id);
    // The six of old, in their order, with the one separator before About.
    ASSERT_GE(first.size(), 6u);
    EXPECT_EQ(std::vector<unsigned>(first.begin(), first.begin() + 4),
              (std::vector<unsigned>{ID_AGENT_START, ID_AGENT_STOP, ID_SHOW_WINDOW, 0}));
    EXPECT_EQ(layout[layout.size() - 2], static_cast<unsigned>(ID_APP_ABOUT));
    EXPECT_EQ(layout.back(), static_cast<unsigned>(ID_APP_EXIT));
    // The added group: after Show Window's separator, closed by one before About.
    EXPECT_EQ(layout[2], static_cast<unsigned>(ID_SHOW_WINDOW));
    EXPECT_EQ(layout[3], 0u);
    EXPECT_EQ(layout[layout.size() - 3], 0u);
    for (size_t i = 4; i + 3 < layout.size(); ++i) EXPECT_NE(layout[i], 0u) << i;
    EXPECT_NE(std::find(layout.begin(), layout.end(), static_cast<unsigned>(ID_APP_HISTORY)), layout.end());
    // Every item the menu prepares has its place.
    for (const TrayMenuItem& item : TrayMenuItems(true, false))
        EXPECT_NE(std::find(layout.begin(), layout.end(), item.id), layout.end()) << item.id;
}

TEST(TrayMenuItems, AgentRunningWindowShown) {
    const auto items = TrayMenuItems(/*stopRequested=*/false, /*windowShown=*/true);
    EXPECT_EQ(Item(items, ID_AGENT_START).textId, static_cast<unsigned>(IDS_RESTART));
    EXPECT_TRUE(Item(items, ID_AGENT_STOP).enabled);
    EXPECT_EQ(Item(items, ID_SHOW_WINDOW).textId, static_cast<unsigned>(IDS_HIDE_WINDOW));
}

TEST(ClampMenuX, PullsAnOffMonitorCursorIntoTheWorkAreaBothEndsIncluded) {
    const Rect work{-1280, 0, 0, 1024};
    EXPECT_EQ(ClampMenuX(-3000, work), -1280);
    EXPECT_EQ(ClampMenuX(-1281, work), -1280);
    EXPECT_EQ(ClampMenuX(1, work), 0);
    EXPECT_EQ(ClampMenuX(5000, work), 0);
    EXPECT_EQ(ClampMenuX(-1280, work), -1280);
    EXPECT_EQ(ClampMenuX(0, work), 0);
    EXPECT_EQ(ClampMenuX(-640, work), -640);
}

}  // namespace

TEST(TroubleEpisode, ACrashLoopAFailingLaunchAndAMissingAgentAreEachToldOncePerEpisode) {
    CTroubleEpisode episode;
    EXPECT_EQ(episode.OnCrashLoopPause(800), TroubleNotice::None);
    EXPECT_EQ(episode.OnCrashLoopPause(1000), TroubleNotice::CrashLoop);
    EXPECT_EQ(episode.OnCrashLoopPause(2000), TroubleNotice::None);
    EXPECT_EQ(episode.OnLaunchFailurePause(800), TroubleNotice::None);
    EXPECT_EQ(episode.OnLaunchFailurePause(1600), TroubleNotice::LaunchFailing);
    EXPECT_EQ(episode.OnLaunchFailurePause(3200), TroubleNotice::None);
    EXPECT_EQ(episode.OnAgentMissing(), TroubleNotice::AgentMissing);
    EXPECT_EQ(episode.OnAgentMissing(), TroubleNotice::None);
    // A run short of 30 s does not end the episode; one of 30 s does.
    episode.OnRunEnded(29999);
    EXPECT_EQ(episode.OnCrashLoopPause(10000), TroubleNotice::None);
    episode.OnRunEnded(30000);
    EXPECT_EQ(episode.OnCrashLoopPause(1600), TroubleNotice::CrashLoop);
    // So does the user acting.
    episode.OnUserAction();
    EXPECT_EQ(episode.OnAgentMissing(), TroubleNotice::AgentMissing);
    EXPECT_EQ(episode.OnLaunchFailurePause(10000), TroubleNotice::LaunchFailing);
    EXPECT_EQ(episode.OnCrashLoopPause(1000), TroubleNotice::CrashLoop);
}

TEST(TroubleEpisode, AnUnaskedExitWithACodeIsACrashToldOncePerEpisode) {
    CTroubleEpisode episode;
    EXPECT_EQ(episode.OnExit(/*bAsked=*/false, 0), TroubleNotice::None);
    EXPECT_EQ(episode.OnExit(/*bAsked=*/true, 0xC0000005), TroubleNotice::None);
    EXPECT_EQ(episode.OnExit(false, 0xC0000005), TroubleNotice::Crash);
    EXPECT_EQ(episode.OnExit(false, 1), TroubleNotice::None);
    // The loop that follows is told as well, once.
    EXPECT_EQ(episode.OnCrashLoopPause(1000), TroubleNotice::CrashLoop);
    episode.OnRunEnded(30000);
    EXPECT_EQ(episode.OnExit(false, 1), TroubleNotice::Crash);
}
