#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_io.h"

static bool ReadAll(int fd, uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

static bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= (size_t)n;
    }
    return true;
}

enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? kFileMissing : kFileReadFailed;

    enum FileRead result = kFileReadOk;
    struct stat st;
    uint8_t* buffer = nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        result = kFileReadFailed;
    else if ((uint64_t)st.st_size > limit)
        result = kFileTooLarge;
    else if ((buffer = (uint8_t*)malloc(st.st_size > 0 ? (size_t)st.st_size : 1)) == nullptr)
        result = kFileNoMemory;
    else if (!ReadAll(fd, buffer, (size_t)st.st_size))
        result = kFileReadFailed;
    close(fd);

    if (result != kFileReadOk) {
        free(buffer);
        return result;
    }
    *data = buffer;
    *size = (size_t)st.st_size;
    return kFileReadOk;
}

/*
** Flush the directory holding `path`, so that a rename in it survives a
** power loss.  The directory is the part up to the last '/', or ".".
*/
static bool SyncDirectoryOf(const char* path)
{
    const char* slash = strrchr(path, '/');
    char* dir = nullptr;
    if (slash != nullptr) {
        size_t length = slash == path ? 1 : (size_t)(slash - path);
        dir = (char*)malloc(length + 1);
        if (dir == nullptr) return false;
        memcpy(dir, path, length);
        dir[length] = 0;
    }
    int fd = open(dir != nullptr ? dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(dir);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

/* Write the temporary in full and flush it; false leaves it to be removed. */
static bool WriteTemp(const char* temp, const uint8_t* data, size_t size)
{
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool written = WriteAll(fd, data, size) && fsync(fd) == 0;
    return close(fd) == 0 && written;
}

bool FileReplace(const char* path, const uint8_t* data, size_t size)
{
    char* temp = FileTempPath(path);
    if (temp == nullptr) return false;
    bool renamed = WriteTemp(temp, data, size) && rename(temp, path) == 0;
    if (!renamed) unlink(temp);
    free(temp);
    return renamed && SyncDirectoryOf(path);
}

void FileRemoveStaleTemp(const char* path)
{
    char* temp = FileTempPath(path);
    if (temp == nullptr) return;
    unlink(temp);
    free(temp);
}
