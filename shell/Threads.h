// Thread start used by the update run and its workers. Tests replace it to
// see what happens when the system cannot create a thread.
#pragma once

#include <windows.h>

// Runs routine(argument) on a new thread with default security and stack;
// returns its handle, or null when no thread could be created.
extern HANDLE (*gStartThread)(LPTHREAD_START_ROUTINE routine, void* argument);
