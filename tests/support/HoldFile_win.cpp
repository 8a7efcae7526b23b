// hold_file PATH ACCESS SHARE READY_EVENT RELEASE_EVENT
// Opens PATH as another program would (ACCESS: r, w or rw; SHARE: any of r,
// w, d, or - for none), signals READY_EVENT, and keeps the file open until
// RELEASE_EVENT is signalled. Exits 1 when the file cannot be opened.
#include <windows.h>

#include <string.h>

int main(int argc, char** argv) {
    if (argc != 6) return 2;
    DWORD access = 0, share = 0;
    if (strchr(argv[2], 'r')) access |= GENERIC_READ;
    if (strchr(argv[2], 'w')) access |= GENERIC_WRITE;
    if (strchr(argv[3], 'r')) share |= FILE_SHARE_READ;
    if (strchr(argv[3], 'w')) share |= FILE_SHARE_WRITE;
    if (strchr(argv[3], 'd')) share |= FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(argv[1], access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[5]);
    if (ready) SetEvent(ready);
    if (release) WaitForSingleObject(release, 60000);
    if (ready) CloseHandle(ready);
    if (release) CloseHandle(release);
    CloseHandle(file);
    return 0;
}
