#include <windows.h>

#include "shell/Startup.h"

// The command line is ignored; the show command is used for the first show.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) { return runLauncher(instance, showCommand); }
