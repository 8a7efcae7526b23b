#include "shell/Threads.h"

static HANDLE createThread(LPTHREAD_START_ROUTINE routine, void* argument) {
    return CreateThread(nullptr, 0, routine, argument, 0, nullptr);
}

HANDLE (*gStartThread)(LPTHREAD_START_ROUTINE routine, void* argument) = createThread;
