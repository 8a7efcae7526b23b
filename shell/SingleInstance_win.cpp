// Two runs in one client folder would fail each other's .part files, save the
// cache through the same .new file, and could install a .part that the other
// run cut after it was verified. So the launcher holds OrvelLauncher.lock in
// its folder open without any sharing for as long as it lives.
//
// Why a lock file and no named mutex: the file system itself decides which
// folder the file is in, whatever the spelling that reached it (letter case,
// an 8.3 name, a subst drive, a link), so no name has to be made from a path
// or an identity. Share modes hold across the sessions of a machine (a mutex
// of the session's namespace is not seen by another user's launcher) and,
// through SMB, across the machines that open a client folder on a network
// share (any mutex lives on one machine only). The system closes the handle
// however the process ends, so a crash leaves no stale lock; the empty file
// stays, as the cache does. The handle is not inheritable: main.exe never
// holds the folder.
//
// A folder where the lock cannot be opened at all (read-only media, no right
// to add files) takes no new file from a run either, so runs there cannot
// harm each other: the launcher goes on without the lock rather than keep the
// player from the game.
//
// The holder's window is found by the folder's identity (volume serial and
// file index), which the window keeps in its extra bytes. A holder in another
// session or on another machine shows no window here: the new launcher then
// ends quietly once CLAIM_WAIT_MS have passed.
//
// Handing the folder to a successor (update/SelfUpdate_win.cpp, the self-update
// that replaces the executable) is a bounded wait, not a transfer of the
// handle: the old launcher takes the folder's name out of its window, starts
// the new executable, hides the window, and ends, keeping the lock until then;
// a hidden window is never taken for a running launcher. The new one claims as
// every launcher does: while the lock is held and no window of the folder
// shows, it tries again for up to CLAIM_WAIT_MS, so it takes the lock as soon
// as the system has closed the old process's handle. Should the new executable
// not start, or end at once, the old launcher still holds the lock, names and
// shows its window again and runs on. Should the player start a third launcher
// in that moment, whichever takes the lock runs and the other one brings its
// window forward or ends: still one run.
#include "shell/SingleInstance.h"

#include "shell/Text.h"

enum {
    CLAIM_WAIT_MS = 10000,  // a new holder's window shows, or an old holder is gone, within this
    CLAIM_POLL_MS = 100,
    FOLDER_WINDOW_VOLUME = 0,  // offsets of the folder's identity in the window's extra bytes
    FOLDER_WINDOW_INDEX_HIGH = 4,
    FOLDER_WINDOW_INDEX_LOW = 8
};

enum { LOCK_TAKEN, LOCK_HELD, LOCK_UNAVAILABLE };

struct FolderClaim {
    HANDLE lock;  // open until the process ends
    int identityKnown;
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

static FolderClaim gFolderClaim = {INVALID_HANDLE_VALUE, 0, 0, 0, 0};

static void readFolderIdentity(const char* clientDir) {
    FolderClaim& c = gFolderClaim;
    // Backup semantics opens a folder; a link or subst drive leads to the folder itself.
    HANDLE folder = CreateFileA(clientDir, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(folder, &info)) {
        c.identityKnown = 1;
        c.volume = info.dwVolumeSerialNumber;
        c.indexHigh = info.nFileIndexHigh;
        c.indexLow = info.nFileIndexLow;
    }
    CloseHandle(folder);
}

// Read access is enough for the share check: with no sharing granted, every
// other open for reading, writing or deleting fails, and a launcher's open
// fails while another one holds the file.
static int takeLock(const char* path) {
    HANDLE lock = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock != INVALID_HANDLE_VALUE) {
        gFolderClaim.lock = lock;
        return LOCK_TAKEN;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? LOCK_HELD : LOCK_UNAVAILABLE;
}

static HWND findFolderWindow(const char* windowClass) {
    const FolderClaim& c = gFolderClaim;
    if (!c.identityKnown) return nullptr;
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, windowClass, nullptr)) != nullptr) {
        // A hidden window is one that hands the folder over.
        if (IsWindowVisible(window) && (DWORD)GetWindowLongA(window, FOLDER_WINDOW_VOLUME) == c.volume &&
            (DWORD)GetWindowLongA(window, FOLDER_WINDOW_INDEX_HIGH) == c.indexHigh &&
            (DWORD)GetWindowLongA(window, FOLDER_WINDOW_INDEX_LOW) == c.indexLow) {
            return window;
        }
    }
    return nullptr;
}

int claimClientFolder(const char* clientDir, const char* windowClass) {
    readFolderIdentity(clientDir);
    // Listed in kOwnFileNames; start-up refuses a folder without room for those.
    char path[MAX_PATH];
    formatText(path, sizeof(path), "%s\\OrvelLauncher.lock", clientDir);
    ULONGLONG deadline = GetTickCount64() + CLAIM_WAIT_MS;
    for (;;) {
        int lock = takeLock(path);
        if (lock == LOCK_TAKEN) return 1;
        HWND holder = findFolderWindow(windowClass);
        if (holder) {
            // Asynchronous, so that a holder whose window thread hangs cannot hang this launcher too.
            if (IsIconic(holder)) ShowWindowAsync(holder, SW_RESTORE);
            SetForegroundWindow(holder);
            return 0;
        }
        if (lock == LOCK_UNAVAILABLE) return 1;
        if (GetTickCount64() >= deadline) return 0;
        Sleep(CLAIM_POLL_MS);
    }
}

void markFolderWindow(HWND window) {
    const FolderClaim& c = gFolderClaim;
    if (!c.identityKnown) return;
    SetWindowLongA(window, FOLDER_WINDOW_VOLUME, (LONG)c.volume);
    SetWindowLongA(window, FOLDER_WINDOW_INDEX_HIGH, (LONG)c.indexHigh);
    SetWindowLongA(window, FOLDER_WINDOW_INDEX_LOW, (LONG)c.indexLow);
}

void unmarkFolderWindow(HWND window) {
    SetWindowLongA(window, FOLDER_WINDOW_VOLUME, 0);
    SetWindowLongA(window, FOLDER_WINDOW_INDEX_HIGH, 0);
    SetWindowLongA(window, FOLDER_WINDOW_INDEX_LOW, 0);
}
