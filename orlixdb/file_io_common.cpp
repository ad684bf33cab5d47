#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "file_io.h"
#include "file_io_platform.h"

const char kFileTempMarker[] = ".orlixdb-tmp.";
const char kFileLockSuffix[] = ".orlixdb-lock";
const char kFileDirectoryNotFlushed[] = "was replaced, but its directory could not be flushed";

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

/*
** The pauses between attempts that another program's handle refused:
** nine attempts over 1.975 s of pauses.
*/
static const uint32_t kShareRetryPauses[] = {25, 50, 100, 200, 400, 400, 400, 400};

/*
** File systems take names of up to 255 bytes.  The longest suffix is the
** temporary's: the marker and a 64-bit process id in decimal.  A longer
** base name keeps its first bytes, then '~' and 16 hex digits of a hash
** of the whole name, so that distinct long names keep distinct files.
*/
enum {
    kNameMax = 255,
    kStemMax = kNameMax - (sizeof kFileTempMarker - 1) - 20,
    kStemHashDigits = 16,
    kStemKept = kStemMax - 1 - kStemHashDigits
};

/* FNV-1a, 64 bits, over the whole base name. */
static uint64_t NameHash(const char* name, size_t length)
{
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < length; i++) h = (h ^ (uint8_t)name[i]) * 1099511628211ull;
    return h;
}

/* The stem of base name `base` in stem[kStemMax + 1]: the name, or its shortened form. */
static size_t NameStem(const char* base, size_t length, char* stem)
{
    if (length <= kStemMax) {
        memcpy(stem, base, length);
        stem[length] = 0;
        return length;
    }
    memcpy(stem, base, kStemKept);
    snprintf(stem + kStemKept, kStemMax + 1 - kStemKept, "~%016llx",
             (unsigned long long)NameHash(base, length));
    return kStemMax;
}

/* `path` with its base name's stem, then `suffix`; free() it. */
static char* StemPath(const char* path, const char* suffix)
{
    const char* base = FileBaseName(path);
    size_t dir = (size_t)(base - path), extra = strlen(suffix);
    char stem[kStemMax + 1];
    size_t length = NameStem(base, strlen(base), stem);
    char* result = (char*)malloc(dir + length + extra + 1);
    if (result == nullptr) return nullptr;
    memcpy(result, path, dir);
    memcpy(result + dir, stem, length);
    memcpy(result + dir + length, suffix, extra + 1);
    return result;
}

char* FileTempPath(const char* path, unsigned long id)
{
    char suffix[sizeof kFileTempMarker + 20];
    snprintf(suffix, sizeof suffix, "%s%lu", kFileTempMarker, id);
    return StemPath(path, suffix);
}

char* FileLockPath(const char* path) { return StemPath(path, kFileLockSuffix); }

bool FileIsTempOf(const char* name, const char* base)
{
    char stem[kStemMax + 1];
    size_t length = NameStem(base, strlen(base), stem), marker = sizeof kFileTempMarker - 1;
    if (strncmp(name, stem, length) != 0) return false;
    if (strncmp(name + length, kFileTempMarker, marker) != 0) return false;
    const char* id = name + length + marker;
    if (*id == 0) return false;
    for (; *id != 0; id++)
        if (*id < '0' || *id > '9') return false;
    return true;
}

const char* FileBaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p != 0; p++) {
#if defined(_WIN32)
        if (*p == '\\') base = p + 1;
#endif
        if (*p == '/') base = p + 1;
    }
    return base;
}

bool FileShareRetryPause(size_t* attempt)
{
    if (*attempt >= sizeof kShareRetryPauses / sizeof *kShareRetryPauses) return false;
    FilePauseMs(kShareRetryPauses[(*attempt)++]);
    return true;
}

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
    *job = FileJob{nullptr, nullptr, -1, 0, 0, false, 0, 0, 0};
    job->target = FileResolveTarget(path, status);
    if (job->target == nullptr) return kFileJobFailed;
    job->lockPath = FileLockPath(job->target);
    if (job->lockPath == nullptr) {
        FileJobEnd(job);
        if (status != nullptr) *status = FileStatus{"out of memory", path, 0};
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
            if (status != nullptr && status->path == job->target) status->path = path;
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
            if (status != nullptr && tried == kFileLockRefused && status->path == job->target)
                status->path = path;
            else if (status != nullptr)
                *status = FileStatus{BusyText(&holder), path, 0};
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

bool FileJobReplace(const struct FileJob* job, const uint8_t* data, size_t size,
                    struct FileStatus* status)
{
    struct FileTemp temp;
    if (!FileTempCreate(job, &temp, status)) return false;
    if (!FileTempWrite(&temp, data, size, status)) {
        FileTempDiscard(&temp);
        return false;
    }
    return FileTempCommit(&temp, status);
}

/*
** The status may name the job's resolved target, which goes with the job;
** it then names the path as the caller gave it.
*/
bool FileReplace(const char* path, const uint8_t* data, size_t size, struct FileStatus* status)
{
    struct FileJob job;
    if (FileJobBegin(path, kFileLockWaitMs, &job, status) != kFileJobStarted) return false;
    bool replaced = FileJobReplace(&job, data, size, status);
    if (status != nullptr && status->path == job.target) status->path = path;
    FileJobEnd(&job);
    return replaced;
}
