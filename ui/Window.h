// The launcher window's procedure: painting, hover and press feedback, the
// five commands, dragging, the cursor, Escape and Enter, and the two
// messages through which the update threads ask for a repaint.
#pragma once

#include <windows.h>

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
