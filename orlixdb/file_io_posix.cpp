#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "file_io.h"
#include "file_io_platform.h"
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
** The file the job works on: `path` itself, or, when `path` is a symbolic
** link, the file it leads to (through any chain of links), so the link
** survives the replace.  A link to nothing is refused: where the new file
** should go is then a guess.
*/
char* FileResolveTarget(const char* path, struct FileStatus* status)
{
    struct stat st;
    bool link = lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
    char* real = link ? realpath(path, nullptr) : strdup(path);
    if (real == nullptr)
        Fail(status, link ? "is a link that leads nowhere" : "out of memory", path, errno);
    return real;
}

/*
** The lock file is a queue.  Its first 8 bytes count the tickets given
** out; a job takes the next one under a short lock of those bytes, and
** holds, for as long as it waits or works, a lock of one byte at
** kPlacesAt + its ticket: its place.  A job whose ticket has no live place
** before it is first in line and holds the lock.  Places are locks of the
** open file description (of the process where the system lacks those), so
** a killed job's place vanishes with it.  The holder writes its record
** (process id, ticket, since when) at kHolderAt, and each job its process
** id and arrival time in its slot, so a waiting job can name who keeps it
** out.
*/
#if defined(F_OFD_SETLK)
enum { kSetLock = F_OFD_SETLK, kGetLock = F_OFD_GETLK };
#else
enum { kSetLock = F_SETLK, kGetLock = F_GETLK };
#endif
enum { kCounterAt = 0, kHolderAt = 8, kSlotsAt = 64, kSlots = 256 };
static const off_t kPlacesAt = (off_t)1 << 30; /* within a 32-bit off_t too */

/* Set (F_WRLCK, F_UNLCK) or, with get, look for a conflicting lock of [start, start + length). */
static bool RangeLock(int fd, short type, off_t start, off_t length, struct flock* found = nullptr)
{
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    bool done = fcntl(fd, found != nullptr ? kGetLock : kSetLock, &lock) == 0;
    if (found != nullptr) *found = lock;
    return done;
}

/* Whether a job other than the caller has a place in the queue. */
static bool OthersQueued(int fd)
{
    struct flock found;
    return !RangeLock(fd, F_WRLCK, kPlacesAt, 0, &found) || found.l_type != F_UNLCK;
}

static bool ReadWords(int fd, off_t at, uint64_t* words, size_t count)
{
    memset(words, 0, count * sizeof *words);
    return pread(fd, words, count * sizeof *words, at) >= 0;
}

static bool WriteWords(int fd, off_t at, const uint64_t* words, size_t count)
{
    return pwrite(fd, words, count * sizeof *words, at) == (ssize_t)(count * sizeof *words);
}

