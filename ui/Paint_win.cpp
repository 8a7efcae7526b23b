#include "ui/Paint.h"

#include "shell/LauncherState.h"
#include "shell/Version.h"
#include "ui/Layout.h"
#include "update/Status.h"

static COLORREF colourRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

static RECT rectOf(const LayoutRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

void fillTranslucent(HDC dc, int x, int y, int width, int height, uint32_t colour, BYTE alpha) {
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ kept = SelectObject(memory, bitmap);
    RECT all = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(colourRef(colour));
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, alpha, 0};
    AlphaBlend(dc, x, y, width, height, memory, 0, 0, width, height, blend);
    SelectObject(memory, kept);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

static void fillSolid(HDC dc, const LayoutRect& rect, uint32_t colour) {
    RECT r = rectOf(rect);
    HBRUSH brush = CreateSolidBrush(colourRef(colour));
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void drawLines(HDC dc, uint32_t colour, const POINT* points, int lineCount) {
    HPEN pen = CreatePen(PS_SOLID, 1, colourRef(colour));
    HGDIOBJ kept = SelectObject(dc, pen);
    for (int i = 0; i < lineCount; ++i) {
        MoveToEx(dc, points[2 * i].x, points[2 * i].y, nullptr);
        LineTo(dc, points[2 * i + 1].x, points[2 * i + 1].y);  // the end point is not drawn
    }
    SelectObject(dc, kept);
    DeleteObject(pen);
}

static void drawText(HDC dc, const char* text, const LayoutRect& rect, HFONT font, uint32_t colour, UINT placement) {
    RECT r = rectOf(rect);
    SelectObject(dc, font);
    SetTextColor(dc, colourRef(colour));
    // No prefix processing: an ampersand is drawn as itself.
    DrawTextA(dc, text, -1, &r, DT_SINGLELINE | DT_NOPREFIX | placement);
}

static TRIVERTEX vertex(int x, int y, uint32_t colour) {
    TRIVERTEX v = {};
    v.x = x;
    v.y = y;
    v.Red = (COLOR16)(((colour >> 16) & 0xFF) << 8);
    v.Green = (COLOR16)(((colour >> 8) & 0xFF) << 8);
    v.Blue = (COLOR16)((colour & 0xFF) << 8);
    return v;
}

static void fillGradient(HDC dc, const LayoutRect& rect, uint32_t from, uint32_t to, ULONG mode) {
    TRIVERTEX corners[2] = {vertex(rect.left, rect.top, from), vertex(rect.right, rect.bottom, to)};
    GRADIENT_RECT span = {0, 1};
    GradientFill(dc, corners, 2, &span, 1, mode);
}

static void paintGlyphs(HDC dc, int hover) {
    if (hover == ITEM_MINIMIZE) {
        fillTranslucent(dc, 700, 10, 32, 26, COLOUR_WHITE, ALPHA_MINIMIZE_TINT);
    }
    static const POINT minimizeLine[] = {{711, 23}, {722, 23}};
    drawLines(dc, hover == ITEM_MINIMIZE ? COLOUR_WHITE : COLOUR_SLATE, minimizeLine, 1);

    if (hover == ITEM_CLOSE) {
        fillTranslucent(dc, 736, 10, 32, 26, COLOUR_CLOSE_RED, ALPHA_CLOSE_TINT);
    }
    static const POINT closeLines[] = {{747, 18}, {758, 29}, {757, 18}, {746, 29}};
    drawLines(dc, hover == ITEM_CLOSE ? COLOUR_WHITE : COLOUR_SLATE, closeLines, 2);
}

static void paintNews(HDC dc) {
    const LauncherState& s = launcherState;
    // The run stores the items before their count.
    int count = __atomic_load_n(&s.newsCount, __ATOMIC_ACQUIRE);
    if (count <= 0) return;
    if (count > NEWS_ITEM_CAPACITY) count = NEWS_ITEM_CAPACITY;
    drawText(dc, "NOVEDADES", RECT_NEWS_HEADING, s.fontTitleSmall, COLOUR_GOLD, DT_LEFT | DT_TOP);
    for (int i = 0; i < count; ++i) {
        NewsRowRects row = newsRowRects(i);
        fillSolid(dc, row.accent, COLOUR_GOLD);
        drawText(dc, s.newsItems[i].caption, row.caption, s.fontTextSmall, COLOUR_SLATE, DT_LEFT | DT_TOP);
        drawText(dc, s.newsItems[i].headline, row.headline, s.fontText, COLOUR_NEAR_WHITE,
                 DT_LEFT | DT_TOP | DT_END_ELLIPSIS);
    }
}

static void paintProgress(HDC dc, int32_t progress, int running) {
    fillSolid(dc, RECT_TRACK, COLOUR_TRACK);
    if (progress > 0) {
        LayoutRect fill = {RECT_TRACK.left, RECT_TRACK.top, progressFillRight(progress), RECT_TRACK.bottom};
        fillGradient(dc, fill, COLOUR_BRONZE, COLOUR_GOLD, GRADIENT_FILL_RECT_H);
    }
    if (running && progress >= 0) {
        char percent[PERCENT_TEXT_SIZE];
        formatPercentage(progress, percent);
        drawText(dc, percent, RECT_PERCENT, launcherState.fontTextSmall, COLOUR_GOLD, DT_RIGHT);
    }
}

static void paintLinks(HDC dc, int hover) {
    const LauncherState& s = launcherState;
    int hasWeb = s.webUrl[0] != 0;
    drawText(dc, hasWeb ? "Sitio web" : "", RECT_WEB, s.fontText,
             hasWeb && hover == ITEM_WEB ? COLOUR_GOLD : COLOUR_SLATE, DT_LEFT | DT_TOP);
    uint32_t repairColour = s.updateRunning ? COLOUR_DIM : hover == ITEM_REPAIR ? COLOUR_GOLD : COLOUR_SLATE;
    drawText(dc, "Reparar", RECT_REPAIR_TEXT, s.fontText, repairColour, DT_LEFT | DT_TOP);
    drawText(dc, ORVEL_VERSION_LABEL, RECT_VERSION, s.fontTextSmall, COLOUR_DIM, DT_RIGHT);
}

static void paintPlayButton(HDC dc, int hover, int pressed) {
    const LauncherState& s = launcherState;
    const UINT centred = DT_CENTER | DT_VCENTER;
    if (!s.readyToPlay) {
        // Hover and press leave the disabled look unchanged.
        fillSolid(dc, RECT_PLAY, COLOUR_PLAY_FACE_DISABLED);
        drawText(dc, "JUGAR", RECT_PLAY, s.fontTitle, COLOUR_PLAY_LABEL_DISABLED, centred);
        return;
    }
    int p = pressed == ITEM_PLAY ? 1 : 0;  // pressed: face and label one pixel lower
    LayoutRect face = {RECT_PLAY.left, RECT_PLAY.top + p, RECT_PLAY.right, RECT_PLAY.bottom};
    int hot = hover == ITEM_PLAY;
    fillGradient(dc, face, hot ? COLOUR_PLAY_TOP_HOVER : COLOUR_GOLD,
                 hot ? COLOUR_PLAY_BOTTOM_HOVER : COLOUR_PLAY_BOTTOM, GRADIENT_FILL_RECT_V);
    LayoutRect label = {RECT_PLAY.left, RECT_PLAY.top + p, RECT_PLAY.right, RECT_PLAY.bottom + p};
    drawText(dc, "JUGAR", label, s.fontTitle, COLOUR_PLAY_LABEL, centred);
}

void paintWindow(HWND window) {
    const LauncherState& s = launcherState;
    PAINTSTRUCT paint;
    HDC screen = BeginPaint(window, &paint);
    HDC frame = CreateCompatibleDC(screen);
    HBITMAP frameBitmap = CreateCompatibleBitmap(screen, CLIENT_WIDTH, CLIENT_HEIGHT);
    HGDIOBJ keptFrameBitmap = SelectObject(frame, frameBitmap);
    HGDIOBJ keptFont = GetCurrentObject(frame, OBJ_FONT);

    if (s.backgroundBitmap) {
        HDC picture = CreateCompatibleDC(screen);
        HGDIOBJ keptPicture = SelectObject(picture, s.backgroundBitmap);
        BitBlt(frame, 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT, picture, 0, 0, SRCCOPY);
        SelectObject(picture, keptPicture);
        DeleteDC(picture);
    } else {
        // Only without the picture resource: a plain dark frame under the rest.
        fillSolid(frame, LayoutRect{0, 0, CLIENT_WIDTH, CLIENT_HEIGHT}, COLOUR_BAND);
    }
    SetBkMode(frame, TRANSPARENT);

    int hover = s.hoverItem, pressed = s.pressedItem;
    paintGlyphs(frame, hover);
    paintNews(frame);
    fillTranslucent(frame, RECT_BAND.left, RECT_BAND.top, RECT_BAND.right - RECT_BAND.left,
                    RECT_BAND.bottom - RECT_BAND.top, COLOUR_BAND, ALPHA_BAND);
    fillSolid(frame, RECT_SEPARATOR, COLOUR_SEPARATOR);

    char status[STATUS_TEXT_SIZE];
    copyStatusText(status);
    drawText(frame, status, RECT_STATUS, s.fontText, COLOUR_SLATE, DT_LEFT | DT_TOP | DT_END_ELLIPSIS);
    paintProgress(frame, s.progressPermille, s.updateRunning);
    paintLinks(frame, hover);
    paintPlayButton(frame, hover, pressed);

    BitBlt(screen, 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT, frame, 0, 0, SRCCOPY);
    SelectObject(frame, keptFont);
    SelectObject(frame, keptFrameBitmap);
    DeleteObject(frameBitmap);
    DeleteDC(frame);
    EndPaint(window, &paint);
}
