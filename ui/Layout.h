// The window's fixed layout: a 780 x 440 client area, five controls with
// their hit regions, and the rectangles painting uses. Right and bottom
// edges are exclusive.
#pragma once

#include <stdint.h>

enum { ITEM_NONE = 0, ITEM_PLAY = 1, ITEM_WEB = 2, ITEM_REPAIR = 3, ITEM_MINIMIZE = 4, ITEM_CLOSE = 5 };

enum {
    CLIENT_WIDTH = 780,
    CLIENT_HEIGHT = 440,
    NEWS_ROW_FIRST_BOTTOM = 235,
    NEWS_ROW_STEP = 34,
    PERCENT_TEXT_SIZE = 8
};

struct LayoutRect {
    int left, top, right, bottom;
};

const LayoutRect RECT_PLAY = {590, 366, 740, 418};
const LayoutRect RECT_WEB = {48, 402, 128, 422};
const LayoutRect RECT_REPAIR_HIT = {146, 402, 216, 422};
const LayoutRect RECT_MINIMIZE = {700, 10, 732, 36};
const LayoutRect RECT_CLOSE = {736, 10, 768, 36};

const LayoutRect RECT_NEWS_HEADING = {48, 176, 348, 194};
const LayoutRect RECT_BAND = {0, 346, 780, 440};
const LayoutRect RECT_SEPARATOR = {0, 346, 780, 347};
const LayoutRect RECT_STATUS = {48, 356, 548, 376};
const LayoutRect RECT_PERCENT = {500, 366, 548, 380};
const LayoutRect RECT_TRACK = {48, 384, 548, 389};
const LayoutRect RECT_REPAIR_TEXT = {146, 402, 226, 422};  // 10 pixels wider than its hit region
const LayoutRect RECT_VERSION = {300, 406, 548, 420};

// The three rectangles of news row i (0..3).
struct NewsRowRects {
    LayoutRect accent, caption, headline;
};
NewsRowRects newsRowRects(int row);

int pointInRect(const LayoutRect& rect, int x, int y);

// The control whose hit region holds the point, enabled or not.
int hitTest(int x, int y);

// Whether a control reacts to the pointer now (from the shared state).
int isItemEnabled(int item);

// "%d%%" of progressPermille / 10 ("42%", "100%").
void formatPercentage(int32_t progressPermille, char* out /* PERCENT_TEXT_SIZE */);

// Right edge of the progress fill: 48 + progressPermille / 2.
int progressFillRight(int32_t progressPermille);
