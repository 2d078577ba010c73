#include "ui/layout_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "res/resource.h"

namespace {

Rect WindowOfSize(int w, int h) { return Rect{0, 0, w, h}; }

TEST(CenterInWorkArea, CentresOnTheWorkArea) {
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(700, 420), Rect{0, 0, 1920, 1040}), (Point{610, 310}));
    // Where the window starts does not matter, only its size.
    EXPECT_EQ(CenterInWorkArea(Rect{-50, 300, 650, 720}, Rect{0, 0, 1920, 1040}), (Point{610, 310}));
    // A work area that does not start at the origin (taskbar on the left or top).
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(700, 420), Rect{60, 40, 1920, 1080}), (Point{640, 350}));
}

TEST(CenterInWorkArea, PutsAWindowLargerThanTheWorkAreaAtItsTopLeftCorner) {
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(2000, 1200), Rect{0, 0, 1920, 1040}), (Point{0, 0}));
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(2000, 1200), Rect{100, 30, 1920, 1040}), (Point{100, 30}));
    // Too wide only: left edge, still centred vertically.
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(2000, 420), Rect{0, 0, 1920, 1040}), (Point{0, 310}));
    // Too tall only: top edge, still centred horizontally.
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(700, 1100), Rect{0, 0, 1920, 1040}), (Point{610, 0}));
}

TEST(CenterInWorkArea, TruncatesHalvesTowardZeroOnMonitorsLeftOfAndAboveThePrimary) {
    // (-1279 + 0) / 2 = -639 and (-1081 + -40) / 2 = -560 toward zero; rounding
    // down would give -640 and -561.
    const Rect work{-1279, -1081, 0, -40};
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(101, 421), work), (Point{-639 - 50, -560 - 210}));
    // Larger than that work area: its top-left corner, negative as it is.
    EXPECT_EQ(CenterInWorkArea(WindowOfSize(1400, 1100), work), (Point{-1279, -1081}));
}

// The main dialog at set-up, in pixels, with the grip's row in front as the
// mix-in puts it.
std::vector<LayoutEntry> MainDialogEntries() {
    std::vector<LayoutEntry> entries = {
        {kSizeGripId, kResizeMoveX | kResizeMoveY | kResizeRepaint, Rect{666, 389, 683, 406}}};
    const Rect refs[] = {
        {11, 11, 672, 360},    // log
        {29, 372, 104, 395},   // Start
        {120, 372, 195, 395},  // Stop
        {597, 372, 672, 395},  // Hide
    };
    const DlgResizeEntry* map = MainDlgResizeMap();
    for (int i = 0; map[i].id != -1; ++i) entries.push_back({map[i].id, map[i].flags, refs[i]});
    return entries;
}

Rect Offset(const Rect& rc, int dx, int dy) {
    return Rect{rc.left + dx, rc.top + dy, rc.right + dx, rc.bottom + dy};
}

TEST(LayoutControl, GrowingBy100x50GrowsTheLogAndMovesTheButtonsAndGrip) {
    const auto entries = MainDialogEntries();
    const Rect grip = entries[0].ref, log = entries[1].ref, start = entries[2].ref, stop = entries[3].ref,
               hide = entries[4].ref;

    EXPECT_EQ(LayoutControl(entries[0], grip, 100, 50), Offset(grip, 100, 50));
    EXPECT_EQ(LayoutControl(entries[1], log, 100, 50),
              (Rect{log.left, log.top, log.right + 100, log.bottom + 50}));
    EXPECT_EQ(LayoutControl(entries[2], start, 100, 50), Offset(start, 0, 50));
    EXPECT_EQ(LayoutControl(entries[3], stop, 100, 50), Offset(stop, 0, 50));
    EXPECT_EQ(LayoutControl(entries[4], hide, 100, 50), Offset(hide, 100, 50));
}

TEST(LayoutControl, KeepsTheMarginsWhenShrinkingBackAndDoesNotDriftOverManyPasses) {
    auto entries = MainDialogEntries();
    std::vector<Rect> current;
    for (const auto& e : entries) current.push_back(e.ref);

    const int sizes[][2] = {{100, 50}, {37, 3}, {640, 480}, {1, 1}, {250, 0}, {0, 0}};
    for (int round = 0; round < 3; ++round) {
        for (const auto& d : sizes) {
            for (size_t i = 0; i < entries.size(); ++i)
                current[i] = LayoutControl(entries[i], current[i], d[0], d[1]);
        }
        // Back at the reference size every control is exactly where it started.
        for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(current[i], entries[i].ref) << i;
    }
}

TEST(RespondToSize, MinimisingKeepsTheGripAndLaysNothingOut) {
    const SizeResponse minimised = RespondToSize(1);
    EXPECT_EQ(minimised.grip, GripChange::Keep);
    EXPECT_FALSE(minimised.layout);
    // Restored shows the grip, maximised hides it; both lay the controls out,
    // as does the size of another window changing.
    EXPECT_EQ(RespondToSize(0).grip, GripChange::Show);
    EXPECT_EQ(RespondToSize(2).grip, GripChange::Hide);
    for (unsigned type : {0u, 2u, 3u, 4u}) EXPECT_TRUE(RespondToSize(type).layout) << type;
    EXPECT_EQ(RespondToSize(3).grip, GripChange::Keep);
}

}  // namespace
