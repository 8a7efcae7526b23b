#include <gtest/gtest.h>

#include "ui/Layout.h"

namespace {

// Right and bottom edges are outside a control; gaps between controls and the
// part of the repair text past its region belong to the drag area.
TEST(HitTest, EdgesGapsAndFarPoints) {
    // clang-format off
    const struct {
        int x, y, item;
    } cases[] = {
        {590, 366, ITEM_PLAY},   {739, 417, ITEM_PLAY},     {740, 366, ITEM_NONE},  {590, 418, ITEM_NONE},
        {48, 402, ITEM_WEB},     {128, 410, ITEM_NONE},     {145, 410, ITEM_NONE},  {215, 421, ITEM_REPAIR},
        {216, 410, ITEM_NONE},   {731, 35, ITEM_MINIMIZE},  {733, 20, ITEM_NONE},   {767, 10, ITEM_CLOSE},
        {768, 20, ITEM_NONE},    {400, 200, ITEM_NONE},     {-1, 400, ITEM_NONE},   {-32768, -32768, ITEM_NONE},
        {32767, 32767, ITEM_NONE}
    };
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(c.item, hitTest(c.x, c.y)) << c.x << "," << c.y;
}

TEST(Progress, PercentageTruncatesAndTheFillEndsAtTheTrack) {
    char text[PERCENT_TEXT_SIZE];
    const struct {
        int permille;
        const char* text;
    } cases[] = {{0, "0%"}, {9, "0%"}, {425, "42%"}, {999, "99%"}, {1000, "100%"}};
    for (const auto& c : cases) {
        formatPercentage(c.permille, text);
        EXPECT_STREQ(c.text, text) << c.permille;
    }
    EXPECT_EQ(progressFillRight(0), RECT_TRACK.left);
    EXPECT_EQ(progressFillRight(1000), RECT_TRACK.right);
    EXPECT_LT(progressFillRight(999), RECT_TRACK.right);
}

}  // namespace
