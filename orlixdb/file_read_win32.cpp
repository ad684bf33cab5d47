#include <windows.h>

#include <stdlib.h>

#include "file_read.h"
#include "file_syscall.h"

/* Whether `path` names a directory. */
static bool FileIsDirectory(const char* path)
{
    DWORD attributes = gFileCalls.GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

/*
** Open `path` for reading, sharing it with other readers, and wait out a
** program that holds it without sharing.  A directory is refused at once
** (Windows answers access denied for it, which would otherwise be waited
** on).
*/
static HANDLE OpenForReading(const char* path, enum FileRead* result, struct FileStatus* status)
{
    size_t attempt = 0;
    for (;;) {
        HANDLE file = gFileCalls.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            *result = kFileMissing;
            FileFailed(status, kFileCannotOpen, path, error);
        } else if (error == ERROR_ACCESS_DENIED && FileIsDirectory(path)) {
            *result = kFileReadFailed;
            FileFailed(status, kFileIsDirectory, path, 0);
        } else if (!FilePauseBeforeRetry(error, &attempt)) {
            *result = kFileReadFailed;
            FileFailed(status, kFileCannotOpen, path, error);
        } else {
            continue;
        }
        return INVALID_HANDLE_VALUE;
    }
}

enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size,
                            struct FileStatus* status)
{
    enum FileRead result = kFileReadOk;
    HANDLE file = OpenForReading(path, &result, status);
    if (file == INVALID_HANDLE_VALUE) return result;

    LARGE_INTEGER length;
    uint8_t* buffer = NULL;
    DWORD error = 0;
    if (gFileCalls.GetFileType(file) != FILE_TYPE_DISK)
        result = kFileReadFailed, FileFailed(status, "is a device or pipe, not a file", path, 0);
    else if (!gFileCalls.GetFileSizeEx(file, &length) || length.QuadPart < 0)
        result = kFileReadFailed, FileFailed(status, kFileCannotRead, path, GetLastError());
    else if ((uint64_t)length.QuadPart > limit)
        result = kFileTooLarge, FileFailed(status, kFileTooLargeText, path, ERROR_FILE_TOO_LARGE);
    else if ((buffer = (uint8_t*)malloc(length.QuadPart > 0 ? (size_t)length.QuadPart : 1)) == NULL)
        result = kFileNoMemory, FileFailed(status, kFileNotReadWhole, path, ERROR_NOT_ENOUGH_MEMORY);
    else if ((error = FileReadAll(file, buffer, (size_t)length.QuadPart)) != 0)
        result = kFileReadFailed, FileFailed(status, kFileCannotRead, path, error);
    gFileCalls.CloseHandle(file);

    if (result != kFileReadOk) {
        free(buffer);
        return result;
    }
    *data = buffer;
    *size = (size_t)length.QuadPart;
    return kFileReadOk;
}
