#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "file_io.h"

/* Largest single ReadFile/WriteFile request; the DWORD count would allow more. */
static const DWORD kChunk = 1u << 30;

static bool ReadAll(HANDLE file, uint8_t* data, size_t size)
{
    while (size > 0) {
        DWORD want = size > kChunk ? kChunk : (DWORD)size, got = 0;
        if (!ReadFile(file, data, want, &got, NULL) || got == 0) return false;
        data += got;
        size -= got;
    }
    return true;
}

static bool WriteAll(HANDLE file, const uint8_t* data, size_t size)
{
    while (size > 0) {
        DWORD want = size > kChunk ? kChunk : (DWORD)size, put = 0;
        if (!WriteFile(file, data, want, &put, NULL) || put == 0) return false;
        data += put;
        size -= put;
    }
    return true;
}

enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kFileMissing
                                                                              : kFileReadFailed;
    }

    enum FileRead result = kFileReadOk;
    LARGE_INTEGER length;
    uint8_t* buffer = NULL;
    if (!GetFileSizeEx(file, &length) || length.QuadPart < 0)
        result = kFileReadFailed;
    else if ((uint64_t)length.QuadPart > limit)
        result = kFileTooLarge;
    else if ((buffer = (uint8_t*)malloc(length.QuadPart > 0 ? (size_t)length.QuadPart : 1)) == NULL)
        result = kFileNoMemory;
    else if (!ReadAll(file, buffer, (size_t)length.QuadPart))
        result = kFileReadFailed;
    CloseHandle(file);

    if (result != kFileReadOk) {
        free(buffer);
        return result;
    }
    *data = buffer;
    *size = (size_t)length.QuadPart;
    return kFileReadOk;
}

/*
** Create this process's temporary, new, shared with nobody while it is
** open.  A file of the same name can only be one this process number left
** when it died.
*/
static HANDLE CreateTemp(const char* temp)
{
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && DeleteFileA(temp))
        file = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    return file;
}

/* Write the temporary in full and flush it; false leaves it to be removed. */
static bool WriteTemp(const char* temp, const uint8_t* data, size_t size)
{
    HANDLE file = CreateTemp(temp);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = WriteAll(file, data, size) && FlushFileBuffers(file);
    return CloseHandle(file) && written;
}

/*
** MOVEFILE_WRITE_THROUGH makes MoveFileExA return only once the rename is
** on the disk, which is what the directory flush does on POSIX.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size)
{
    char* temp = FileTempPath(path, (unsigned long)GetCurrentProcessId());
    if (temp == NULL) return false;
    bool replaced = WriteTemp(temp, data, size) &&
                    MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced) DeleteFileA(temp);
    free(temp);
    return replaced;
}

/*
** The directory of `path` with its separator, then `name`; free() it.  A
** temporary still being written is open without sharing, so DeleteFileA
** fails on it; only the ones whose writer is gone are removed.
*/
static char* SiblingPath(const char* path, const char* name)
{
    size_t dir = (size_t)(FileBaseName(path) - path), length = strlen(name);
    char* sibling = (char*)malloc(dir + length + 1);
    if (sibling == NULL) return NULL;
    memcpy(sibling, path, dir);
    memcpy(sibling + dir, name, length + 1);
    return sibling;
}

void FileRemoveStaleTemps(const char* path)
{
    char* pattern = FileTempPath(path, 0);
    if (pattern == NULL) return;
    pattern[strlen(pattern) - 1] = '*';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    free(pattern);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!FileIsTempOf(found.cFileName, FileBaseName(path))) continue;
        char* temp = SiblingPath(path, found.cFileName);
        if (temp != NULL) DeleteFileA(temp);
        free(temp);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
