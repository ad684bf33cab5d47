#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_io.h"
#include "large_block.h"

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

/*
** O_NONBLOCK so that a FIFO or device put where an index should be is
** refused at once instead of hanging the job; it changes nothing for a
** regular file.
*/
enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
    else {
        AdviseLargeBlock(buffer, (size_t)st.st_size);
        if (!ReadAll(fd, buffer, (size_t)st.st_size)) result = kFileReadFailed;
    }
    close(fd);

    if (result != kFileReadOk) {
        free(buffer);
        return result;
    }
    *data = buffer;
    *size = (size_t)st.st_size;
    return kFileReadOk;
}

/* The directory part of `path`, up to its last '/', or "."; free() it. */
static char* DirectoryOf(const char* path)
{
    const char* base = FileBaseName(path);
    if (base == path) return strdup(".");
    size_t length = base - path > 1 ? (size_t)(base - path - 1) : 1; /* "/" stays */
    return strndup(path, length);
}

/* Flush the directory holding `path`, so that a rename in it survives a power loss. */
static bool SyncDirectoryOf(const char* path)
{
    char* dir = DirectoryOf(path);
    if (dir == nullptr) return false;
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(dir);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

/*
** Create this process's temporary, new and locked for as long as it is
** open, with the mode of the file it will replace.  A file of the same
** name can only be one this process number left when it died.
*/
static int CreateTemp(const char* temp, const char* path)
{
    int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST && unlink(temp) == 0)
        fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        (stat(path, &st) == 0 && fchmod(fd, st.st_mode & 07777) != 0)) {
        close(fd);
        unlink(temp);
        return -1;
    }
    return fd;
}

/*
** The temporary stays open, and so locked, until it has been renamed, so
** no other run takes it for stale while it matters.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size)
{
    char* temp = FileTempPath(path, (unsigned long)getpid());
    if (temp == nullptr) return false;
    int fd = CreateTemp(temp, path);
    bool renamed = fd >= 0 && WriteAll(fd, data, size) && fsync(fd) == 0 &&
                   rename(temp, path) == 0;
    if (!renamed && fd >= 0) unlink(temp);
    if (fd >= 0) close(fd);
    free(temp);
    return renamed && SyncDirectoryOf(path);
}

/* A temporary nobody holds a lock on belongs to a run that is gone. */
void FileRemoveStaleTemps(const char* path)
{
    char* dir = DirectoryOf(path);
    DIR* d = dir != nullptr ? opendir(dir) : nullptr;
    const char* base = FileBaseName(path);
    while (d != nullptr) {
        struct dirent* entry = readdir(d);
        if (entry == nullptr) break;
        if (!FileIsTempOf(entry->d_name, base)) continue;
        int fd = openat(dirfd(d), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlinkat(dirfd(d), entry->d_name, 0);
        close(fd);
    }
    if (d != nullptr) closedir(d);
    free(dir);
}
