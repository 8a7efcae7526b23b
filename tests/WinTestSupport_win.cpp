#include "tests/WinTestSupport.h"

#include <stdio.h>

HeldFile holdFile(const std::string& path, const char* access, const char* share) {
    static unsigned counter = 0;
    char readyName[64], releaseName[64];
    ++counter;
    snprintf(readyName, sizeof(readyName), "orvel-hold-ready-%lu-%u", GetCurrentProcessId(), counter);
    snprintf(releaseName, sizeof(releaseName), "orvel-hold-release-%lu-%u", GetCurrentProcessId(), counter);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyName);
    HeldFile held = {nullptr, CreateEventA(nullptr, TRUE, FALSE, releaseName)};

    // Without an application name Windows looks first in the test program's own folder.
    std::string commandLine =
        "hold_file.exe \"" + path + "\" " + access + " " + share + " " + readyName + " " + releaseName;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        HANDLE waitFor[2] = {ready, info.hProcess};
        // The holder either signals that it holds the file, or exits.
        if (WaitForMultipleObjects(2, waitFor, FALSE, 30000) == WAIT_OBJECT_0) {
            held.process = info.hProcess;
        } else {
            CloseHandle(info.hProcess);
        }
    }
    CloseHandle(ready);
    return held;
}

void releaseFile(HeldFile* held) {
    SetEvent(held->release);
    if (held->process) {
        WaitForSingleObject(held->process, 30000);
        CloseHandle(held->process);
    }
    CloseHandle(held->release);
    *held = HeldFile{};
}

HWND createTestWindow() {
    static ATOM windowClass = 0;
    if (!windowClass) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "OrvelTestWindow";
        windowClass = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, "OrvelTestWindow", "test", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

int drainMessages(HWND window, UINT message) {
    int count = 0;
    MSG msg;
    while (PeekMessageA(&msg, window, message, message, PM_REMOVE)) ++count;
    return count;
}
