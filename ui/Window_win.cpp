#include "ui/Window.h"

#include "shell/Game.h"
#include "shell/LauncherState.h"
#include "shell/Text.h"
#include "ui/Layout.h"
#include "ui/Paint.h"
#include "update/SelfUpdate.h"
#include "update/Status.h"

static void invalidate() { InvalidateRect(launcherState.mainWindow, nullptr, FALSE); }

// The two signed 16-bit halves of a mouse position.
static int pointX(LPARAM lParam) { return (short)LOWORD(lParam); }
static int pointY(LPARAM lParam) { return (short)HIWORD(lParam); }

static void setCursorFor(int item) { SetCursor(LoadCursorA(nullptr, item != ITEM_NONE ? IDC_HAND : IDC_ARROW)); }

static void onMouseMove(HWND window, LPARAM lParam) {
    int item = hitTest(pointX(lParam), pointY(lParam));
    if (!isItemEnabled(item)) item = ITEM_NONE;
    if (item == launcherState.hoverItem) return;
    launcherState.hoverItem = item;
    invalidate();
    setCursorFor(item);
    TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, window, 0};
    TrackMouseEvent(&track);
}

static void runCommand(int item) {
    LauncherState& s = launcherState;
    switch (item) {
        case ITEM_PLAY: launchGame(); break;
        case ITEM_WEB:
            if (startsWithIgnoreCase(s.webUrl, "https://")) {
                ShellExecuteA(s.mainWindow, "open", s.webUrl, nullptr, nullptr, SW_SHOWNORMAL);
            }
            break;
        case ITEM_REPAIR: startUpdateRun(1); break;
        case ITEM_MINIMIZE: ShowWindow(s.mainWindow, SW_MINIMIZE); break;
        case ITEM_CLOSE:
            // The window stays as it is; a run in progress is not waited for.
            PostQuitMessage(0);
            break;
    }
}

static void onButtonUp(LPARAM lParam) {
    int item = hitTest(pointX(lParam), pointY(lParam));
    ReleaseCapture();
    // Press and release on the same enabled control make a click, unless the
    // pointer left the window in between.
    if (item != ITEM_NONE && item == launcherState.pressedItem && isItemEnabled(item)) runCommand(item);
    launcherState.pressedItem = ITEM_NONE;
    invalidate();
}

// Every point outside the five controls drags the window.
static LRESULT onHitTest(HWND window, LPARAM lParam) {
    POINT point = {pointX(lParam), pointY(lParam)};
    ScreenToClient(window, &point);
    return hitTest(point.x, point.y) != ITEM_NONE ? HTCLIENT : HTCAPTION;
}

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LauncherState& s = launcherState;
    switch (message) {
        case WM_DESTROY: PostQuitMessage(0); return 0;
        case WM_PAINT: paintWindow(window); return 0;
        case WM_ERASEBKGND: return 1;  // painting covers every pixel
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT && s.hoverItem != ITEM_NONE) {
                setCursorFor(s.hoverItem);
                return 1;
            }
            break;
        case WM_NCHITTEST: return onHitTest(window, lParam);
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) PostQuitMessage(0);
            if (wParam == VK_RETURN && s.readyToPlay) launchGame();
            return 0;
        case WM_MOUSEMOVE: onMouseMove(window, lParam); return 0;
        case WM_LBUTTONDOWN:
            s.pressedItem = hitTest(pointX(lParam), pointY(lParam));
            SetCapture(window);
            invalidate();
            return 0;
        case WM_LBUTTONUP: onButtonUp(lParam); return 0;
        case WM_MOUSELEAVE:
            s.hoverItem = ITEM_NONE;
            s.pressedItem = ITEM_NONE;
            invalidate();
            return 0;
        case WM_LAUNCHER_REPLACED: startNewLauncher(); return 0;
        case WM_UPDATE_DONE:
            if (wParam == UPDATE_DONE_REPLACED) {
                PostQuitMessage(0);  // the new launcher waits for this one to end
                return 0;
            }
            // Whatever the outcome, the game can be started and repair tried.
            s.updateRunning = 0;
            s.readyToPlay = 1;
            invalidate();
            return 0;
        case WM_STATUS_CHANGED:
            takeStatusChanged();
            invalidate();
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
