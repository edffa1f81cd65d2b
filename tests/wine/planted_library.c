/* A stand-in that the planting test puts under the names of system libraries
 * (ddraw.dll, ...) beside a program, in its current folder or on its PATH.
 * Whoever loads it makes it append its own file name, and a line end, to the
 * file that KOVIC_PLANT_MARKER names, so the test can tell it was loaded. It
 * exports nothing. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    char marker[MAX_PATH];
    char line[MAX_PATH + 2];
    DWORD n;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    n = GetEnvironmentVariableA("KOVIC_PLANT_MARKER", marker, sizeof marker);
    if (n > 0 && n < sizeof marker) {
        DWORD length = GetModuleFileNameA(self, line, MAX_PATH);
        HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0,
                                  NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written;
            line[length++] = '\r';
            line[length++] = '\n';
            WriteFile(file, line, length, &written, NULL);
            CloseHandle(file);
        }
    }
    return TRUE;
}
