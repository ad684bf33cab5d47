/*
** What file_lock.cpp asks of each platform's lock: one attempt at it, so
** that the wait itself is written once.
*/
#ifndef ORLIXDB_FILE_LOCK_PLATFORM_H
#define ORLIXDB_FILE_LOCK_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include "file_lock.h"

enum FileLockTry {
    kFileLockTaken = 0,
    kFileLockBusy,   /* another job holds it, or is ahead in the queue: *holder says who */
    kFileLockRefused, /* refused for now (Windows: a lock file being deleted): waited on
                         like Busy; if it lasts the whole bound, the status says why */
    kFileLockAgain,  /* the lock file changed under us: try again at once */
    kFileLockNone,   /* no lock file can be made: no job can write there either */
    kFileLockFailed  /* the lock file is unusable: the status says why */
};

/*
** Who keeps a waiting job out: its process id (0 unknown), since when (in
** FileWallMs; 0 unknown), and a token that changes whenever the lock
** changes hands.
*/
struct FileLockHolder {
    unsigned long pid;
    uint64_t sinceMs;
    uint64_t token;
};

/* The target of a job on `path` (POSIX: through its links); free() it. */
char* FileResolveTarget(const char* path, struct FileStatus* status);

/*
** One try at the lock of job->target, whose lock file is job->lockPath.
** Keeps its state in job->state between tries (the open lock file, the
** ticket); FileJobEnd releases it.
*/
enum FileLockTry FileLockAttempt(struct FileJob* job, struct FileLockHolder* holder,
                                 struct FileStatus* status);

#if defined(_WIN32)
/* The name of the mutex that is the place of `ticket` in the queue for `target`. */
bool FileQueuePlaceName(const char* target, uint64_t ticket, char* name, size_t size);
#else
/*
** The holder leaves: its lock file goes while it is still held, and only
** when no other job has a place in it.  Async-signal-safe: the signal
** handlers call it.
*/
void FileLockLeave(int fd, const char* lockPath);
#endif

#endif
