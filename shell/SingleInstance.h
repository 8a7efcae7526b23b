// One launcher per client folder: the first one started there holds the
// folder; a later one brings the first one's window to the front and ends.
#pragma once

#include <windows.h>

// The launcher window's extra bytes (cbWndExtra of its class) that name its folder.
enum { FOLDER_WINDOW_EXTRA_BYTES = 12 };

// 1: this launcher now holds clientDir for the rest of its life and runs.
// 0: another launcher holds it; that launcher's window (of windowClass), when
// this desktop shows it within a few seconds, is restored and in front now,
// and this launcher starts no run and exits.
int claimClientFolder(const char* clientDir, const char* windowClass);

// Names window as the window of the folder claimed, for later launchers to
// find. Called once the window is shown.
void markFolderWindow(HWND window);

// Takes the name back: a launcher started now finds no window of the folder
// and waits for the lock instead (the hand-over to a new launcher).
void unmarkFolderWindow(HWND window);
