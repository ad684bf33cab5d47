/*
** hold_open: a reader that holds a file open, as a dictionary application,
** a backup agent or a virus scanner would, while an index job runs.
**
**     hold_open FILE SHARE START MS
**
** opens FILE for reading with SHARE (none, r, rd: FILE_SHARE_READ and
** FILE_SHARE_DELETE, rwd), creates FILE.held to say so, waits for the file
** START to appear ("-": at once), then holds FILE MS milliseconds more or
** until FILE.stop appears, and closes it.  Exit status 0, or 2 when FILE
** cannot be opened or START never appears (after a minute).
*/
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

static DWORD ShareMode(const char* name)
{
    if (strcmp(name, "r") == 0) return FILE_SHARE_READ;
    if (strcmp(name, "rd") == 0) return FILE_SHARE_READ | FILE_SHARE_DELETE;
    if (strcmp(name, "rwd") == 0) return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return 0;
}

static bool Touch(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: hold_open FILE none|r|rd|rwd START|- MS\n");
        return 2;
    }
    const char* path = argv[1];
    char held[MAX_PATH], stop[MAX_PATH];
    snprintf(held, sizeof held, "%s.held", path);
    snprintf(stop, sizeof stop, "%s.stop", path);
    HANDLE file = CreateFileA(path, GENERIC_READ, ShareMode(argv[2]), NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "hold_open: %s: error %lu\n", path, GetLastError());
        return 2;
    }
    if (!Touch(held)) {
        CloseHandle(file);
        return 2;
    }
    int status = 0;
    ULONGLONG start = GetTickCount64();
    while (strcmp(argv[3], "-") != 0 && !Exists(argv[3]) && !Exists(stop)) {
        if (GetTickCount64() - start > 60000) {
            status = 2;
            break;
        }
        Sleep(1);
    }
    ULONGLONG until = GetTickCount64() + strtoul(argv[4], NULL, 10);
    while (status == 0 && GetTickCount64() < until && !Exists(stop)) Sleep(10);
    char first[9] = {0};
    DWORD got = 0;
    ReadFile(file, first, 8, &got, NULL); /* the handle still reads the file it opened */
    printf("held %s (%s), read '%s'\n", path, argv[2], first);
    CloseHandle(file);
    return status;
}
