#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "file_status.h"
#include "file_syscall.h"

static int OpenAt(int dir, const char* path, int flags, mode_t mode) { return openat(dir, path, flags, mode); }

static int LockCommand(int fd, int command, struct flock* lock) { return fcntl(fd, command, lock); }

const struct FileCalls kFileCallsDefault = {
    OpenAt, close, read, write, pread, pwrite, fstat, fstatat,
    fsync, rename, link, unlinkat, fchmod, fchown, LockCommand, flock, faccessat,
};
struct FileCalls gFileCalls = kFileCallsDefault;

const char* FileErrorText(int error, char* buffer, size_t size)
{
    if (size == 0) return buffer;
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = strerror_r(error, buffer, size);
    if (text != buffer) snprintf(buffer, size, "%s", text);
#else
    if (strerror_r(error, buffer, size) != 0) snprintf(buffer, size, "error %d", error);
#endif
    return buffer;
}

uint64_t FileClockMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

uint64_t FileWallMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

void FilePauseMs(uint32_t ms)
{
    struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

/*
** The one loop over a transfer: `at` < 0 for the file's position.  A
** transfer of 0 bytes means the file ended (reading) or the system took
** nothing (writing): EIO, never a spin; only a read at an offset takes
** the end as zeros, as a record not yet written reads.
*/
static int Transfer(int fd, uint8_t* data, size_t size, off_t at, bool writing)
{
    while (size > 0) {
        ssize_t n = writing ? (at < 0 ? SYS(write, fd, data, size) : SYS(pwrite, fd, data, size, at))
                            : (at < 0 ? SYS(read, fd, data, size) : SYS(pread, fd, data, size, at));
        if (n < 0) return errno;
        if (n == 0) return !writing && at >= 0 ? (memset(data, 0, size), 0) : EIO;
        data += n;
        size -= (size_t)n;
        if (at >= 0) at += n;
    }
    return 0;
}

int FileReadAll(int fd, void* data, size_t size) { return Transfer(fd, (uint8_t*)data, size, -1, false); }

int FileWriteAll(int fd, const void* data, size_t size)
{
    return Transfer(fd, (uint8_t*)(uintptr_t)data, size, -1, true);
}

int FileReadAt(int fd, void* data, size_t size, off_t at) { return Transfer(fd, (uint8_t*)data, size, at, false); }

int FileWriteAt(int fd, const void* data, size_t size, off_t at)
{
    return Transfer(fd, (uint8_t*)(uintptr_t)data, size, at, true);
}

const char* FileNotRegularText(mode_t mode)
{
    if (S_ISDIR(mode)) return kFileIsDirectory;
    if (S_ISFIFO(mode)) return "is a FIFO, not a file";
    if (S_ISSOCK(mode)) return "is a socket, not a file";
    return "is a device, not a file";
}
