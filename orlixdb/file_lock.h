/*
** The job lock: one job at a time on a target.  A job runs like this:
**
**     FileJobBegin    take the target's lock (waiting a bounded time), and
**                     remove the temporaries of killed runs
**     FileReadWhole   read the target and whatever else the job needs
**     FileJobReplace  put the new bytes in place (file_replace.h)
**     FileJobEnd      release the lock
**
** Jobs on one target queue on its lock, so each reads what the previous one
** wrote and no job's work is lost.  docs/reliability.md states the rules
** with their tests.
*/
#ifndef ORLIXDB_FILE_LOCK_H
#define ORLIXDB_FILE_LOCK_H

#include <stdint.h>

#include "file_status.h"

/*
** The wait bound that stands for the default one: a caller passing it
** waits as file_lock.cpp says (kLockWaitDefaultMs there, or the
** ORLIX_LOCK_WAIT_MS environment variable).  Any other value is a bound
** in milliseconds.  The bound is the time one holder may keep the lock
** with no progress: a queue moving at any pace is waited on.
*/
enum : uint32_t { kFileLockWaitMs = 0xFFFFFFFFu };

/* The platform's lock: its open lock file, its place in the queue. */
struct FileLockState;

/*
** A target held for one job.  `path` is the caller's, named in every
** status the job reports.  `target` is the file the job works on: `path`
** or, when it names a symbolic link, the file the link leads to, so that
** the link stays a link and the file it names is what gets replaced.
** `locked` is false only where no lock file can be created beside the
** target (a read-only or missing directory): there no run can write
** either, so the job goes on and can at most read.
*/
struct FileJob {
    const char* path;
    char* target;
    char* lockPath;
    bool locked;
    struct FileLockState* state;
};

enum FileJobStart {
    kFileJobStarted = 0,
    kFileJobBusy,   /* one holder kept the lock for all of waitMs; the status names it */
    kFileJobFailed  /* the target or its lock file is unusable; see the status */
};

/*
** Start a job on `path`: resolve a link, take the target's lock (the file
** FileLockPath names), waiting for the jobs ahead, and then remove the
** temporaries that killed runs left.  The job fails with kFileJobBusy only
** when one holder kept the lock for all of waitMs without letting go;
** while the lock changes hands the job waits on.  On anything but
** kFileJobStarted the job holds nothing and needs no FileJobEnd.  `path`
** must outlive the job.
**
** On POSIX the lock file is a queue: each job takes a ticket in it and
** jobs are served in the order of their tickets; their places are
** byte-range locks of the open file description, so they die with their
** holder and a killed job never blocks the next one.  On Windows the lock
** is the lock file open without sharing.  Either way the lock file can
** be opened by whoever may write the target, whatever the creator's
** umask, and the last job out removes it.  A child made by fork shares
** the lock it finds held; one started by exec does not.
*/
enum FileJobStart FileJobBegin(const char* path, uint32_t waitMs, struct FileJob* job,
                               struct FileStatus* status);

/* Release the lock and everything FileJobBegin allocated. */
void FileJobEnd(struct FileJob* job);

#endif
