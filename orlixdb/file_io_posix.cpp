#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "file_io.h"
#include "large_block.h"

static bool Fail(struct FileStatus* status, const char* action, const char* path, int error)
{
    if (status != nullptr) *status = FileStatus{action, path, error};
    return false;
}

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

static int ReadAll(int fd, uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO; /* the file shrank under us */
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

static int WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

/* What a file that is not a regular one is, for a message. */
static const char* NotRegularText(mode_t mode)
{
    if (S_ISDIR(mode)) return "is a directory, not a file";
    if (S_ISFIFO(mode)) return "is a FIFO, not a file";
    if (S_ISSOCK(mode)) return "is a socket, not a file";
    return "is a device, not a file";
}

/*
** O_NONBLOCK so that a FIFO or device put where an index should be is
** refused at once instead of hanging the job; it changes nothing for a
** regular file.
*/
enum FileRead FileReadWhole(const char* path, uint64_t limit, uint8_t** data, size_t* size,
                            struct FileStatus* status)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        Fail(status, "cannot open", path, error);
        return error == ENOENT ? kFileMissing : kFileReadFailed;
    }

    enum FileRead result = kFileReadOk;
    struct stat st;
    uint8_t* buffer = nullptr;
    int error = 0;
    if (fstat(fd, &st) != 0)
        result = kFileReadFailed, Fail(status, "cannot read", path, errno);
    else if (!S_ISREG(st.st_mode))
        result = kFileReadFailed, Fail(status, NotRegularText(st.st_mode), path, 0);
    else if ((uint64_t)st.st_size > limit)
        result = kFileTooLarge, Fail(status, "is too large", path, EFBIG);
    else if ((buffer = (uint8_t*)malloc(st.st_size > 0 ? (size_t)st.st_size : 1)) == nullptr)
        result = kFileNoMemory, Fail(status, "cannot be read whole", path, ENOMEM);
    else {
        AdviseLargeBlock(buffer, (size_t)st.st_size);
        if ((error = ReadAll(fd, buffer, (size_t)st.st_size)) != 0)
            result = kFileReadFailed, Fail(status, "cannot read", path, error);
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
static int SyncDirectoryOf(const char* path)
{
    char* dir = DirectoryOf(path);
    if (dir == nullptr) return ENOMEM;
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    free(dir);
    if (fd < 0) return error;
    if (fsync(fd) != 0) error = errno;
    close(fd);
    return error;
}

static uint64_t NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

static void PauseMs(uint32_t ms)
{
    struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

/*
** The file the job works on: `path` itself, or, when `path` is a symbolic
** link, the file it leads to (through any chain of links), so the link
** survives the replace.  A link to nothing is refused: where the new file
** should go is then a guess.
*/
static char* ResolveTarget(const char* path, struct FileStatus* status)
{
    struct stat st;
    bool link = lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
    char* real = link ? realpath(path, nullptr) : strdup(path);
    if (real == nullptr)
        Fail(status, link ? "is a link that leads nowhere" : "out of memory", path, errno);
    return real;
}

/*
** Errors of open(O_CREAT) that mean no file can be made in the directory
** at all, when the lock file does not exist either.
*/
static bool NothingCanBeCreated(int error, const char* lockPath)
{
    struct stat st;
    if (error != EACCES && error != EROFS && error != EPERM && error != ENOENT && error != ENOTDIR)
        return false;
    return lstat(lockPath, &st) != 0;
}

enum { kNotRegular = -1 }; /* not an errno: the lock file is something else */

/*
** Open the lock file and try its lock once.  Returns the descriptor,
** locked, and with the lock file still at its name; -1 with *error 0 when
** another job holds it (or it went away under us: try again), -1 with
** *error set on failure.  The check after the lock matters because a job
** removes its lock file before it releases it: whoever then gets the lock
** on the removed file holds nothing, and must open the name afresh.
*/
static int TryLock(const char* lockPath, int* error)
{
    *error = 0;
    int fd = open(lockPath, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        *error = errno == EINTR ? 0 : errno;
        return -1;
    }
    struct stat held, named;
    if (fstat(fd, &held) != 0) *error = errno;
    else if (!S_ISREG(held.st_mode)) *error = kNotRegular;
    if (*error != 0) {
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) *error = errno;
        close(fd);
        return -1;
    }
    if (lstat(lockPath, &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
        return fd;
    close(fd);
    return -1;
}

enum FileJobStart FileJobBegin(const char* path, uint32_t waitMs, struct FileJob* job,
                               struct FileStatus* status)
{
    *job = FileJob{nullptr, nullptr, -1, false};
    job->target = ResolveTarget(path, status);
    if (job->target == nullptr) return kFileJobFailed;
    job->lockPath = FileLockPath(job->target);
    if (job->lockPath == nullptr) {
        FileJobEnd(job);
        return Fail(status, "out of memory", path, ENOMEM), kFileJobFailed;
    }

    uint64_t deadline = NowMs() + waitMs;
    uint32_t pause = 1;
    int error = 0;
    while ((job->lock = TryLock(job->lockPath, &error)) < 0) {
        if (error != 0) {
            if (NothingCanBeCreated(error, job->lockPath)) return kFileJobStarted;
            FileJobEnd(job);
            Fail(status, error == kNotRegular ? "has a lock file that is not a regular file"
                                              : "cannot open or lock its lock file",
                 path, error == kNotRegular ? 0 : error);
            return kFileJobFailed;
        }
        uint64_t now = NowMs();
        if (now >= deadline) {
            FileJobEnd(job);
            Fail(status, "was locked by another job for the whole wait", path, 0);
            return kFileJobBusy;
        }
        PauseMs(now + pause < deadline ? pause : (uint32_t)(deadline - now));
        pause = pause < 32 ? pause * 2 : 50;
    }
    job->locked = true;
    FileRemoveStaleTemps(job->target);
    return kFileJobStarted;
}

/* The lock file goes while it is still held, so no other job locks a removed file unawares. */
void FileJobEnd(struct FileJob* job)
{
    if (job->locked) {
        unlink(job->lockPath);
        close((int)job->lock);
    }
    free(job->target);
    free(job->lockPath);
    *job = FileJob{nullptr, nullptr, -1, false};
}

/*
** This process's temporary, new and locked for as long as it is open, with
** the mode of the file it will replace.  Under the job lock the stale
** temporaries are gone, so the name is free unless something that is no
** regular file holds it; that is refused, not removed.  So is a target
** that is not a regular file: a device or FIFO replaced by a file is no
** one's intent.
*/
bool FileTempCreate(const struct FileJob* job, struct FileTemp* temp, struct FileStatus* status)
{
    *temp = FileTemp{FileTempPath(job->target, (unsigned long)getpid()), job->target, -1, false};
    if (temp->path == nullptr) return Fail(status, "out of memory", job->target, ENOMEM);
    int fd = open(temp->path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        Fail(status, "cannot create its temporary", job->target, errno);
        free(temp->path);
        temp->path = nullptr;
        return false;
    }
    temp->handle = fd;
    struct stat st;
    bool exists = stat(job->target, &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        Fail(status, NotRegularText(st.st_mode), job->target, 0);
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 ||
               (exists && fchmod(fd, st.st_mode & 07777) != 0)) {
        Fail(status, "cannot prepare its temporary", job->target, errno);
    } else {
        return true;
    }
    FileTempDiscard(temp);
    return false;
}

bool FileTempWrite(struct FileTemp* temp, const void* data, size_t size, struct FileStatus* status)
{
    if (temp->failed) return false;
    int error = WriteAll((int)temp->handle, (const uint8_t*)data, size);
    if (error == 0) return true;
    temp->failed = true;
    return Fail(status, "cannot write its temporary", temp->target, error);
}

/*
** The temporary stays open, and so locked, until it has been renamed, so
** no other run takes it for stale while it matters.
*/
bool FileTempCommit(struct FileTemp* temp, struct FileStatus* status)
{
    if (temp->failed) return FileTempDiscard(temp), false;
    int fd = (int)temp->handle;
    if (fsync(fd) != 0) {
        Fail(status, "cannot flush its temporary to the disk", temp->target, errno);
        return FileTempDiscard(temp), false;
    }
    if (rename(temp->path, temp->target) != 0) {
        Fail(status, "cannot be replaced by its temporary", temp->target, errno);
        return FileTempDiscard(temp), false;
    }
    close(fd);
    free(temp->path);
    *temp = FileTemp{nullptr, temp->target, -1, false};
    int error = SyncDirectoryOf(temp->target);
    return error == 0 || Fail(status, kFileDirectoryNotFlushed, temp->target, error);
}

void FileTempDiscard(struct FileTemp* temp)
{
    if (temp->path != nullptr) unlink(temp->path);
    if (temp->handle >= 0) close((int)temp->handle);
    free(temp->path);
    *temp = FileTemp{nullptr, temp->target, -1, false};
}

/*
** A temporary nobody holds a lock on belongs to a run that is gone.  Only
** regular files are opened, without following links and without waiting,
** and only the one that was looked at is removed.
*/
void FileRemoveStaleTemps(const char* path)
{
    char* dir = DirectoryOf(path);
    DIR* d = dir != nullptr ? opendir(dir) : nullptr;
    const char* base = FileBaseName(path);
    while (d != nullptr) {
        struct dirent* entry = readdir(d);
        if (entry == nullptr) break;
        if (!FileIsTempOf(entry->d_name, base)) continue;
        struct stat named, opened;
        if (fstatat(dirfd(d), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode))
            continue;
        int fd = openat(dirfd(d), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        if (fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirfd(d), entry->d_name, 0);
        close(fd);
    }
    if (d != nullptr) closedir(d);
    free(dir);
}
