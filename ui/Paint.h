// Painting: every frame is composed off-screen, layer over layer, and copied
// to the window in one block, so the window never flickers.
#pragma once

#include <windows.h>

#include <stdint.h>

// Colours as 0xRRGGBB.
enum : uint32_t {
    COLOUR_GOLD = 0xEAC784,
    COLOUR_SLATE = 0xAEBBC5,
    COLOUR_WHITE = 0xFFFFFF,
    COLOUR_CLOSE_RED = 0xAA2828,
    COLOUR_NEAR_WHITE = 0xF0F3F5,
    COLOUR_BAND = 0x080C11,
    COLOUR_SEPARATOR = 0x463E2C,
    COLOUR_TRACK = 0x2B3741,
    COLOUR_DIM = 0x5A646E,
    COLOUR_BRONZE = 0x967034,
    COLOUR_PLAY_TOP_HOVER = 0xFAE2AA,
    COLOUR_PLAY_BOTTOM = 0xC49C58,
    COLOUR_PLAY_BOTTOM_HOVER = 0xDEB468,
    COLOUR_PLAY_LABEL = 0x17212A,
    COLOUR_PLAY_FACE_DISABLED = 0x29333D,
    COLOUR_PLAY_LABEL_DISABLED = 0x6E7A84
};

enum { ALPHA_MINIMIZE_TINT = 40, ALPHA_CLOSE_TINT = 200, ALPHA_BAND = 150 };

// Blends a solid colour over (x, y, x + width, y + height) at alpha/255.
void fillTranslucent(HDC dc, int x, int y, int width, int height, uint32_t colour, BYTE alpha);

// Paints the whole client area of window (the WM_PAINT handler).
void paintWindow(HWND window);
