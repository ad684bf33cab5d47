#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_lock_platform.h"
#include "file_name.h"
#include "file_replace.h"
#include "file_signals.h"
#include "file_syscall.h"
#include "fnv1a.h"

/* The open lock file (-1 before the job joins the queue) and the job's ticket in it. */
struct FileLockState {
    int fd;
    uint64_t ticket;
};

/*
** The file the job works on: `path` itself, or, when `path` is a symbolic
** link, the file it leads to (through any chain of links), so the link
** survives the replace.  A link to nothing is refused: where the new file
** should go is then a guess.
*/
char* FileResolveTarget(const char* path, struct FileStatus* status)
{
    struct stat st;
    bool link = SYS(fstatat, AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    char* real = link ? realpath(path, nullptr) : strdup(path);
    if (real == nullptr)
        FileFailed(status, link ? "is a link that leads nowhere" : kFileOutOfMemory, path, errno);
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
    bool done = SYS(fcntl, fd, found != nullptr ? kGetLock : kSetLock, &lock) == 0;
    if (found != nullptr) *found = lock;
    return done;
}

/* Whether a job other than the caller has a place in the queue. */
static bool OthersQueued(int fd)
{
    struct flock found;
    return !RangeLock(fd, F_WRLCK, kPlacesAt, 0, &found) || found.l_type != F_UNLCK;
}

/* Whether `path` still names the file open as fd: a job removes the lock file as it leaves. */
static bool StillNamed(int fd, const char* path)
{
    struct stat held, named;
    return SYS(fstat, fd, &held) == 0 &&
           SYS(fstatat, AT_FDCWD, path, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
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
    char* path = FileDirectoryOf(target);
    bool hasFile = SYS(fstatat, AT_FDCWD, target, &file, 0) == 0;
    bool hasDir = path != nullptr && SYS(fstatat, AT_FDCWD, path, &dir, 0) == 0;
    free(path);
    mode_t bits = (hasFile ? file.st_mode & 0666 : 0) | (hasDir ? dir.st_mode & 0022 : 0);
    *mode = 0600 | bits | (bits & 0022) << 1;
    *group = hasFile && (file.st_mode & 0020) ? file.st_gid
             : hasDir && (dir.st_mode & 0020) ? dir.st_gid
                                              : (gid_t)-1;
}

/*
** Make the lock file so that it appears under its name only with its
** final mode: made under a temporary name of this process (one its
** temporaries of data never take: the process id with the top bit of 32
** set), locked against other jobs' sweeps, given its mode and group,
** then linked into place, and kept open: the job that made it uses it
** without opening it again.  A job killed before the link leaves a
** temporary, which the next job sweeps.  Returns the open lock file, or
** -1 with *error 0 (look again: another job made it first, or it was
** swept before its flock) or an errno.
*/
static int CreateLockFile(const struct FileJob* job, int* error)
{
    char* made = FileTempPath(job->target, 0x80000000ul | (unsigned long)getpid());
    if (made == nullptr) return *error = ENOMEM, -1;
    int fd = SYS(openat, AT_FDCWD, made, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    *error = fd < 0 ? errno : 0;
    if (*error == EEXIST && FileRemoveIfStale(AT_FDCWD, made)) *error = 0; /* a gone process had our number */
    bool linked = false;
    if (fd >= 0) {
        mode_t mode;
        gid_t group;
        LockFileAccess(job->target, &mode, &group);
        if (group != (gid_t)-1 && SYS(fchown, fd, (uid_t)-1, group) != 0) {
            /* not a member of the target's group: the mode still serves the rest */
        }
        if (SYS(flock, fd, LOCK_EX | LOCK_NB) != 0 || SYS(fchmod, fd, mode) != 0)
            *error = errno;
        else if (SYS(link, made, job->lockPath) == 0)
            linked = true;
        else if (errno != EEXIST)
            *error = errno;
        if (*error == ENOENT) *error = 0;
        SYS(unlinkat, AT_FDCWD, made, 0);
        if (!linked) gFileCalls.close(fd);
    }
    free(made);
    return linked ? fd : -1;
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
    int fd = SYS(openat, AT_FDCWD, job->lockPath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) return FileFailed(status, kFileLockUnusable, job->path, error), kFileLockFailed;
    enum FileLockTry tried = kFileLockAgain;
    uint64_t record[3];
    if (!OthersQueued(fd)) {
        if (StillNamed(fd, job->lockPath) && SYS(unlinkat, AT_FDCWD, job->lockPath, 0) != 0) {
            FileFailed(status, kFileLockUnusable, job->path, error);
            tried = kFileLockFailed;
        }
    } else if (FileReadAt(fd, record, sizeof record, kHolderAt) == 0) {
        *holder = FileLockHolder{(unsigned long)record[0], record[2], record[1] + 1};
        tried = kFileLockBusy;
    }
    gFileCalls.close(fd);
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
    return SYS(fstatat, AT_FDCWD, lockPath, &st, AT_SYMLINK_NOFOLLOW) != 0;
}

/*
** The ticket counter as the job may trust it: the lock file is never
** trusted after a crash.  When no job has a place in the queue, no
** ticket is out, so the count starts again at 0 (a power cut can leave
** anything in the file, and a count that only grows would one day leave
** the range of a lock offset).  A count out of range while others wait
** is damage no job can serve; it is never handed to fcntl.
*/
static const uint64_t kTicketLimit = (uint64_t)kPlacesAt;

static int TakeTicket(int fd, uint64_t* ticket)
{
    int error = FileReadAt(fd, ticket, sizeof *ticket, kCounterAt);
    if (error != 0) return error;
    if (!OthersQueued(fd)) *ticket = 0;
    else if (*ticket >= kTicketLimit) return EINVAL;
    uint64_t next = *ticket + 1;
    return FileWriteAt(fd, &next, sizeof next, kCounterAt);
}

/*
** A lock file this job cannot use goes again when no one else is queued
** in it (a full disk, a quota, EIO), so that a failed job leaves nothing.
*/
static enum FileLockTry Unusable(const struct FileJob* job, int fd, struct FileStatus* status,
                                 int error)
{
    if (!OthersQueued(fd) && StillNamed(fd, job->lockPath)) SYS(unlinkat, AT_FDCWD, job->lockPath, 0);
    gFileCalls.close(fd);
    return FileFailed(status, kFileLockUnusable, job->path, error), kFileLockFailed;
}

/*
** Join the queue: open the lock file (making it when there is none), take
** a ticket and hold its place.  The name is checked afterwards: a lock
** file removed meanwhile by its last job is a queue no one will serve.
*/
static enum FileLockTry JoinQueue(struct FileJob* job, struct FileLockHolder* holder,
                                  struct FileStatus* status)
{
    int fd = SYS(openat, AT_FDCWD, job->lockPath, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    int error = fd < 0 ? errno : 0;
    if (error == EACCES) return ForeignLockFile(job, holder, status, error);
    if (error == ENOENT) fd = CreateLockFile(job, &error);
    if (fd < 0) {
        if (error == 0) return kFileLockAgain;
        if (error == EROFS) return kFileLockNone; /* a lock file on read-only media: no one writes there */
        if (NothingCanBeCreated(error, job->lockPath)) return kFileLockNone;
        return FileFailed(status, kFileLockUnusable, job->path, error), kFileLockFailed;
    }
    struct stat st;
    if (SYS(fstat, fd, &st) != 0) return Unusable(job, fd, status, errno);
    if (!S_ISREG(st.st_mode)) {
        gFileCalls.close(fd);
        return FileFailed(status, kFileLockNotRegular, job->path, 0), kFileLockFailed;
    }
    if (!RangeLock(fd, F_WRLCK, kCounterAt, 8)) { /* another job is taking its ticket */
        if (errno != EAGAIN && errno != EACCES) return Unusable(job, fd, status, errno);
        gFileCalls.close(fd);
        return kFileLockBusy;
    }
    uint64_t ticket = 0, slot[2] = {(uint64_t)getpid(), FileWallMs()};
    error = TakeTicket(fd, &ticket);
    if (error == 0 && !RangeLock(fd, F_WRLCK, kPlacesAt + (off_t)ticket, 1)) error = errno;
    if (error != 0) return Unusable(job, fd, status, error);
    FileWriteAt(fd, slot, sizeof slot, kSlotsAt + (off_t)(ticket % kSlots) * 16);
    RangeLock(fd, F_UNLCK, kCounterAt, 8);
    if (!StillNamed(fd, job->lockPath)) {
        gFileCalls.close(fd);
        return kFileLockAgain;
    }
    job->state->fd = fd;
    job->state->ticket = ticket;
    return kFileLockBusy;
}

void FileLockLeave(int fd, const char* lockPath)
{
    if (!OthersQueued(fd)) SYS(unlinkat, AT_FDCWD, lockPath, 0);
}

/*
** First in line when no place before the job's ticket is held.  Who is
** ahead is named from the holder's record when it is the holder, else
** from its slot (a job ahead that has not yet taken over).  fcntl names
** any one place ahead, not always the holder's, so the token that tells
** a waiting job the lock changed hands takes in the holder's record,
** which every new holder writes.
*/
enum FileLockTry FileLockAttempt(struct FileJob* job, struct FileLockHolder* holder,
                                 struct FileStatus* status)
{
    if (job->state == nullptr) {
        job->state = (struct FileLockState*)malloc(sizeof *job->state);
        if (job->state == nullptr) return FileFailed(status, kFileOutOfMemory, job->path, ENOMEM), kFileLockFailed;
        *job->state = FileLockState{-1, 0};
    }
    struct FileLockState* lock = job->state;
    if (lock->fd < 0) {
        enum FileLockTry joined = JoinQueue(job, holder, status);
        if (lock->fd < 0) return joined;
    }
    struct flock ahead;
    ahead.l_type = F_UNLCK;
    if (lock->ticket > 0 && !RangeLock(lock->fd, F_WRLCK, kPlacesAt, (off_t)lock->ticket, &ahead))
        return FileFailed(status, kFileLockUnusable, job->path, errno), kFileLockFailed;
    if (ahead.l_type == F_UNLCK) {
        if (!StillNamed(lock->fd, job->lockPath)) {
            gFileCalls.close(lock->fd);
            lock->fd = -1;
            return kFileLockAgain;
        }
        uint64_t record[3] = {(uint64_t)getpid(), lock->ticket, FileWallMs()};
        FileWriteAt(lock->fd, record, sizeof record, kHolderAt);
        FileCleanUpLock(job->lockPath, lock->fd);
        return kFileLockTaken;
    }
    uint64_t first = (uint64_t)(ahead.l_start - kPlacesAt), record[3], slot[2];
    bool recorded = FileReadAt(lock->fd, record, sizeof record, kHolderAt) == 0;
    holder->token = (first + 1) ^ (recorded ? Fnv1a(kFnv1aStart, record, sizeof record) : 0);
    if (recorded && record[1] == first && record[0] != 0) {
        holder->pid = (unsigned long)record[0];
        holder->sinceMs = record[2];
    } else if (FileReadAt(lock->fd, slot, sizeof slot, kSlotsAt + (off_t)(first % kSlots) * 16) == 0) {
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
    if (job->state != nullptr) {
        if (job->locked) {
            FileCleanUpLock(nullptr, 0);
            FileLockLeave(job->state->fd, job->lockPath);
        }
        if (job->state->fd >= 0) gFileCalls.close(job->state->fd);
    }
    free(job->state);
    free(job->target);
    free(job->lockPath);
    *job = FileJob{nullptr, nullptr, nullptr, false, nullptr};
}