/* Whether `path` still names the file open as fd: a job removes the lock file as it leaves. */
static bool StillNamed(int fd, const char* path)
{
    struct stat held, named;
    return fstat(fd, &held) == 0 && lstat(path, &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

/*
** The mode and group the lock file needs so that whoever may write the
** target can open it for writing: the target's read and write bits and
** its group, and the directory's write bits and group, since whoever may
** write the directory may create or replace the target.  Each class that
** may write also reads.
*/
static void LockFileAccess(const char* target, mode_t* mode, gid_t* group)
{
    struct stat file, dir;
    char* path = DirectoryOf(target);
    bool hasFile = stat(target, &file) == 0, hasDir = path != nullptr && stat(path, &dir) == 0;
    free(path);
    mode_t bits = (hasFile ? file.st_mode & 0666 : 0) | (hasDir ? dir.st_mode & 0022 : 0);
    *mode = 0600 | bits | (bits & 0022) << 1;
    *group = hasFile && (file.st_mode & 0020) ? file.st_gid
             : hasDir && (dir.st_mode & 0020) ? dir.st_gid
                                              : (gid_t)-1;
}

/*
** Remove `path` when it is a regular file that no one holds a lock on: a
** temporary of a run that is gone.
*/
static bool RemoveIfStale(int dir, const char* name)
{
    struct stat named, opened;
    if (fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) return false;
    int fd = openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool removed = fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev &&
                   opened.st_ino == named.st_ino && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                   unlinkat(dir, name, 0) == 0;
    close(fd);
    return removed;
}

/*
** Make the lock file so that it appears under its name only with its
** final mode: made under a temporary name of this process (one its
** temporaries of data never take: the process id with the top bit of 32
** set), locked against other jobs' sweeps, given its mode and group,
** then linked into place.  A job killed before the link leaves a
** temporary, which the next job sweeps; EEXIST from the link means
** another job made it first, which is as good.  Returns 0 (look again)
** or an errno.
*/
static int CreateLockFile(const struct FileJob* job)
{
    char* made = FileTempPath(job->target, 0x80000000ul | (unsigned long)getpid());
    if (made == nullptr) return ENOMEM;
    int fd = open(made, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    int error = fd < 0 ? errno : 0;
    if (error == EEXIST && RemoveIfStale(AT_FDCWD, made)) error = 0; /* a gone process had our number */
    if (fd >= 0) {
        mode_t mode;
        gid_t group;
        LockFileAccess(job->target, &mode, &group);
        if (group != (gid_t)-1 && fchown(fd, (uid_t)-1, group) != 0) {
            /* not a member of the target's group: the mode still serves the rest */
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fchmod(fd, mode) != 0 ||
            (link(made, job->lockPath) != 0 && errno != EEXIST))
            error = errno;
        if (error == ENOENT) error = 0; /* swept before its flock: made again */
        unlink(made);
        close(fd);
    }
    free(made);
    return error;
}

/*
** A lock file this job cannot open for writing: it was made for other
** rights (the target's mode changed since), or by another program.  When
** no job has a place in it, it is stale and goes; otherwise its holder
** is waited on like any other.
*/
static enum FileLockTry ForeignLockFile(const struct FileJob* job, struct FileLockHolder* holder,
                                        struct FileStatus* status, int error)
{
    int fd = open(job->lockPath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return Fail(status, "cannot open or lock its lock file", job->target, error), kFileLockFailed;
    enum FileLockTry tried = kFileLockAgain;
    uint64_t record[3];
    if (!OthersQueued(fd)) {
        if (StillNamed(fd, job->lockPath) && unlink(job->lockPath) != 0) {
            Fail(status, "cannot open or lock its lock file", job->target, error);
            tried = kFileLockFailed;
        }
    } else if (ReadWords(fd, kHolderAt, record, 3)) {
        *holder = FileLockHolder{(unsigned long)record[0], record[2], record[1] + 1};
        tried = kFileLockBusy;
    }
    close(fd);
    return tried;
}

/*
** Errors of creating a file that mean no file can be made in the
** directory at all, when the lock file does not exist either.
*/
static bool NothingCanBeCreated(int error, const char* lockPath)
{
    struct stat st;
    if (error != EACCES && error != EROFS && error != EPERM && error != ENOENT && error != ENOTDIR)
        return false;
    return lstat(lockPath, &st) != 0;
}

/*
** Join the queue: open the lock file (making it when there is none), take
** a ticket and hold its place.  The name is checked afterwards: a lock
** file removed meanwhile by its last job is a queue no one will serve.
*/
static enum FileLockTry JoinQueue(struct FileJob* job, struct FileLockHolder* holder,
                                  struct FileStatus* status)
{
    int fd = open(job->lockPath, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        if (error == EINTR) return kFileLockAgain;
        if (error == EACCES) return ForeignLockFile(job, holder, status, error);
        if (error == EROFS) return kFileLockNone; /* a lock file on read-only media: no one writes there */
        if (error == ENOENT) error = CreateLockFile(job);
        if (error == 0) return kFileLockAgain;
        if (NothingCanBeCreated(error, job->lockPath)) return kFileLockNone;
        return Fail(status, "cannot open or lock its lock file", job->target, error), kFileLockFailed;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Fail(status, "has a lock file that is not a regular file", job->target, 0), kFileLockFailed;
    }
    if (!RangeLock(fd, F_WRLCK, kCounterAt, 8)) { /* another job is taking its ticket */
        int error = errno;
        close(fd);
        if (error == EAGAIN || error == EACCES || error == EINTR) return kFileLockBusy;
        return Fail(status, "cannot open or lock its lock file", job->target, error), kFileLockFailed;
    }
    uint64_t ticket = 0;
    int error = ReadWords(fd, kCounterAt, &ticket, 1) ? 0 : errno;
    uint64_t next = ticket + 1, slot[2] = {(uint64_t)getpid(), FileWallMs()};
    if (error == 0 && !WriteWords(fd, kCounterAt, &next, 1)) error = errno != 0 ? errno : EIO;
    if (error == 0 && !RangeLock(fd, F_WRLCK, kPlacesAt + (off_t)ticket, 1)) error = errno;
    if (error == 0) WriteWords(fd, kSlotsAt + (off_t)(ticket % kSlots) * 16, slot, 2);
    RangeLock(fd, F_UNLCK, kCounterAt, 8);
    if (error != 0) {
        close(fd);
        return Fail(status, "cannot open or lock its lock file", job->target, error), kFileLockFailed;
    }
    if (!StillNamed(fd, job->lockPath)) {
        close(fd);
        return kFileLockAgain;
    }
    job->lock = fd;
    job->ticket = ticket;
    return kFileLockBusy;
}

/*
** What a signal handler needs to clean up after the current job, in
** static storage: the temporary's path, and the lock file's path and
** descriptor once the job holds it.  `armed` is set only after the path
** is whole, so a handler never reads one half written.
*/
enum { kCleanUpPathMax = 4352 };
struct CleanUpEntry {
    volatile sig_atomic_t armed;
    int fd;
    char path[kCleanUpPathMax];
};
static struct CleanUpEntry gTempEntry, gLockEntry;
static volatile sig_atomic_t gCleanUpInstalled;

static void Arm(struct CleanUpEntry* entry, const char* path, int fd)
{
    if (!gCleanUpInstalled) return;
    entry->armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    size_t length = strlen(path);
    if (length >= sizeof entry->path) return; /* the next job's sweep will do */
    memcpy(entry->path, path, length + 1);
    entry->fd = fd;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    entry->armed = 1;
}

static void Disarm(struct CleanUpEntry* entry)
{
    entry->armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

/*
** The holder leaves: the lock file goes while it is still held, and only
** when no other job has a place in it, so no job locks a removed file
** unawares and no queue is cut.  Async-signal-safe: the handlers call it.
*/
static void LeaveQueue(int fd, const char* lockPath)
{
    if (!OthersQueued(fd)) unlink(lockPath);
}

/*
** First in line when no place before the job's ticket is held.  Who is
** ahead is named from the holder's record when it is the holder, else
** from its slot (a job ahead that has not yet taken over).
*/
enum FileLockTry FileLockAttempt(struct FileJob* job, struct FileLockHolder* holder,
                                 struct FileStatus* status)
{
    if (job->lock < 0) {
        enum FileLockTry joined = JoinQueue(job, holder, status);
        if (job->lock < 0) return joined;
    }
    int fd = (int)job->lock;
    struct flock ahead;
    ahead.l_type = F_UNLCK;
    if (job->ticket > 0 && !RangeLock(fd, F_WRLCK, kPlacesAt, (off_t)job->ticket, &ahead))
        return Fail(status, "cannot open or lock its lock file", job->target, errno), kFileLockFailed;
    if (ahead.l_type == F_UNLCK) {
        if (!StillNamed(fd, job->lockPath)) {
            close(fd);
            job->lock = -1;
            return kFileLockAgain;
        }
        uint64_t record[3] = {(uint64_t)getpid(), job->ticket, FileWallMs()};
        WriteWords(fd, kHolderAt, record, 3);
        Arm(&gLockEntry, job->lockPath, fd);
        return kFileLockTaken;
    }
    uint64_t first = (uint64_t)(ahead.l_start - kPlacesAt), record[3], slot[2];
    holder->token = first + 1;
    if (ReadWords(fd, kHolderAt, record, 3) && record[1] == first && record[0] != 0) {
        holder->pid = (unsigned long)record[0];
        holder->sinceMs = record[2];
    } else if (ReadWords(fd, kSlotsAt + (off_t)(first % kSlots) * 16, slot, 2)) {
        holder->pid = (unsigned long)slot[0];
        holder->sinceMs = slot[1];
    }
    return kFileLockBusy;
}

/*
** A job still waiting just closes the lock file: its place goes, and the
** jobs behind it move up.
*/
void FileJobEnd(struct FileJob* job)
{
    if (job->locked) {
        Disarm(&gLockEntry);
        LeaveQueue((int)job->lock, job->lockPath);
    }
    if (job->lock >= 0) close((int)job->lock);
    free(job->target);
    free(job->lockPath);
    *job = FileJob{nullptr, nullptr, -1, 0, 0, false, 0, 0, 0};
}

/*
** The target's group (where this user may give it; otherwise the file
** keeps the user's) and then its mode, so that the replaced target stays
** writable by whom it was, whatever this process's umask and group.  The
** group goes first: a change of group clears the set-id bits.
*/
static bool TakeModeOf(int fd, const struct stat* target)
{
    if (target == nullptr) return true;
    if (fchown(fd, (uid_t)-1, target->st_gid) != 0) {
        /* the user is not in the target's group: the file gets the user's */
    }
    return fchmod(fd, target->st_mode & 07777) == 0;
}

/*
** This process's temporary, new and locked for as long as it is open, with
** the mode and group of the file it will replace.  Under the job lock the stale
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
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !TakeModeOf(fd, exists ? &st : nullptr)) {
        Fail(status, "cannot prepare its temporary", job->target, errno);
    } else {
        Arm(&gTempEntry, temp->path, fd);
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
    Disarm(&gTempEntry);
    close(fd);
    free(temp->path);
    *temp = FileTemp{nullptr, temp->target, -1, false};
    int error = SyncDirectoryOf(temp->target);
    return error == 0 || Fail(status, kFileDirectoryNotFlushed, temp->target, error);
}

void FileTempDiscard(struct FileTemp* temp)
{
    Disarm(&gTempEntry);
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
        if (FileIsTempOf(entry->d_name, base)) RemoveIfStale(dirfd(d), entry->d_name);
    }
    if (d != nullptr) closedir(d);
    free(dir);
}

/*
** The handlers run with the signal blocked: after the clean-up, the
** default disposition and a raise end the process by that signal as soon
** as the handler returns.  Only async-signal-safe calls.
*/
static void CleanUpAndDie(int signal)
{
    if (gTempEntry.armed) unlink(gTempEntry.path);
    if (gLockEntry.armed) LeaveQueue(gLockEntry.fd, gLockEntry.path);
    struct sigaction deflt;
    memset(&deflt, 0, sizeof deflt);
    deflt.sa_handler = SIG_DFL;
    sigemptyset(&deflt.sa_mask);
    sigaction(signal, &deflt, nullptr);
    raise(signal);
}

void FileJobsCleanUpOnSignals()
{
    static const int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
    gCleanUpInstalled = 1;
    struct sigaction action, old;
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    action.sa_handler = CleanUpAndDie;
    for (int s : kSignals)
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(s, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}
