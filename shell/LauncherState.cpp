#include "shell/LauncherState.h"

// Zero-initialised at process start: empty strings, null handles, no run.
LauncherState launcherState;
