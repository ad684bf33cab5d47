#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_name.h"
#include "file_replace.h"
#include "file_signals.h"
#include "file_syscall.h"

/* Flush the directory holding `path`, so that a rename in it survives a power loss. */
static int SyncDirectoryOf(const char* path)
{
    char* dir = FileDirectoryOf(path);
    if (dir == nullptr) return ENOMEM;
    int fd = SYS(openat, AT_FDCWD, dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    int error = fd < 0 ? errno : 0;
    free(dir);
    if (fd < 0) return error;
    if (SYS(fsync, fd) != 0) error = errno;
    gFileCalls.close(fd);
    return error;
}

bool FileJobKeep(const struct FileJob* job, struct FileStatus* status)
{
    int fd = SYS(openat, AT_FDCWD, job->target, O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0 && errno == ENOENT) return true;
    if (fd < 0) return FileFailed(status, kFileCannotOpen, job->path, errno);
    int error = SYS(fsync, fd) != 0 ? errno : 0;
    gFileCalls.close(fd);
    if (error == 0) error = SyncDirectoryOf(job->target);
    return error == 0 || FileFailed(status, kFileNotFlushed, job->path, error);
}

/*
** The target's owner (as root) and group (where this user may give it;
** otherwise the file keeps the user's) and then its mode, so that the
** replaced target stays the editor's and writable by whom it was,
** whatever this process's user, umask and group.  The owner and group go
** first: a change of either clears the set-id bits.
*/
static bool TakeModeOf(int fd, const struct stat* target)
{
    if (target == nullptr) return true;
    uid_t owner = geteuid() == 0 ? target->st_uid : (uid_t)-1;
    if (SYS(fchown, fd, owner, target->st_gid) != 0) {
        /* the user is not in the target's group: the file gets the user's */
    }
    return SYS(fchmod, fd, target->st_mode & 07777) == 0;
}

/*
** This process's temporary, new and locked for as long as it is open, with
** the owner, mode and group of the file it will replace.  Under the job
** lock the stale temporaries are gone, so the name is free unless
** something that is no regular file holds it; that is refused, not
** removed.  So is a target that is not a regular file (a device or FIFO
** replaced by a file is no one's intent) and one its user may not write
** (a write-protected file is not replaced behind its protection; root
** may, as it may write it).
*/
bool FileTempCreate(const struct FileJob* job, struct FileTemp* temp, struct FileStatus* status)
{
    *temp = FileTemp{nullptr, job, -1, false};
    struct stat st;
    bool exists = SYS(fstatat, AT_FDCWD, job->target, &st, 0) == 0;
    if (exists && !S_ISREG(st.st_mode)) return FileFailed(status, FileNotRegularText(st.st_mode), job->path, 0);
    if (exists && SYS(faccessat, AT_FDCWD, job->target, W_OK, AT_EACCESS) != 0)
        return FileFailed(status, kFileNotWritable, job->path, errno);
    temp->path = FileTempPath(job->target, (unsigned long)getpid());
    if (temp->path == nullptr) return FileFailed(status, kFileOutOfMemory, job->path, ENOMEM);
    int fd = SYS(openat, AT_FDCWD, temp->path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        FileFailed(status, kFileTempNotCreated, job->path, errno);
        free(temp->path);
        temp->path = nullptr;
        return false;
    }
    temp->handle = fd;
    if (SYS(flock, fd, LOCK_EX | LOCK_NB) != 0 || !TakeModeOf(fd, exists ? &st : nullptr)) {
        FileFailed(status, "cannot prepare its temporary", job->path, errno);
    } else {
        FileCleanUpTemp(temp->path, fd);
        return true;
    }
    FileTempDiscard(temp);
    return false;
}

bool FileTempWrite(struct FileTemp* temp, const void* data, size_t size, struct FileStatus* status)
{
    if (temp->failed) return false;
    int error = FileWriteAll((int)temp->handle, data, size);
    if (error == 0) return true;
    temp->failed = true;
    return FileFailed(status, kFileTempNotWritten, temp->job->path, error);
}

/*
** The temporary stays open, and so locked, until it has been renamed, so
** no other run takes it for stale while it matters.
*/
bool FileTempCommit(struct FileTemp* temp, struct FileStatus* status)
{
    if (temp->failed) return FileTempDiscard(temp), false;
    const struct FileJob* job = temp->job;
    int fd = (int)temp->handle;
    if (SYS(fsync, fd) != 0) {
        FileFailed(status, kFileTempNotFlushed, job->path, errno);
        return FileTempDiscard(temp), false;
    }
    if (SYS(rename, temp->path, job->target) != 0) {
        FileFailed(status, kFileNotReplaced, job->path, errno);
        return FileTempDiscard(temp), false;
    }
    FileCleanUpTemp(nullptr, 0);
    gFileCalls.close(fd);
    free(temp->path);
    *temp = FileTemp{nullptr, job, -1, false};
    int error = SyncDirectoryOf(job->target);
    return error == 0 || FileFailed(status, kFileDirectoryNotFlushed, job->path, error);
}

void FileTempDiscard(struct FileTemp* temp)
{
    FileCleanUpTemp(nullptr, 0);
    if (temp->path != nullptr) SYS(unlinkat, AT_FDCWD, temp->path, 0);
    if (temp->handle >= 0) gFileCalls.close((int)temp->handle);
    free(temp->path);
    *temp = FileTemp{nullptr, temp->job, -1, false};
}

bool FileRemoveIfStale(int dir, const char* name)
{
    struct stat named, opened;
    if (SYS(fstatat, dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) return false;
    int fd = SYS(openat, dir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) return false;
    bool removed = SYS(fstat, fd, &opened) == 0 && opened.st_dev == named.st_dev &&
                   opened.st_ino == named.st_ino && SYS(flock, fd, LOCK_EX | LOCK_NB) == 0 &&
                   SYS(unlinkat, dir, name, 0) == 0;
    gFileCalls.close(fd);
    return removed;
}

/*
** A temporary nobody holds a lock on belongs to a run that is gone.  Only
** regular files are opened, without following links and without waiting,
** and only the one that was looked at is removed.
*/
void FileRemoveStaleTemps(const char* path)
{
    char* dir = FileDirectoryOf(path);
    DIR* d = dir != nullptr ? opendir(dir) : nullptr;
    const char* base = FileBaseName(path);
    while (d != nullptr) {
        struct dirent* entry = readdir(d);
        if (entry == nullptr) break;
        if (FileIsTempOf(entry->d_name, base)) FileRemoveIfStale(dirfd(d), entry->d_name);
    }
    if (d != nullptr) closedir(d);
    free(dir);
}
