#include <stdio.h>
#include <stdlib.h>

#include "file_lock.h"
#include "file_lock_platform.h"
#include "file_name.h"
#include "file_replace.h"
#include "file_syscall.h"

/*
** The lock wait a caller gets with kFileLockWaitMs: long enough for any
** merge of ordinary size to finish while others queue (the bound counts
** from the last change of holder, not from the start of the wait), short
** enough that a stuck holder is reported.  ORLIX_LOCK_WAIT_MS sets
** another, for a machine whose merges are slower, or a test.
*/
static const uint32_t kLockWaitDefaultMs = 30000;

/* The longest pause between two looks at the lock. */
static const uint32_t kLockPauseMaxMs = 10;

/* The bound for kFileLockWaitMs: ORLIX_LOCK_WAIT_MS when it is a number, else the default. */
static uint32_t DefaultLockWaitMs()
{
    const char* text = getenv("ORLIX_LOCK_WAIT_MS");
    if (text == nullptr || *text < '0' || *text > '9') return kLockWaitDefaultMs;
    char* end = nullptr;
    unsigned long long ms = strtoull(text, &end, 10);
    if (*end != 0 || ms >= kFileLockWaitMs) return kLockWaitDefaultMs;
    return (uint32_t)ms;
}

/*
** The message of a job that waited in vain names the holder, so that the
** user can see which job to look at.  It lives until the next such
** message of the thread.
*/
static const char* BusyText(const struct FileLockHolder* holder)
{
    static thread_local char text[160];
    uint64_t now = FileWallMs();
    unsigned long long held = holder->sinceMs != 0 && now > holder->sinceMs
                                  ? (unsigned long long)(now - holder->sinceMs) / 1000
                                  : 0;
    if (holder->pid == 0)
        snprintf(text, sizeof text, "was locked by another job for the whole wait");
    else
        snprintf(text, sizeof text,
                 "was locked by another job for the whole wait (process %lu, holding it for %llu s)",
                 holder->pid, held);
    return text;
}

/*
** The one wait for the lock.  The bound counts from the moment the
** holder was last seen to change: a job fails only when a single holder
** kept the lock for the whole bound.  Pauses grow from 1 ms to
** kLockPauseMaxMs; on POSIX the queue, not the pauses, decides who is next.
*/
enum FileJobStart FileJobBegin(const char* path, uint32_t waitMs, struct FileJob* job,
                               struct FileStatus* status)
{
    *job = FileJob{path, nullptr, nullptr, false, nullptr};
    job->target = FileResolveTarget(path, status);
    if (job->target == nullptr) return kFileJobFailed;
    job->lockPath = FileLockPath(job->target);
    if (job->lockPath == nullptr) {
        FileJobEnd(job);
        FileFailed(status, kFileOutOfMemory, path, 0);
        return kFileJobFailed;
    }
    uint32_t bound = waitMs == kFileLockWaitMs ? DefaultLockWaitMs() : waitMs;
    uint64_t token = 0, since = 0;
    bool seen = false;
    uint32_t pause = 1;
    for (;;) {
        struct FileLockHolder holder = {0, 0, 0};
        enum FileLockTry tried = FileLockAttempt(job, &holder, status);
        if (tried == kFileLockTaken) break;
        if (tried == kFileLockNone) return kFileJobStarted;
        if (tried == kFileLockFailed) {
            FileJobEnd(job);
            return kFileJobFailed;
        }
        if (tried == kFileLockAgain) continue;
        uint64_t now = FileClockMs();
        if (!seen || holder.token != token) {
            seen = true;
            token = holder.token;
            since = now;
            pause = 1;
        } else if (now - since >= bound) {
            if (tried != kFileLockRefused) FileFailed(status, BusyText(&holder), path, 0);
            FileJobEnd(job);
            return tried == kFileLockRefused ? kFileJobFailed : kFileJobBusy;
        }
        uint64_t left = bound - (now - since);
        FilePauseMs(left < pause ? (uint32_t)left : pause);
        pause = pause * 2 < kLockPauseMaxMs ? pause * 2 : kLockPauseMaxMs;
    }
    job->locked = true;
    FileRemoveStaleTemps(job->target);
    return kFileJobStarted;
}
