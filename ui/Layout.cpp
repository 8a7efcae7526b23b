#include "ui/Layout.h"

#include "shell/LauncherState.h"
#include "shell/Text.h"

NewsRowRects newsRowRects(int row) {
    int b = NEWS_ROW_FIRST_BOTTOM + NEWS_ROW_STEP * row;
    return {{48, b - 29, 50, b - 5}, {60, b - 33, 380, b - 19}, {60, b - 20, 400, b}};
}

int pointInRect(const LayoutRect& rect, int x, int y) {
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

int hitTest(int x, int y) {
    static const struct {
        int item;
        LayoutRect rect;
    } regions[] = {{ITEM_PLAY, RECT_PLAY},
                   {ITEM_WEB, RECT_WEB},
                   {ITEM_REPAIR, RECT_REPAIR_HIT},
                   {ITEM_MINIMIZE, RECT_MINIMIZE},
                   {ITEM_CLOSE, RECT_CLOSE}};
    for (const auto& region : regions) {
        if (pointInRect(region.rect, x, y)) return region.item;
    }
    return ITEM_NONE;
}

int isItemEnabled(int item) {
    const LauncherState& s = launcherState;
    switch (item) {
        case ITEM_PLAY: return s.readyToPlay != 0;
        case ITEM_WEB: return s.webUrl[0] != 0;
        case ITEM_REPAIR: return s.updateRunning == 0;
        case ITEM_MINIMIZE:
        case ITEM_CLOSE: return 1;
        default: return 0;
    }
}

void formatPercentage(int32_t progressPermille, char* out) {
    formatText(out, PERCENT_TEXT_SIZE, "%d%%", progressPermille / 10);
}

int progressFillRight(int32_t progressPermille) { return RECT_TRACK.left + progressPermille / 2; }
