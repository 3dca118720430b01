// A stand-in for a companion tool (never shipped): appends the command line
// it received, one per line, to "tool-record.txt" beside itself, and stays
// running while "tool-hold" exists there, so tests can keep a run going.
#include <windows.h>

#include <cstdio>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder)
        return 1;
    char *tail = strrchr(folder, '\\');
    if (!tail)
        return 1;
    tail[1] = '\0';
    char record[MAX_PATH];
    char hold[MAX_PATH];
    snprintf(record, sizeof record, "%stool-record.txt", folder);
    snprintf(hold, sizeof hold, "%stool-hold", folder);
    FILE *file = fopen(record, "ab");
    if (!file)
        return 1;
    fprintf(file, "%s\n", GetCommandLineA());
    fclose(file);
    while (GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES)
        Sleep(20);
    return 0;
}
