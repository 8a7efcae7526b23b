// Start-up and the message loop: the whole life of the window thread.
#pragma once

#include <windows.h>

// Prepares the state, fonts and picture, opens the window, starts the first
// update run and dispatches messages until the launcher is told to quit.
// Returns the exit code, always 0.
int runLauncher(HINSTANCE instance, int showCommand);
