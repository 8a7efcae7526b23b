// Windows-only test helpers: another process holding a file open, and a
// real window whose queue receives the launcher's posted messages.
#pragma once

#include <windows.h>

#include <string>

struct HeldFile {
    HANDLE process;
    HANDLE release;
};

// Starts hold_file.exe (beside the test program) on path; returns once the
// file is open in that process. process is null when it could not open it.
HeldFile holdFile(const std::string& path, const char* access, const char* share);
void releaseFile(HeldFile* held);

// A hidden top-level window with a do-nothing window procedure.
HWND createTestWindow();

// Removes and counts the posted messages of one kind waiting for window.
int drainMessages(HWND window, UINT message);
