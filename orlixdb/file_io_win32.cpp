#include <windows.h>

#include <stdlib.h>

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

/* Write the temporary in full and flush it; false leaves it to be removed. */
static bool WriteTemp(const char* temp, const uint8_t* data, size_t size)
{
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              NULL);
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
    char* temp = FileTempPath(path);
    if (temp == NULL) return false;
    bool replaced = WriteTemp(temp, data, size) &&
                    MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced) DeleteFileA(temp);
    free(temp);
    return replaced;
}

void FileRemoveStaleTemp(const char* path)
{
    char* temp = FileTempPath(path);
    if (temp == NULL) return;
    DeleteFileA(temp);
    free(temp);
}
