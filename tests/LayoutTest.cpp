#include <gtest/gtest.h>

#include <string.h>

#include "shell/LauncherState.h"
#include "ui/Layout.h"

namespace {

TEST(HitTest, EdgesAreInclusiveOnTheLeftAndTopOnly) {
    EXPECT_EQ(ITEM_PLAY, hitTest(590, 366));
    EXPECT_EQ(ITEM_PLAY, hitTest(739, 417));
    EXPECT_EQ(ITEM_NONE, hitTest(740, 366));
    EXPECT_EQ(ITEM_NONE, hitTest(590, 418));
    EXPECT_EQ(ITEM_NONE, hitTest(589, 400));
    EXPECT_EQ(ITEM_WEB, hitTest(48, 402));
    EXPECT_EQ(ITEM_NONE, hitTest(128, 410));
    EXPECT_EQ(ITEM_MINIMIZE, hitTest(731, 35));
    EXPECT_EQ(ITEM_CLOSE, hitTest(767, 10));
    EXPECT_EQ(ITEM_NONE, hitTest(768, 20));
}

TEST(HitTest, GapsAndTheWiderRepairTextAreDragArea) {
    for (int x = 128; x < 146; ++x) EXPECT_EQ(ITEM_NONE, hitTest(x, 410)) << x;
    for (int x = 732; x < 736; ++x) EXPECT_EQ(ITEM_NONE, hitTest(x, 20)) << x;
    EXPECT_EQ(ITEM_REPAIR, hitTest(215, 421));
    for (int x = 216; x < 226; ++x) EXPECT_EQ(ITEM_NONE, hitTest(x, 410)) << x;
    EXPECT_EQ(ITEM_NONE, hitTest(400, 200));  // news area
    EXPECT_EQ(ITEM_NONE, hitTest(300, 360));  // band
}

TEST(HitTest, NegativeAndFarPointsHitNothing) {
    EXPECT_EQ(ITEM_NONE, hitTest(-1, 400));
    EXPECT_EQ(ITEM_NONE, hitTest(600, -32768));
    EXPECT_EQ(ITEM_NONE, hitTest(-32768, -32768));
    EXPECT_EQ(ITEM_NONE, hitTest(32767, 32767));
}

TEST(ItemEnabled, FollowsTheSharedState) {
    LauncherState saved = launcherState;
    launcherState.readyToPlay = 0;
    launcherState.updateRunning = 1;
    launcherState.webUrl[0] = 0;
    EXPECT_FALSE(isItemEnabled(ITEM_PLAY));
    EXPECT_FALSE(isItemEnabled(ITEM_REPAIR));
    EXPECT_FALSE(isItemEnabled(ITEM_WEB));
    EXPECT_TRUE(isItemEnabled(ITEM_MINIMIZE));
    EXPECT_TRUE(isItemEnabled(ITEM_CLOSE));
    EXPECT_FALSE(isItemEnabled(ITEM_NONE));

    launcherState.readyToPlay = 1;
    launcherState.updateRunning = 0;
    strcpy(launcherState.webUrl, "https://orvel.example.invalid/");
    EXPECT_TRUE(isItemEnabled(ITEM_PLAY));
    EXPECT_TRUE(isItemEnabled(ITEM_REPAIR));
    EXPECT_TRUE(isItemEnabled(ITEM_WEB));
    launcherState = saved;
}

TEST(Progress, PercentageAndFillWidth) {
    char text[PERCENT_TEXT_SIZE];
    const struct {
        int permille;
        const char* text;
        int right;
    } cases[] = {{0, "0%", 48}, {1, "0%", 48}, {2, "0%", 49}, {425, "42%", 260}, {999, "99%", 547}, {1000, "100%", 548}};
    for (const auto& c : cases) {
        formatPercentage(c.permille, text);
        EXPECT_STREQ(c.text, text) << c.permille;
        EXPECT_EQ(c.right, progressFillRight(c.permille)) << c.permille;
    }
}

TEST(NewsRows, StepDownByThirtyFourPixelsAboveTheBand) {
    NewsRowRects first = newsRowRects(0), last = newsRowRects(3);
    EXPECT_EQ(206, first.accent.top);
    EXPECT_EQ(230, first.accent.bottom);
    EXPECT_EQ(308, last.accent.top);
    EXPECT_EQ(337, last.headline.bottom);
    EXPECT_LT(last.headline.bottom, RECT_BAND.top);
    EXPECT_EQ(60, last.caption.left);
    EXPECT_EQ(380, last.caption.right);
}

}  // namespace
