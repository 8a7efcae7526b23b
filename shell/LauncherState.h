// The one record that the window thread, the update run and the download
// workers share. Each field has fixed writers and readers; see the comments.
//
// The header needs no <windows.h>: handles are named through the same
// incomplete struct types that <windows.h> uses for HWND, HBITMAP and HFONT,
// so the pure rules and their native tests can include it too.
#pragma once

#include <stdint.h>

#include "update/Cache.h"
#include "update/Documents.h"

struct HWND__;
struct HBITMAP__;
struct HFONT__;

// Messages the background threads post to mainWindow (WM_APP + 1 to + 3).
enum {
    WM_UPDATE_DONE = 0x8001,       // wParam: UPDATE_DONE_*
    WM_STATUS_CHANGED = 0x8002,    // repaint: status, progress or news changed
    WM_LAUNCHER_REPLACED = 0x8003  // start the new launcher now in place (update/SelfUpdate.h)
};

enum {
    UPDATE_DONE_FAILED = 0,
    UPDATE_DONE_PLAYABLE = 1,  // playable as it is
    UPDATE_DONE_REPLACED = 2   // a new launcher runs in this folder now: this one ends
};

enum {
    STATUS_TEXT_SIZE = 256,
    CLIENT_DIR_SIZE = 260,
    CONFIG_URL_SIZE = 512,
    CONFIG_MIRROR_CAPACITY = 4,
    NEWS_ITEM_CAPACITY = 4
};

struct LauncherState {
    HWND__* mainWindow;                // window, once at start-up
    char clientDir[CLIENT_DIR_SIZE];   // no trailing backslash
    char ownExeName[CLIENT_DIR_SIZE];  // the running launcher's file name as its folder holds it
    int32_t showCommand;               // as the launcher was started with, once at start-up
    char updateUrl[CONFIG_URL_SIZE];   // empty, or ending in "/"
    char webUrl[CONFIG_URL_SIZE];      // empty unless it begins with "https://"
    // Further bases of the same releases, in the order they are tried; each
    // ends in "/" like updateUrl. Written once at start-up.
    char mirrorUrls[CONFIG_MIRROR_CAPACITY][CONFIG_URL_SIZE];
    int32_t mirrorCount;
    int32_t maxDownloadKBps;  // all downloads together, in KB (1024 bytes) a second; 0: no limit

    // Written only through setStatus (and once at start-up); read by painting
    // through copyStatusText, both under the status lock.
    char statusText[STATUS_TEXT_SIZE];
    volatile int32_t progressPermille;  // 0..1000, stored whole, last writer wins

    int32_t updateRunning;  // window thread only
    int32_t readyToPlay;    // window thread only
    int32_t fullVerify;     // window thread writes before a run starts
    int32_t hoverItem;      // window thread only
    int32_t pressedItem;    // window thread only

    NewsItem newsItems[NEWS_ITEM_CAPACITY];
    volatile int32_t newsCount;  // stored after the items it counts

    // The verification cache, changed by the update run's thread alone; the
    // download workers read it, by digest, while that thread waits for them.
    CacheEntry* cacheEntries;
    int32_t cacheCount;
    int32_t cacheCapacity;
    CacheIndex cacheIndex;        // case-folded path -> first record, for lookups
    CacheIndex cacheDigestIndex;  // digest -> every record of it, while a run downloads

    HBITMAP__* backgroundBitmap;
    HFONT__* fontTitle;
    HFONT__* fontTitleSmall;
    HFONT__* fontText;
    HFONT__* fontTextSmall;
};

extern LauncherState launcherState;

// Starts an update run on a thread of its own unless one is active. Window
// thread only: start-up with fullVerify 0, the repair command with 1.
void startUpdateRun(int fullVerify);
