// One update run: the manifest checked file by file against the client
// folder, the rest downloaded by up to 8 workers, the outcome posted to the
// window as WM_UPDATE_DONE.
#pragma once

#include <windows.h>

DWORD WINAPI updateRun(void* unused);
